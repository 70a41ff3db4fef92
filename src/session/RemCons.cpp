#include "session/RemCons.h"

#include <string.h>  // explicit_bzero

#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <new>

#include "platform/Hex.h"
#include "platform/Trace.h"

namespace remcons {
namespace {

// The text as the stored form sees it: up to an embedded zero.
std::string_view AsStored(std::string_view text) {
  return text.substr(0, text.find('\0'));
}

// A key property as stored: up to an embedded zero, read tolerantly.
bool ParseStoredKey(std::string_view text, uint8_t* key) {
  return ParseHexKeyTolerant(AsStored(text), key);
}

HRESULT GetText(const char* field, BSTR* value) {
  if (!value) return E_POINTER;
  try {
    *value = BSTR(field);  // not assign(): GCC 12 at -O3 misreads it as an overlapping copy
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

template <typename T, typename U>
HRESULT GetNumber(U stored, T* value) {
  if (!value) return E_POINTER;
  *value = static_cast<T>(stored);
  return S_OK;
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t n = 0; n < a.size(); ++n) {
    if (std::tolower(static_cast<unsigned char>(a[n])) !=
        std::tolower(static_cast<unsigned char>(b[n]))) {
      return false;
    }
  }
  return true;
}

const std::string* FindInBag(const PropertyBag& bag, std::string_view name) {
  for (const auto& [n, value] : bag) {
    if (EqualsIgnoreCase(n, name)) return &value;
  }
  return nullptr;
}

}  // namespace

std::string_view Utf8Prefix(std::string_view text, size_t maxBytes) {
  if (text.size() <= maxBytes) return text;
  size_t cut = maxBytes;
  // Step back over continuation bytes so the cut falls before a character's first byte.
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  return text.substr(0, cut);
}

void CopyTextField(char* field, size_t fieldSize, std::string_view text) {
  // The fields hold 255 bytes and a zero: a longer text is cut to fit rather than refused, so a
  // page with an over-long value still gets a working console.
  const std::string_view kept = Utf8Prefix(AsStored(text), fieldSize - 1);
  std::memcpy(field, kept.data(), kept.size());
  std::memset(field + kept.size(), 0, fieldSize - kept.size());
}

// --- Texts ---

HRESULT CRemCons::get_target(BSTR* value) {
  return GetText(props_.target, value);
}
HRESULT CRemCons::put_target(std::string_view value) {
  CopyTextField(props_.target, sizeof props_.target, value);
  return S_OK;
}
HRESULT CRemCons::get_serverName(BSTR* value) {
  return GetText(props_.serverName, value);
}
HRESULT CRemCons::put_serverName(std::string_view value) {
  CopyTextField(props_.serverName, sizeof props_.serverName, value);
  return S_OK;
}
HRESULT CRemCons::get_login(BSTR* value) {
  return GetText(props_.login, value);
}
HRESULT CRemCons::put_login(std::string_view value) {
  CopyTextField(props_.login, sizeof props_.login, value);
  return S_OK;
}
HRESULT CRemCons::get_muServer(BSTR* value) {
  return GetText(props_.muServer, value);
}
HRESULT CRemCons::put_muServer(std::string_view value) {
  CopyTextField(props_.muServer, sizeof props_.muServer, value);
  RC_TRACE("muLeader = %s\n", props_.muServer);
  return S_OK;
}

// --- Keys: they can be set but not read back ---

HRESULT CRemCons::get_vmKey(BSTR* value) {
  if (!value) return E_POINTER;
  const char* key = reinterpret_cast<const char*>(props_.vmKey);
  try {
    value->assign(key, strnlen(key, 16));
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

HRESULT CRemCons::put_vmKey(std::string_view value) {
  value = AsStored(value);
  if (value.size() != 32) {
    RC_TRACE("VM Key not valid.");
    return S_FALSE;
  }
  if (value == kVmKeyRefused) {
    props_.vmNotAuthorized = 1;
    RC_TRACE("VM Key not authorized = %s.\n", std::string(value).c_str());
  } else {
    props_.vmNotAuthorized = 0;
    RC_TRACE("VM Key authorized = %s.\n", trace::Masked(value).c_str());
  }
  ParseStoredKey(value, props_.vmKey);
  return S_OK;
}

HRESULT CRemCons::get_decryptKey(BSTR* value) {
  return GetText(props_.encryption ? "1" : "0", value);
}
HRESULT CRemCons::put_decryptKey(std::string_view value) {
  if (!ParseStoredKey(value, props_.decryptKey)) {
    RC_TRACE("Decrypt key is not valid.");
    return S_FALSE;
  }
  return S_OK;
}
HRESULT CRemCons::get_encryptKey(BSTR* value) {
  return GetText("", value);
}
HRESULT CRemCons::put_encryptKey(std::string_view value) {
  if (!ParseStoredKey(value, props_.encryptKey)) {
    RC_TRACE("Encrypt key is not valid.");
    return S_FALSE;
  }
  return S_OK;
}
HRESULT CRemCons::get_encryption(uint16_t* value) {
  return GetNumber(0, value);
}
HRESULT CRemCons::put_encryption(uint16_t value) {
  props_.encryption = value ? 1 : 0;
  RC_TRACE("Encryption set to %d\n", static_cast<int>(value));
  return S_OK;
}
HRESULT CRemCons::get_keyIndex(uint32_t* value) {
  return GetNumber(0, value);
}
HRESULT CRemCons::put_keyIndex(uint32_t value) {
  props_.keyIndex = value;
  RC_TRACE("Key index: %d\n", static_cast<int>(value));
  return S_OK;
}

// --- Numbers ---

HRESULT CRemCons::get_port(uint16_t* value) {
  return GetNumber(props_.port, value);
}
HRESULT CRemCons::put_port(uint16_t value) {
  props_.port = value;
  return S_OK;
}
HRESULT CRemCons::get_height(uint16_t* value) {
  return GetNumber(props_.height, value);
}
HRESULT CRemCons::put_height(uint16_t value) {
  props_.height = value;
  return S_OK;
}
HRESULT CRemCons::get_width(uint16_t* value) {
  return GetNumber(props_.width, value);
}
HRESULT CRemCons::put_width(uint16_t value) {
  props_.width = value;
  return S_OK;
}
HRESULT CRemCons::get_fullScreen(uint16_t* value) {
  return GetNumber(props_.fullScreen ? 1 : 0, value);
}
HRESULT CRemCons::put_fullScreen(uint16_t value) {
  if (value) {
    props_.fullScreen = 1;
    RC_TRACE("Setting full screen\n");
  } else {
    props_.fullScreen = 0;
    RC_TRACE("Setting windowed\n");
  }
  // A running session reads it again at each video mode change; where the host offers no display
  // mode at all (headless) there is no display to switch, and the console stays windowed.
  DisplayMode any;
  if (modes_) modes_->SetFullScreen(props_.fullScreen != 0 && host_->EnumDisplayMode(0, &any));
  return S_OK;
}
HRESULT CRemCons::get_vmPort(uint16_t* value) {
  return GetNumber(props_.vmPort, value);
}
HRESULT CRemCons::put_vmPort(uint16_t value) {
  props_.vmPort = value;
  return S_OK;
}
HRESULT CRemCons::get_mouseMode(uint8_t* value) {
  return GetNumber(props_.mouseMode, value);
}
HRESULT CRemCons::put_mouseMode(uint8_t value) {
  if (value > 2) {
    RC_TRACE("CRemCons: Error - invalid parameter for mouseMode.\n");
    return S_FALSE;
  }
  props_.mouseMode = value;
  return S_OK;
}
HRESULT CRemCons::get_timeout(uint32_t* value) {
  // The console thread sets it to 0 when the session ends.
  return GetNumber(std::atomic_ref<uint32_t>(props_.timeout).load(), value);
}
HRESULT CRemCons::put_timeout(uint32_t value) {
  std::atomic_ref<uint32_t>(props_.timeout).store(value);
  RC_TRACE("RemCons: timeout is %d.\n", static_cast<int>(value));
  return S_OK;
}
HRESULT CRemCons::get_uniqueFeatures(uint32_t* value) {
  return GetNumber(props_.uniqueFeatures, value);
}
HRESULT CRemCons::put_uniqueFeatures(uint32_t value) {
  props_.uniqueFeatures = value;
  return S_OK;
}
HRESULT CRemCons::get_muMode(uint32_t* value) {
  return GetNumber(props_.muMode, value);
}
HRESULT CRemCons::put_muMode(uint32_t value) {
  props_.muMode = value;
  RC_TRACE("muMode = %d\n", static_cast<int>(value));
  return S_OK;
}
HRESULT CRemCons::get_muPort(uint16_t* value) {
  return GetNumber(props_.muPort, value);
}
HRESULT CRemCons::put_muPort(uint16_t value) {
  props_.muPort = value;
  RC_TRACE("muPort = %d\n", static_cast<int>(value));
  return S_OK;
}
HRESULT CRemCons::get_kbdMode(uint16_t* value) {
  return GetNumber(props_.kbdMode, value);
}
HRESULT CRemCons::put_kbdMode(uint16_t value) {
  props_.kbdMode = value;
  RC_TRACE("kbdMode = %d\n", static_cast<int>(value));
  return S_OK;
}
HRESULT CRemCons::get_screenCapture(uint8_t* value) {
  return GetNumber(props_.screenCapture, value);
}
HRESULT CRemCons::put_screenCapture(uint8_t value) {
  props_.screenCapture = value;
  RC_TRACE("screenCapture = %d\n", static_cast<int>(value));
  return S_OK;
}
HRESULT CRemCons::get_clientCapture(uint8_t* value) {
  return GetNumber(props_.clientCapture, value);
}
HRESULT CRemCons::put_clientCapture(uint8_t value) {
  props_.clientCapture = value;
  RC_TRACE("clientCapture = %d\n", static_cast<int>(value));
  return S_OK;
}
HRESULT CRemCons::get_autoExport(uint8_t* value) {
  return GetNumber(props_.autoExport, value);
}
HRESULT CRemCons::put_autoExport(uint8_t value) {
  props_.autoExport = value;
  RC_TRACE("autoExport = %d\n", static_cast<int>(value));
  return S_OK;
}
HRESULT CRemCons::get_scrPort(uint16_t* value) {
  return GetNumber(props_.scrPort, value);
}
HRESULT CRemCons::put_scrPort(uint16_t value) {
  props_.scrPort = value;
  RC_TRACE("scrPort = %d\n", static_cast<int>(value));
  return S_OK;
}

// --- Loading by name ---

HRESULT CRemCons::PutByName(std::string_view name, std::string_view value) {
  for (const PropertyInfo& info : kRemConsProperties) {
    if (!EqualsIgnoreCase(name, info.name)) continue;
    if (info.type == PropertyType::kText) return info.put(*this, value, 0);
    uint32_t number = 0;
    if (!ParsePropertyNumber(value, info.max, &number)) {
      RC_TRACE("CRemCons: Error - invalid value \"%s\" for %s.\n",
               std::string(Utf8Prefix(value, 64)).c_str(), info.name);
      return S_FALSE;
    }
    return info.put(*this, value, number);
  }
  RC_TRACE("CRemCons: Error - unknown property %s.\n", std::string(Utf8Prefix(name, 64)).c_str());
  return S_FALSE;
}

HRESULT CRemCons::Load(const PropertyBag& bag) {
  HRESULT result = S_OK;
  for (const auto& [name, field] : {std::pair{"_cx", &props_.cx}, std::pair{"_cy", &props_.cy}}) {
    const std::string* value = FindInBag(bag, name);
    if (!value) continue;
    uint32_t number = 0;
    if (ParsePropertyNumber(*value, 0xFFFFFFFFu, &number)) {
      *field = number;
    } else {
      RC_TRACE("CRemCons: Error - invalid value \"%s\" for %s.\n",
               std::string(Utf8Prefix(*value, 64)).c_str(), name);
      result = S_FALSE;
    }
  }
  for (const PropertyInfo& info : kRemConsProperties) {
    const std::string* value = FindInBag(bag, info.name);
    if (value && PutByName(info.name, *value) != S_OK) result = S_FALSE;
  }
  return result;
}

bool CRemCons::ApplyPageHost(std::string_view location) {
  // Only an address can stand in for the target: the connection never looks names up.
  const std::string host = UrlHost(location);
  if (!IsDottedIpv4(host)) return false;
  CopyTextField(props_.target, sizeof props_.target, host);
  return true;
}

// --- Events ---

uint32_t CRemCons::Advise(IRemConsEv* sink) {
  if (!sink) return 0;
  std::lock_guard lock(sinksMutex_);
  const uint32_t cookie = nextCookie_++;
  sinks_.emplace_back(cookie, sink);
  return cookie;
}

bool CRemCons::Unadvise(uint32_t cookie) {
  std::lock_guard lock(sinksMutex_);
  for (auto it = sinks_.begin(); it != sinks_.end(); ++it) {
    if (it->first == cookie) {
      sinks_.erase(it);
      return true;
    }
  }
  return false;
}

namespace {

// Calls fn on every sink connected at the moment, outside the lock so that a sink may connect
// or disconnect from within its handler.
template <typename Fn>
void ForEachSink(std::mutex& mutex, const std::vector<std::pair<uint32_t, IRemConsEv*>>& sinks,
                 Fn fn) {
  std::vector<std::pair<uint32_t, IRemConsEv*>> copy;
  {
    std::lock_guard lock(mutex);
    copy = sinks;
  }
  for (const auto& [cookie, sink] : copy) fn(sink);
}

}  // namespace

void CRemCons::FireOnShutdown() {
  ForEachSink(sinksMutex_, sinks_, [](IRemConsEv* s) { s->OnShutdown(); });
}

void CRemCons::FireOnResize() {
  const auto cx = static_cast<int32_t>(props_.width);
  const auto cy = static_cast<int32_t>(props_.height);
  ForEachSink(sinksMutex_, sinks_, [&](IRemConsEv* s) { s->OnResize(cx, cy); });
}

void CRemCons::FireOnStatus() {
  const std::string line = StatusLine();
  ForEachSink(sinksMutex_, sinks_, [&](IRemConsEv* s) { s->OnStatus(line); });
}

void CRemCons::FireOnDialog() {
  const std::string text = StatusText();
  ForEachSink(sinksMutex_, sinks_, [&](IRemConsEv* s) { s->OnDialog(text); });
}

void CRemCons::StoreStatusText(std::string_view text) {
  std::lock_guard lock(statusMutex_);
  CopyTextField(statusText_, sizeof statusText_, text);
}

void CRemCons::StoreStatusText2(std::string_view text) {
  std::lock_guard lock(statusMutex_);
  CopyTextField(statusText2_, sizeof statusText2_, text);
}

std::string CRemCons::StatusText() const {
  std::lock_guard lock(statusMutex_);
  return statusText_;
}

std::string CRemCons::StatusText2() const {
  std::lock_guard lock(statusMutex_);
  return statusText2_;
}

std::string CRemCons::StatusLine() const {
  char line[3 * RemConsProperties::kTextSize];
  {
    std::lock_guard lock(statusMutex_);
    if (props_.muMode != 0) {
      std::snprintf(line, sizeof line, "%dx%d | %s | %s", static_cast<int>(props_.width),
                    static_cast<int>(props_.height), statusText_, statusText2_);
    } else {
      std::snprintf(line, sizeof line, "%dx%d | %s", static_cast<int>(props_.width),
                    static_cast<int>(props_.height), statusText_);
    }
  }
  return std::string(Utf8Prefix(line, RemConsProperties::kTextSize - 1));
}

}  // namespace remcons
