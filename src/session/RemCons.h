// CRemCons, the embeddable console control: its 24 named properties (storage, defaults,
// validation), the loading of those properties by name, and its four events.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "session/PropertyBag.h"

namespace remcons {

// Result codes of the control's interface methods, with the values the platform gives them.
using HRESULT = int32_t;
inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003u);
inline constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000Eu);

// A text crossing the control's interface: UTF-8 on Linux.
using BSTR = std::string;

enum class PropertyType { kText, kU8, kU16, kU32 };

struct PropertyInfo {
  const char* name;
  int32_t dispid;
  PropertyType type;
};

// The properties in interface order; DISPIDs 1 to 24.
inline constexpr PropertyInfo kRemConsProperties[] = {
    {"target", 1, PropertyType::kText},       {"port", 2, PropertyType::kU16},
    {"height", 3, PropertyType::kU16},        {"width", 4, PropertyType::kU16},
    {"fullScreen", 5, PropertyType::kU16},    {"vmKey", 6, PropertyType::kText},
    {"vmPort", 7, PropertyType::kU16},        {"serverName", 8, PropertyType::kText},
    {"login", 9, PropertyType::kText},        {"encryption", 10, PropertyType::kU16},
    {"decryptKey", 11, PropertyType::kText},  {"encryptKey", 12, PropertyType::kText},
    {"keyIndex", 13, PropertyType::kU32},     {"mouseMode", 14, PropertyType::kU8},
    {"timeout", 15, PropertyType::kU32},      {"uniqueFeatures", 16, PropertyType::kU32},
    {"muMode", 17, PropertyType::kU32},       {"muServer", 18, PropertyType::kText},
    {"muPort", 19, PropertyType::kU16},       {"kbdMode", 20, PropertyType::kU16},
    {"screenCapture", 21, PropertyType::kU8}, {"clientCapture", 22, PropertyType::kU8},
    {"autoExport", 23, PropertyType::kU8},    {"scrPort", 24, PropertyType::kU16},
};

// The events (the control's outgoing interface) and their DISPIDs.
struct EventInfo {
  const char* name;
  int32_t dispid;
};
inline constexpr EventInfo kRemConsEvents[] = {
    {"OnShutdown", 0}, {"OnResize", 1}, {"OnStatus", 2}, {"OnDialog", 3}};

// An event sink of the control (the "_IRemConsEv" interface; a leading underscore and capital
// is reserved in C++). Every connected sink receives every event.
class IRemConsEv {
 public:
  virtual ~IRemConsEv() = default;
  virtual void OnShutdown() = 0;
  virtual void OnResize(int32_t cx, int32_t cy) = 0;
  virtual void OnStatus(const std::string& status) = 0;
  virtual void OnDialog(const std::string& status) = 0;
};

// The stored state behind the properties, with the defaults of a new control. Texts are
// zero-terminated in their 256-byte fields.
struct RemConsProperties {
  static constexpr size_t kTextSize = 256;

  uint32_t cx = 0;  // the control's extent ("_cx", "_cy")
  uint32_t cy = 0;
  char target[kTextSize] = {};
  uint16_t port = 23;
  uint32_t height = 1024;
  uint32_t width = 1280;
  uint8_t fullScreen = 1;
  uint8_t vmKey[32] = {};  // the first 16 bytes hold the parsed key
  uint8_t vmNotAuthorized = 0;
  uint16_t vmPort = 0;
  char serverName[kTextSize] = {};
  char login[kTextSize] = {};
  uint8_t encryption = 0;
  uint8_t decryptKey[16] = {};
  uint8_t encryptKey[16] = {};
  uint32_t keyIndex = 0;
  uint32_t mouseMode = 0;
  uint32_t timeout = 15;
  uint32_t uniqueFeatures = 0;
  uint32_t muMode = 0;
  char muServer[kTextSize] = {};
  uint16_t muPort = 9300;
  uint16_t kbdMode = 0;
  uint8_t screenCapture = 0;
  uint8_t clientCapture = 0;
  uint8_t autoExport = 0;
  uint16_t scrPort = 0;
};

// The value of vmKey that marks virtual media as not authorized for the session.
inline constexpr std::string_view kVmKeyRefused = "VMKEYREFUSEDQQQQQQQQQQQQQQQQQQQQ";

class CRemCons {
 public:
  CRemCons() = default;
  virtual ~CRemCons();
  CRemCons(const CRemCons&) = delete;
  CRemCons& operator=(const CRemCons&) = delete;

  // --- Properties. A put that refuses its value returns S_FALSE and changes nothing. ---
  HRESULT get_target(BSTR* value);
  HRESULT put_target(std::string_view value);
  HRESULT get_port(uint16_t* value);
  HRESULT put_port(uint16_t value);
  HRESULT get_height(uint16_t* value);
  HRESULT put_height(uint16_t value);
  HRESULT get_width(uint16_t* value);
  HRESULT put_width(uint16_t value);
  HRESULT get_fullScreen(uint16_t* value);
  HRESULT put_fullScreen(uint16_t value);
  HRESULT get_vmKey(BSTR* value);
  HRESULT put_vmKey(std::string_view value);
  HRESULT get_vmPort(uint16_t* value);
  HRESULT put_vmPort(uint16_t value);
  HRESULT get_serverName(BSTR* value);
  HRESULT put_serverName(std::string_view value);
  HRESULT get_login(BSTR* value);
  HRESULT put_login(std::string_view value);
  HRESULT get_encryption(uint16_t* value);
  HRESULT put_encryption(uint16_t value);
  HRESULT get_decryptKey(BSTR* value);
  HRESULT put_decryptKey(std::string_view value);
  HRESULT get_encryptKey(BSTR* value);
  HRESULT put_encryptKey(std::string_view value);
  HRESULT get_keyIndex(uint32_t* value);
  HRESULT put_keyIndex(uint32_t value);
  HRESULT get_mouseMode(uint8_t* value);
  HRESULT put_mouseMode(uint8_t value);
  HRESULT get_timeout(uint32_t* value);
  HRESULT put_timeout(uint32_t value);
  HRESULT get_uniqueFeatures(uint32_t* value);
  HRESULT put_uniqueFeatures(uint32_t value);
  HRESULT get_muMode(uint32_t* value);
  HRESULT put_muMode(uint32_t value);
  HRESULT get_muServer(BSTR* value);
  HRESULT put_muServer(std::string_view value);
  HRESULT get_muPort(uint16_t* value);
  HRESULT put_muPort(uint16_t value);
  HRESULT get_kbdMode(uint16_t* value);
  HRESULT put_kbdMode(uint16_t value);
  HRESULT get_screenCapture(uint8_t* value);
  HRESULT put_screenCapture(uint8_t value);
  HRESULT get_clientCapture(uint8_t* value);
  HRESULT put_clientCapture(uint8_t value);
  HRESULT get_autoExport(uint8_t* value);
  HRESULT put_autoExport(uint8_t value);
  HRESULT get_scrPort(uint16_t* value);
  HRESULT put_scrPort(uint16_t value);

  // --- Loading by name ---
  // Sets one property from its text form through its put method. Numbers are decimal or 0x-hex;
  // a value that is not a number of the property's type is refused (S_FALSE, trace line). An
  // unknown name returns S_FALSE and changes nothing.
  HRESULT PutByName(std::string_view name, std::string_view value);
  // Loads "_cx", "_cy" and the 24 properties, in that order, from the values the bag holds
  // (names compared without regard to case; the first of repeated names counts). Names missing
  // from the bag leave their properties alone. S_OK when every value found was accepted, else
  // S_FALSE.
  HRESULT Load(const PropertyBag& bag);

  // At window creation: when the hosting page's location has a dotted IPv4 address as its host,
  // that address becomes the target. Returns true when target was replaced.
  bool ApplyPageHost(std::string_view location);

  // --- Events ---
  // Connects a sink (not owned; it must be disconnected before it goes away). Returns a cookie
  // for Unadvise, never 0.
  uint32_t Advise(IRemConsEv* sink);
  bool Unadvise(uint32_t cookie);
  void FireOnShutdown();
  // With the stored width and height.
  void FireOnResize();
  // With the status line (StatusLine).
  void FireOnStatus();
  // With the status text.
  void FireOnDialog();

  // The status texts of the session (at most 255 bytes each, cut at a character boundary).
  void StoreStatusText(std::string_view text);
  void StoreStatusText2(std::string_view text);
  std::string StatusText() const;
  std::string StatusText2() const;
  // "%dx%d | %s | %s" (width, height, status text, second status text) in a multi-user session,
  // "%dx%d | %s" otherwise; at most 255 bytes.
  std::string StatusLine() const;

  // The stored values, as the session reads them.
  const RemConsProperties& Properties() const { return props_; }

 protected:
  RemConsProperties props_;
  mutable std::mutex statusMutex_;  // the console thread writes the status texts
  char statusText_[RemConsProperties::kTextSize] = {};
  char statusText2_[RemConsProperties::kTextSize] = {};

 private:
  HRESULT PutNumber(const PropertyInfo& info, uint32_t value);

  std::mutex sinksMutex_;
  std::vector<std::pair<uint32_t, IRemConsEv*>> sinks_;
  uint32_t nextCookie_ = 1;
};

// --- Helpers shared with the hosts ---

// Copies text into a zero-terminated field of fieldSize bytes: it stops at an embedded zero and
// keeps at most fieldSize - 1 bytes, cut so that no UTF-8 character is split.
void CopyTextField(char* field, size_t fieldSize, std::string_view text);
// The longest prefix of text of at most maxBytes bytes that ends on a UTF-8 character boundary.
std::string_view Utf8Prefix(std::string_view text, size_t maxBytes);

}  // namespace remcons
