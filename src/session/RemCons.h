// CRemCons, the embeddable console control: its 24 named properties (storage, defaults,
// validation), the loading of those properties by name, its four events, and the console session
// it runs in its window: window creation, the console thread around the video decoder, the
// one-second session timer, the stop and the command dispatcher.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <type_traits>
#include <utility>
#include <vector>

#include "capture/BufferRetrieval.h"
#include "capture/CaptureFile.h"
#include "capture/ReplaySource.h"
#include "input/Keyboard.h"
#include "input/Mouse.h"
#include "multiuser/MUOwner.h"
#include "multiuser/MUServer.h"
#include "multiuser/RandomPool.h"
#include "net/Net.h"
#include "platform/Clock.h"
#include "platform/Host.h"
#include "platform/Painter.h"
#include "session/PropertyBag.h"
#include "ui/MenuBar.h"
#include "ui/MenuBarOwner.h"
#include "video/BitReader.h"
#include "video/FrameBuffer.h"
#include "video/VideoDecoder.h"
#include "video/VideoEvents.h"
#include "video/VideoModes.h"
#include "vmedia/VmTypes.h"

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

class CRemCons;

// One property of the control: its name, DISPID and type, and its put and get through the text
// form (numbers as decimal). The table below is the one list that loading by name, the property
// bag and the widget's property check go by.
struct PropertyInfo {
  const char* name;
  int32_t dispid;
  PropertyType type;
  uint32_t max;  // the largest number a put takes (0 for texts)
  // Takes the text itself, or the number already parsed and checked against max.
  HRESULT (*put)(CRemCons& control, std::string_view text, uint32_t number);
  // Null text: the get method is asked with a null pointer (and refuses it).
  HRESULT (*get)(CRemCons& control, std::string* text);
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

// The control's private window messages: the console thread reaches the window only through them.
inline constexpr uint32_t WM_USER = 0x0400;
inline constexpr uint32_t kMsgResize = WM_USER;             // OnResize
inline constexpr uint32_t kMsgStatus = WM_USER + 1;         // OnStatus
inline constexpr uint32_t kMsgDialog = WM_USER + 2;         // OnDialog
inline constexpr uint32_t kMsgSessionClosed = WM_USER + 3;  // OnShutdown
// The session timer's id and period.
inline constexpr int kSessionTimer = 1;
inline constexpr uint32_t kSessionTimerMs = 1000;

// What the window gives the session when it is created.
struct SessionEnvironment {
  Host* host = nullptr;
  Painter* painter = nullptr;
  Clock* clock = nullptr;  // null: the system clock
  // Makes the frame surfaces; empty: plain memory surfaces.
  FrameBuffer::SurfaceFactory surfaceFactory;
  // How the drive menu's image, CD image and folder entries learn what to serve (the desktop's
  // file dialogs); null: those entries cannot be mounted.
  VmTargetChooser* chooser = nullptr;
  // Where the drive menu looks for local drives; none: the process's roots.
  std::optional<MediaRoots> mediaRoots;
  // A session leader's server: the address it listens on and its time-outs (the port is muPort).
  MUServerOptions leaderServer;
  // How the BOOT and FAULT buffers are fetched; empty: TCP to target at scrPort.
  BufferConnector bufferConnector;
  // Where fetched buffers are stored; empty: the system's temporary folder.
  std::string tempFolder;
};

class CRemCons : public VideoEvents, public VmControl, public MenuBarOwner, public MUOwner {
 public:
  CRemCons() = default;
  ~CRemCons() override;
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

  // ======================= The session =======================
  // Everything below runs on the window thread unless it says otherwise.

  // WM_CREATE: sets the session up (page host as target, frame surfaces, connection, mouse and
  // keyboard, focus) and starts the console thread. 0, or -1 when the window is refused (the
  // frame surfaces could not be made: the user has been told and OnShutdown raised).
  int OnCreate(const SessionEnvironment& environment);
  // WM_DESTROY: stops the session, waiting for the console thread in 100 ms steps until it has
  // ended. The control may be deleted afterwards.
  void OnDestroy();
  // WM_TIMER: the session timer (timer 1 only).
  void OnTimer(int id);
  // WM_PAINT: copies updateRect of the frame into the window's pixels.
  void OnPaint(const Rect& updateRect, Surface& window);
  // WM_SETFOCUS / WM_KILLFOCUS: the keyboard hook follows the focus.
  void OnSetFocus();
  void OnKillFocus();
  // A key event of the focused console (what the low-level hook sees). kPassOn: the window
  // should go on with it (a typed character then arrives through OnChar).
  KeyResult OnKeyEvent(const KeyEvent& event);
  // WM_CHAR: ch in the ANSI code page, scanCode of the key that typed it.
  void OnChar(uint32_t ch, uint32_t scanCode);
  // ReleaseAllKeys when a key is held on the server; the keys seen held here are forgotten
  // either way.
  void ReleaseHeldKeys();
  // Mouse messages, in window coordinates.
  void OnMouseMove(int x, int y, bool controlHeld);
  void OnMouseHover(int x, int y);
  void OnMouseButton(MenuBarMouse::Event event, int x, int y);
  // The private messages WM_USER to WM_USER + 3: raise their events.
  void OnWindowMessage(uint32_t message);

  // WM_WINDOWPOSCHANGED: the menu bar is drawn again.
  void OnWindowPosChanged();

  // Stops the session: true once stopped, false while the console thread is still running (it
  // was given 100 ms; call again).
  bool StopSession() override;
  // idleCountdown = timeout x 60. Any thread.
  void RestartIdleCountdown() override;
  // The second status text (at most 255 bytes) and a status-changed notice. Any thread.
  void SetStatusText2(std::string_view text) override;
  // Whether keyboard and mouse bytes reach the server. Any thread.
  void SetInputEnabled(bool enabled) override;
  // A message box owned by the window. Any thread.
  void ShowMessage(const std::string& text, const std::string& caption, uint32_t style) override;
  // The command dispatcher of the menu bar and the virtual media.
  void DoCommand(int command) override;
  // The connection's writes, for the menu bar: commands always, keys only with the control
  // right. The count written, or -1 / 0 as the connection says.
  int Write(const uint8_t* data, size_t size) override;
  int WriteInput(const uint8_t* data, size_t size) override;

  // --- Multi-user session ---
  // Control asked for and given back from the menu bar: a leader takes it at once (and gives it
  // up) through its server; a joining console asks its leader.
  void RequestControl() override;
  void RelinquishControl() override;
  void ShowClientList() override;
  void SetAccepting(bool accepting) override;
  // No key stays held: in HID mode the server is told that none is down, and the keys seen held
  // here are forgotten.
  void ReleaseAllKeys() override;
  // The session leader's server (muMode 1, after OnCreate), null otherwise.
  MUServer* leaderServer() { return muServer_.get(); }

  // Virtual media (any thread): a drive was used; a device asks for its drive to be unmounted.
  void OnVmActivity() override;
  void OnVmUnmountRequest(VmKind kind) override;

  // Replay (the capture module sets these): while replaying (the menu bar's replay flag, or
  // SetReplaying), the stream's bytes come from source instead of the connection, and no refresh
  // requests are sent. The source's waits must use clock().SleepMs with StopFlag(), so that a
  // stop ends them at once.
  void SetReplaySource(ByteSource* source) { replaySource_.store(source); }
  void SetReplaying(bool replaying) { replaying_.store(replaying); }
  bool Replaying() override;
  const std::atomic<bool>& StopFlag() const { return stop_; }
  Clock& clock() { return *clock_; }

  // ======================= Capture and replay (window thread) =======================
  // The record button: the save dialog, then the capture. True when recording began (the menu
  // bar then asks for a whole screen).
  bool StartCapture() override;
  void StopCapture() override;
  // The replay button: the modeless Replay Menu.
  void OpenReplayMenu() override;
  // Back to the live stream: replay flag cleared, a refresh request, the decoder to RESET, the
  // replay file (and a capture still running) closed.
  void LeaveReplay() override;
  // What the record button and "Replay file" do, without their dialogs (scripts): 0, -5 (cannot
  // create or open) or -6 (header).
  int CaptureToFile(const std::string& path);
  int ReplayFile(const std::string& path);
  // The Replay Menu's buttons: 240 BOOT, 241 FAULT, 242 Replay file; 0 when it was closed.
  void ReplayMenuChoice(int choice);
  // Fetches the BOOT or FAULT buffer into a temporary file and replays it; true when it began.
  bool ReplayBuffer(BufferType type);
  bool Capturing() const { return recorder_ && recorder_->IsOpen(); }
  uint64_t CapturedRecords() const { return recorder_ ? recorder_->records() : 0; }
  ReplaySource* replay() { return replay_.get(); }
  // The last buffer stored by ReplayBuffer.
  const std::string& bufferFile() const { return bufferFile_; }

  // --- State, for hosts and tests ---
  enum class SessionEnd {
    kNone,            // still running, or never started
    kConnectFailed,   // the connection could not be opened
    kStopped,         // StopSession (user, timer, window)
    kServerEnded,     // exit, seize or kill command, or text channel 6
    kConnectionLost,  // the stream ended without a stop request
  };
  // Why the console thread's session ended (kNone while it runs).
  SessionEnd EndReason() const { return endReason_.load(); }
  // True once the start reply had arrived at some point of this session.
  bool EverConnected() const { return everConnected_.load(); }
  // True from the decoder's start (the mouse is enabled then) to the end of the session.
  bool Decoding() const { return decoding_.load(); }
  bool StopRequested() const { return stop_.load(); }
  bool SessionStopped() const { return stopped_.load(); }
  bool ConsoleThreadRunning() const;
  uint32_t TimerPhase() const { return timerPhase_; }
  int32_t PhaseCountdown() const { return phaseCountdown_; }
  uint16_t KeepAliveCountdown() const { return keepAliveCountdown_; }
  uint32_t KeepAliveFailures() const { return keepAliveFailures_; }
  bool InputSeen() const { return inputSeen_.load() != 0; }
  uint32_t IdleCountdown() const { return idleCountdown_.load(); }
  // The connection's state (CNet::State), 0 without a connection.
  int32_t ConnectionState() const;
  // Why the connection could not be opened (a Winsock code), 0 when that is not what failed.
  int ConnectError() const;
  // The server's power as the menu bar shows it: 1 on, 0 off, 2 unknown.
  int ServerPowerShown() const { return serverPowerShown_.load(); }
  // The frame buffer, video modes and menu bar (after OnCreate).
  FrameBuffer* frameBuffer() { return frameBuffer_.get(); }
  CMenuBar* menuBar() { return menuBar_.get(); }
  VideoModes* videoModes() { return modes_.get(); }
  // The remote screen's size in pixels (the width and height properties before the first mode).
  std::pair<int, int> RemoteScreenSize() const;

 protected:
  // The console connection of a session: CNet to target:port, keyed from the properties.
  virtual std::unique_ptr<CNet> CreateConnection();

  RemConsProperties props_;
  mutable std::mutex statusMutex_;  // the console thread writes the status texts
  char statusText_[RemConsProperties::kTextSize] = {};
  char statusText2_[RemConsProperties::kTextSize] = {};

 private:
  // --- VideoEvents: what the decoder reaches on the console thread ---
  void SetStatusText(std::string_view text) override { StoreStatusText(text); }
  void NotifyStatusChanged() override { SendMessage(kMsgStatus); }
  void NotifyDialog() override { SendMessage(kMsgDialog); }
  void NotifySessionClosed() override { SendMessage(kMsgSessionClosed); }
  void SetPowerOn() override;
  void SetPowerOff() override;
  int Write(const uint8_t* data, int length) override;
  void ChangeKeys() override;
  void OnJoinAnswer(std::string_view text) override;
  void NotifyResize() override { SendMessage(kMsgResize); }
  void RedrawMenuBar(int width) override;
  void RepositionMenuBar(int width) override;

  // Capture and replay (RemConsCapture.cpp).
  class CaptureLink;
  struct CaptureLinkDeleter {
    void operator()(CaptureLink* link) const;
  };
  void SetUpCapture(const SessionEnvironment& environment);
  // Creates the capture file, telling the user what went wrong: 0, -5 or -6.
  int CreateCapture(const std::string& path);
  // Opens path as the replay file, telling the user what went wrong: 0, -5 or -6.
  int OpenForReplay(const std::string& path);
  void BeginReplay(const std::string& title);
  // Every chunk the bit reader takes in, live or replayed: a session leader relays it to its
  // joined consoles.
  void RelayChunk(const uint8_t* data, int length);

  // The byte source of the decoder: the connection, or the replay source while replaying.
  class StreamSource : public ByteSource {
   public:
    explicit StreamSource(CRemCons& owner) : owner_(owner) {}
    int Read(uint8_t* buffer, int size) override;
    int LastError() override { return lastError_; }

   private:
    CRemCons& owner_;
    int lastError_ = 0;
  };

  // Sends a private message to the window and waits for it to be handled (directly on the window
  // thread); posts one without waiting.
  void SendMessage(uint32_t message);
  void PostMessage(uint32_t message);
  // The console thread and its body.
  void ConsoleThread();
  int Run();
  // Waits at most ms for the console thread to finish; joins it when it has.
  bool JoinConsoleThread(uint32_t ms);
  // Timer phase 2's end of the session (idle time-out, failed keep-alives).
  void EndSessionFromTimer();
  // The width and height properties follow the remote screen (window thread).
  void SyncRemoteSize();
  void MarkInput() { inputSeen_.store(1); }
  void WriteBytes(const uint8_t* data, size_t size);
  // Runs fn on the window thread later, unless the control is gone by then.
  void PostToWindow(std::function<void()> fn);
  // Multi-user steps of the session: the leader's server and the random pool at window creation,
  // the leader's port announced once connected, the server's end with the session.
  void StartMultiUser(const SessionEnvironment& environment);
  void AnnounceLeaderPort();
  void CloseLeaderSession();

  std::mutex sinksMutex_;
  std::vector<std::pair<uint32_t, IRemConsEv*>> sinks_;
  uint32_t nextCookie_ = 1;

  // The session's objects, made at window creation.
  Host* host_ = nullptr;
  Clock* clock_ = &SystemClock();
  std::unique_ptr<VideoModes> modes_;
  std::unique_ptr<FrameBuffer> frameBuffer_;
  std::unique_ptr<VideoDecoder> decoder_;
  std::unique_ptr<CNet> connection_;
  std::unique_ptr<CMouse> mouse_;
  std::unique_ptr<MouseMessages> mouseMessages_;
  std::unique_ptr<CKeyboard> keyboard_;
  std::unique_ptr<CMenuBar> menuBar_;
  RandomPool random_;
  std::unique_ptr<MUServer> muServer_;
  StreamSource source_{*this};
  bool created_ = false;    // the window exists
  bool destroyed_ = false;  // WM_DESTROY has run

  // The console thread; consoleDone_ is set as its last act.
  std::thread consoleThread_;
  mutable std::mutex threadMutex_;
  std::condition_variable threadDone_;
  bool consoleDone_ = true;

  std::atomic<bool> stop_{false};
  std::atomic<bool> stopped_{false};
  std::atomic<SessionEnd> endReason_{SessionEnd::kNone};
  std::atomic<bool> everConnected_{false};
  std::atomic<bool> decoding_{false};

  // Session timer (window thread).
  uint32_t timerPhase_ = 0;
  int32_t phaseCountdown_ = 20;
  uint16_t keepAliveCountdown_ = 1;
  std::atomic<uint8_t> inputSeen_{0};
  uint32_t keepAliveFailures_ = 0;
  bool failureShown_ = false;
  std::atomic<uint32_t> idleCountdown_{3};

  std::atomic<int> serverPowerShown_{2};
  std::atomic<bool> replaying_{false};
  std::atomic<ByteSource*> replaySource_{nullptr};
  std::unique_ptr<CaptureLink, CaptureLinkDeleter> captureLink_;
  std::unique_ptr<CaptureRecorder> recorder_;
  std::unique_ptr<ReplaySource> replay_;
  BufferConnector bufferConnector_;
  std::string tempFolder_;
  std::string bufferFile_;
  // Keys held down as the key events showed them (Shift and Control for the terminal procedure).
  std::array<uint8_t, 256> keyState_{};
  // Posted messages hold a weak reference: once the control is gone they do nothing.
  std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

namespace property_detail {
template <typename>
struct Stored;
template <typename T>
struct Stored<HRESULT (CRemCons::*)(T)> {
  using type = T;
};

template <auto Put>
HRESULT PutAs(CRemCons& control, std::string_view text, uint32_t number) {
  using T = typename Stored<decltype(Put)>::type;
  if constexpr (std::is_same_v<T, std::string_view>) {
    return (control.*Put)(text);
  } else {
    return (control.*Put)(static_cast<T>(number));
  }
}

template <auto Get, typename T>
HRESULT GetAs(CRemCons& control, std::string* text) {
  if constexpr (std::is_same_v<T, std::string_view>) {
    return (control.*Get)(text);
  } else {
    if (!text) return (control.*Get)(nullptr);
    T value{};
    const HRESULT result = (control.*Get)(&value);
    if (result == S_OK) *text = std::to_string(value);
    return result;
  }
}

template <auto Get, auto Put>
constexpr PropertyInfo Make(const char* name, int32_t dispid) {
  using T = typename Stored<decltype(Put)>::type;
  if constexpr (std::is_same_v<T, std::string_view>) {
    return {name, dispid, PropertyType::kText, 0, &PutAs<Put>, &GetAs<Get, T>};
  } else {
    constexpr PropertyType type = sizeof(T) == 1   ? PropertyType::kU8
                                  : sizeof(T) == 2 ? PropertyType::kU16
                                                   : PropertyType::kU32;
    return {name, dispid, type, std::numeric_limits<T>::max(), &PutAs<Put>, &GetAs<Get, T>};
  }
}
}  // namespace property_detail

#define REMCONS_PROPERTY(name, dispid) \
  property_detail::Make<&CRemCons::get_##name, &CRemCons::put_##name>(#name, dispid)
// The properties in interface order; DISPIDs 1 to 24.
inline constexpr PropertyInfo kRemConsProperties[] = {
    REMCONS_PROPERTY(target, 1),         REMCONS_PROPERTY(port, 2),
    REMCONS_PROPERTY(height, 3),         REMCONS_PROPERTY(width, 4),
    REMCONS_PROPERTY(fullScreen, 5),     REMCONS_PROPERTY(vmKey, 6),
    REMCONS_PROPERTY(vmPort, 7),         REMCONS_PROPERTY(serverName, 8),
    REMCONS_PROPERTY(login, 9),          REMCONS_PROPERTY(encryption, 10),
    REMCONS_PROPERTY(decryptKey, 11),    REMCONS_PROPERTY(encryptKey, 12),
    REMCONS_PROPERTY(keyIndex, 13),      REMCONS_PROPERTY(mouseMode, 14),
    REMCONS_PROPERTY(timeout, 15),       REMCONS_PROPERTY(uniqueFeatures, 16),
    REMCONS_PROPERTY(muMode, 17),        REMCONS_PROPERTY(muServer, 18),
    REMCONS_PROPERTY(muPort, 19),        REMCONS_PROPERTY(kbdMode, 20),
    REMCONS_PROPERTY(screenCapture, 21), REMCONS_PROPERTY(clientCapture, 22),
    REMCONS_PROPERTY(autoExport, 23),    REMCONS_PROPERTY(scrPort, 24),
};
#undef REMCONS_PROPERTY

// --- Helpers shared with the hosts ---

// Copies text into a zero-terminated field of fieldSize bytes: it stops at an embedded zero and
// keeps at most fieldSize - 1 bytes, cut so that no UTF-8 character is split.
void CopyTextField(char* field, size_t fieldSize, std::string_view text);
// The longest prefix of text of at most maxBytes bytes that ends on a UTF-8 character boundary.
std::string_view Utf8Prefix(std::string_view text, size_t maxBytes);

}  // namespace remcons
