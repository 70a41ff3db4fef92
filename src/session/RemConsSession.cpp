// The console session of CRemCons: window creation, the console thread around the video decoder,
// the session timer, the stop, the private window messages and the command dispatcher.
#include <pthread.h>
#include <string.h>  // explicit_bzero

#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>

#include "input/Locale.h"
#include "input/VirtualKeys.h"
#include "multiuser/MUNet.h"
#include "net/ConsoleCommands.h"
#include "net/Net.h"
#include "platform/Secret.h"
#include "platform/Strings.h"
#include "platform/Trace.h"
#include "session/RemCons.h"
#include "vmedia/VmDrives.h"

namespace remcons {
namespace {

constexpr int32_t kPhaseTicks = 20;
constexpr int32_t kJoiningPhaseTicks = 90;
constexpr uint16_t kKeepAliveTicks = 30;
constexpr uint32_t kMaxKeepAliveFailures = 3;
constexpr uint32_t kStopWaitMs = 100;
constexpr int32_t kPhaseCountdownAfterStop = 3;

const char* MessageText(uint32_t message) {
  switch (message) {
    case kMsgResize:
      return "resize";
    case kMsgStatus:
      return "status";
    case kMsgDialog:
      return "dialog";
    default:
      return "session closed";
  }
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// The decoder's byte source

int CRemCons::StreamSource::Read(uint8_t* buffer, int size) {
  ByteSource* replay = owner_.replaySource_.load();
  if (replay && owner_.Replaying()) {
    const int got = replay->Read(buffer, size);
    // A replay that was left meanwhile hands back to the live stream.
    if (got > 0 || owner_.stop_ || owner_.Replaying()) return got;
  }
  CNet* connection = owner_.connection_.get();
  if (!connection) return 0;
  const int got = connection->Read(buffer, size);
  lastError_ = got > 0 ? 0 : LastSocketError();
  return got;
}

// ---------------------------------------------------------------------------------------------
// Window creation and destruction

std::unique_ptr<CNet> CRemCons::CreateConnection() {
  if (props_.muMode == 2) return std::make_unique<CMUNet>(random_, props_.encryption);
  return std::make_unique<CNet>(props_.decryptKey, props_.encryptKey, props_.keyIndex,
                                props_.encryption);
}

int CRemCons::OnCreate(const SessionEnvironment& environment) {
  if (created_) return 0;
  host_ = environment.host;
  if (environment.clock) clock_ = environment.clock;
  if (!host_ || !environment.painter) return -1;

  // 1. The hosting page's address, when it has one, is the management processor's.
  if (std::optional<std::string> location = host_->PageLocation()) ApplyPageHost(*location);
  // 2. The keyboard layout needs nothing here: keys are mapped from their scan codes as a US
  //    keyboard reports them.

  // 3. The frame surfaces.
  modes_ = std::make_unique<VideoModes>(*host_, *this);
  frameBuffer_ =
      std::make_unique<FrameBuffer>(*host_, *environment.painter, environment.surfaceFactory);
  if (!frameBuffer_->CreateSurfaces(&props_.width, &props_.height)) {
    host_->ChangeDisplayMode(nullptr);
    ShowMessage(frameBuffer_->failureText(), "Video Configuration Fault", kMbOk | kMbIconWarning);
    OnWindowMessage(kMsgSessionClosed);
    endReason_ = SessionEnd::kConnectFailed;
    return -1;
  }
  modes_->SetRemoteSize(props_.width, props_.height);
  // Full screen needs a display to switch: a host without display modes (headless) is windowed
  // whatever fullScreen says.
  DisplayMode any;
  modes_->SetFullScreen(props_.fullScreen != 0 && host_->EnumDisplayMode(0, &any));
  decoder_ = std::make_unique<VideoDecoder>(*frameBuffer_, *modes_, *this);
  decoder_->reader().SetSource(&source_);
  SetUpCapture(environment);

  // 4. The menu bar.
  MenuBarConfig bar;
  bar.target = props_.target;
  bar.serverName = props_.serverName;
  bar.width = static_cast<int>(props_.width);
  bar.serverPowerOn = decoder_->server_power() != 0;  // unknown (2) counts as on
  bar.vmPort = props_.vmPort;
  std::copy_n(props_.vmKey, bar.vmKey.size(), bar.vmKey.begin());
  bar.windowed = !modes_->full_screen();
  bar.uniqueFeatures = props_.uniqueFeatures;
  bar.vmKeyRefused = props_.vmNotAuthorized != 0;
  bar.muMode = props_.muMode;
  bar.screenCapture = props_.screenCapture != 0;
  bar.clientCapture = props_.clientCapture != 0;
  bar.autoExport = props_.autoExport != 0;
  bar.scrPort = props_.scrPort;
  MenuBarServices services;
  services.vmControl = this;
  services.chooser = environment.chooser;
  services.clock = clock_;
  if (environment.mediaRoots) services.roots = *environment.mediaRoots;
  menuBar_ = std::make_unique<CMenuBar>(*host_, *environment.painter, *this, std::move(bar),
                                        std::move(services));
  // 5, 6. The session leader's server, and the random pool of the key agreement.
  StartMultiUser(environment);
  // 7. Hover notifications for the window.
  host_->TrackHover();

  // 8, 9. The connection, then the mouse and keyboard on its input write.
  if (!connection_) connection_ = CreateConnection();
  CNet* connection = connection_.get();
  InputWriter writeInput = [connection](const uint8_t* data, size_t size) {
    return connection->WriteInput(data, static_cast<int32_t>(size));
  };
  if (!mouse_) mouse_ = std::make_unique<CMouse>(writeInput);
  if (!keyboard_) {
    KeyboardSystem system;
    system.shiftDown = [this] {
      return keyState_[kVkLeftShift] || keyState_[kVkRightShift] || keyState_[kVkShift];
    };
    system.controlDown = [this] {
      return keyState_[kVkLeftControl] || keyState_[kVkRightControl] || keyState_[kVkControl];
    };
    // The keyboard rewrites some keys for the user's language (Swedish).
    system.userDefaultLanguage = UserLocaleLanguage;
    keyboard_ = std::make_unique<CKeyboard>(writeInput, props_.kbdMode, system, *clock_);
  }
  MouseWindow window;
  window.setCursor = [this] { host_->SetCursor(); };
  window.restartIdleCountdown = [this] { RestartIdleCountdown(); };
  window.markActivity = [this] { MarkInput(); };
  window.trackHover = [this] { host_->TrackHover(); };
  window.takeFocus = [this] { host_->SetFocus(); };
  window.remoteScreenSize = [this] { return RemoteScreenSize(); };
  mouseMessages_ = std::make_unique<MouseMessages>(*mouse_, std::move(window), menuBar_.get());

  // 10. The keyboard focus.
  host_->SetFocus();

  // 11. The console thread.
  created_ = true;
  stop_ = false;
  stopped_ = false;
  decoder_->ClearStop();
  endReason_ = SessionEnd::kNone;
  {
    std::lock_guard lock(threadMutex_);
    consoleDone_ = false;
  }
  consoleThread_ = std::thread([this] { ConsoleThread(); });
  return 0;
}

void CRemCons::OnDestroy() {
  if (!created_ || destroyed_) return;
  destroyed_ = true;
  // Senders waiting for this thread are let go, so that the console thread can end.
  host_->CloseSends();
  int attempts = 0;
  while (!StopSession()) {
    host_->CloseSends();
    if (++attempts % 50 == 0)
      RC_TRACE("CRemCons: console thread still running after %d s\n", attempts / 10);
  }
  if (keyboard_) keyboard_->ReleaseHook();
  host_->GrabKeyboard(false);
}

CRemCons::~CRemCons() {
  // Messages still queued for the window find the control gone.
  alive_.reset();
  if (created_) OnDestroy();
  if (consoleThread_.joinable()) consoleThread_.join();
  // The leader's clients write to the connection until their threads have ended.
  if (muServer_) muServer_->Stop();
  muServer_.reset();
  // The menu bar unmounts its drives; the keyboard releases its hook as it goes.
  menuBar_.reset();
  keyboard_.reset();
  mouseMessages_.reset();
  mouse_.reset();
  decoder_.reset();
  connection_.reset();
  frameBuffer_.reset();
  modes_.reset();
  explicit_bzero(props_.login, sizeof props_.login);
  explicit_bzero(props_.vmKey, sizeof props_.vmKey);
  explicit_bzero(props_.decryptKey, sizeof props_.decryptKey);
  explicit_bzero(props_.encryptKey, sizeof props_.encryptKey);
}

// ---------------------------------------------------------------------------------------------
// Messages to the window

void CRemCons::SendMessage(uint32_t message) {
  if (!host_) return;
  if (!host_->SendToUi([this, message] { OnWindowMessage(message); })) {
    RC_TRACE("CRemCons: %s message not delivered, the window is gone\n", MessageText(message));
  }
}

void CRemCons::PostMessage(uint32_t message) {
  if (!host_) return;
  std::weak_ptr<int> alive = alive_;
  host_->PostToUi([this, alive, message] {
    if (alive.lock()) OnWindowMessage(message);
  });
}

void CRemCons::SyncRemoteSize() {
  if (!modes_) return;
  std::lock_guard lock(statusMutex_);
  props_.width = modes_->remote_width();
  props_.height = modes_->remote_height();
}

std::pair<int, int> CRemCons::RemoteScreenSize() const {
  if (modes_) {
    return {static_cast<int>(modes_->remote_width()), static_cast<int>(modes_->remote_height())};
  }
  return {static_cast<int>(props_.width), static_cast<int>(props_.height)};
}

void CRemCons::OnWindowMessage(uint32_t message) {
  switch (message) {
    case kMsgResize:
      RC_TRACE("OnResizeMsg\n");
      SyncRemoteSize();
      FireOnResize();
      break;
    case kMsgStatus:
      SyncRemoteSize();
      FireOnStatus();
      break;
    case kMsgDialog:
      FireOnDialog();
      break;
    case kMsgSessionClosed:
      RC_TRACE("OnCloseWMsg\n");
      FireOnShutdown();
      break;
    default:
      break;
  }
}

// ---------------------------------------------------------------------------------------------
// The console thread

void CRemCons::ConsoleThread() {
  pthread_setname_np(pthread_self(), "remcons-console");
  const int result = Run();
  // The display goes back to its own mode when the session never started.
  if (result == -1 && host_) host_->ChangeDisplayMode(nullptr);
  std::lock_guard lock(threadMutex_);
  consoleDone_ = true;
  threadDone_.notify_all();
}

int CRemCons::Run() {
  const bool joining = props_.muMode == 2;
  // 1. The session timer.
  host_->StartTimer(kSessionTimer, kSessionTimerMs);

  // 2. The status text, then the connection.
  const char* connecting = LoadString(joining ? kStrConnectingToLeader : kStrConnecting);
  StoreStatusText(connecting);
  frameBuffer_->WriteStatusLine(connecting);
  int32_t connected = 0;
  if (!stop_) {
    const std::string host = joining ? props_.muServer : props_.target;
    const uint16_t port = joining ? props_.muPort : props_.port;
    // A copy of the login for the connection, wiped as soon as it is done with.
    std::string login(props_.login);
    connected = connection_->Connect(host, login, port);
    WipeString(login);
    // A joining console types only once its leader grants control.
    if (joining) connection_->SetInputEnabled(false);
  }

  // 3. A connection that could not be opened.
  if (connected != 1) {
    if (connected == -1 || connected == -2) {
      ShowMessage(LoadString(connected == -1 ? kStrSessionFull : kStrLeaderNotAccepting),
                  "Information", kMbOk);
      SendMessage(kMsgSessionClosed);
    }
    endReason_ = stop_ ? SessionEnd::kStopped : SessionEnd::kConnectFailed;
    // Joiners have nothing to wait for from a leader that never connected.
    CloseLeaderSession();
    return -1;
  }
  everConnected_ = true;

  // 4. Connected; a session leader tells the management processor where it listens.
  RC_TRACE("Connected\n");
  AnnounceLeaderPort();

  // 5. The decoder from its start, then the mouse.
  DecoderRole role;
  role.multiUserClient = joining;
  role.sessionLeader = props_.muMode == 1;
  decoder_->Start(role);
  mouse_->Enable();
  RC_TRACE("Using video\n");
  decoding_ = true;

  const DecodeEnd end = decoder_->Decode();
  decoding_ = false;

  // The session's end.
  if (stop_) {
    endReason_ = SessionEnd::kStopped;
  } else if (end == DecodeEnd::kConnectionLost) {
    endReason_ = SessionEnd::kConnectionLost;
  } else {
    endReason_ = SessionEnd::kServerEnded;
  }
  connection_->Close();
  CloseLeaderSession();
  std::atomic_ref<uint32_t>(props_.timeout).store(0);
  idleCountdown_ = 0;
  PostMessage(kMsgSessionClosed);
  return 0;
}

bool CRemCons::ConsoleThreadRunning() const {
  std::lock_guard lock(threadMutex_);
  return !consoleDone_;
}

bool CRemCons::JoinConsoleThread(uint32_t ms) {
  {
    std::unique_lock lock(threadMutex_);
    if (!threadDone_.wait_for(lock, std::chrono::milliseconds(ms),
                              [this] { return consoleDone_; })) {
      return false;
    }
  }
  // It has done its last act; joining only waits for it to return.
  if (consoleThread_.joinable()) consoleThread_.join();
  return true;
}

// ---------------------------------------------------------------------------------------------
// Stop

bool CRemCons::StopSession() {
  if (!created_) return true;
  // 1. A replay ends first. Its waits end at the stop flag, so the console thread finishes like
  //    any other: nothing is cut off while it holds a lock or is half-way through a write.
  if (Replaying()) {
    RC_TRACE("CRemCons: ending the replay\n");
    if (menuBar_) menuBar_->EndReplayDisplay();
    CloseLeaderSession();
    replaying_ = false;
  }
  // 2. Already stopped.
  if (stopped_) return true;
  // 3. Stop, and close the socket so that a blocked receive returns.
  stop_ = true;
  decoder_->RequestStop();
  connection_->Close();
  // 4. The console thread gets 100 ms.
  if (consoleThread_.joinable() && !JoinConsoleThread(kStopWaitMs)) return false;
  // 5. The local display's own mode after full screen.
  if (modes_ && modes_->full_screen()) host_->ChangeDisplayMode(nullptr);
  // 6. OnShutdown.
  PostMessage(kMsgSessionClosed);
  stopped_ = true;
  return true;
}

// ---------------------------------------------------------------------------------------------
// The session timer

void CRemCons::EndSessionFromTimer() {
  if (!StopSession()) return;
  host_->StopTimer(kSessionTimer);
  timerPhase_ = 0;
  phaseCountdown_ = kPhaseCountdownAfterStop;
}

void CRemCons::OnTimer(int id) {
  if (id != kSessionTimer || !created_) return;
  switch (timerPhase_) {
    case 0:
      // Start-up: the menu bar is pinned on the 21st tick.
      if (phaseCountdown_-- <= 0) {
        if (menuBar_) menuBar_->Pin();
        phaseCountdown_ = props_.muMode == 2 ? kJoiningPhaseTicks : kPhaseTicks;
        timerPhase_ = 1;
      }
      break;
    case 1:
      // The connection check.
      if (phaseCountdown_-- <= 0) {
        if (ConnectionState() == CNet::kConnected) {
          RestartIdleCountdown();
          timerPhase_ = 2;
        } else if (!failureShown_) {
          failureShown_ = true;
          ShowMessage("Failed to connect to server.\nCheck for available telnet connection.\n",
                      "Network Status", kMbOk | kMbIconWarning | kMbSystemModal);
          SendMessage(kMsgSessionClosed);
          host_->StopTimer(kSessionTimer);
        }
      }
      break;
    case 2: {
      // Keep-alive: one on the second tick, then one every 31 ticks.
      if (keepAliveCountdown_-- == 0) {
        keepAliveCountdown_ = kKeepAliveTicks;
        if (inputSeen_.exchange(0)) {
          connection_->Write(kActivityNotice.data(), kActivityNotice.size());
        } else if (connection_->Write(kIdleKeepAlive.data(), kIdleKeepAlive.size()) == -1) {
          ++keepAliveFailures_;
        } else {
          keepAliveFailures_ = 0;
        }
      }
      // Idle time-out, never while a virtual drive is mounted. The countdown stays at 0 while
      // one is, so the time-out comes with the first tick after the last one is unmounted
      // rather than never (it would otherwise wrap round to some hundred years).
      uint32_t idle = idleCountdown_.load();
      while (idle != 0 && !idleCountdown_.compare_exchange_weak(idle, idle - 1)) {
      }
      if (idle == 0 && VmMountedDrives() == 0) {
        EndSessionFromTimer();
        break;
      }
      if (keepAliveFailures_ > kMaxKeepAliveFailures) EndSessionFromTimer();
      break;
    }
    default:
      break;
  }
}

void CRemCons::RestartIdleCountdown() {
  idleCountdown_ = std::atomic_ref<uint32_t>(props_.timeout).load() * 60u;
}

int32_t CRemCons::ConnectionState() const {
  return connection_ ? connection_->GetState() : 0;
}

int CRemCons::ConnectError() const {
  return connection_ ? connection_->ConnectError() : 0;
}

// ---------------------------------------------------------------------------------------------
// Operations used by the other parts

void CRemCons::SetStatusText2(std::string_view text) {
  StoreStatusText2(text);
  SendMessage(kMsgStatus);
}

void CRemCons::SetInputEnabled(bool enabled) {
  if (menuBar_) menuBar_->ShowControlState(enabled);
  if (connection_) connection_->SetInputEnabled(enabled);
}

void CRemCons::ShowMessage(const std::string& text, const std::string& caption, uint32_t style) {
  if (!host_) {
    RC_TRACE("CRemCons: %s: %s\n", caption.c_str(), text.c_str());
    return;
  }
  host_->MessageBox(text, caption, style);
}

void CRemCons::WriteBytes(const uint8_t* data, size_t size) {
  Write(data, size);
}

int CRemCons::Write(const uint8_t* data, size_t size) {
  return connection_ ? connection_->Write(data, static_cast<int32_t>(size)) : 0;
}

int CRemCons::WriteInput(const uint8_t* data, size_t size) {
  return connection_ ? connection_->WriteInput(data, static_cast<int32_t>(size)) : 0;
}

void CRemCons::PostToWindow(std::function<void()> fn) {
  if (!host_) return;
  std::weak_ptr<int> alive = alive_;
  host_->PostToUi([alive, fn = std::move(fn)] {
    if (alive.lock()) fn();
  });
}

void CRemCons::DoCommand(int command) {
  switch (command) {
    case 1:
      StopSession();
      break;
    case 7:
      if (connection_) connection_->WriteInput(kCtrlAltDelBytes.data(), kCtrlAltDelBytes.size());
      break;
    case 8:
    case 9:
    case 10:
    case 11:
      WriteBytes(kPowerCommandBytes[command - kFirstPowerCommand].data(), 2);
      break;
    case 18:
      WriteBytes(kRefreshRequest.data(), kRefreshRequest.size());
      break;
    case 19:
      if (decoder_) decoder_->RequestReset();
      break;
    case 100:
      RestartIdleCountdown();
      break;
    default:
      if (command >= 101 && command <= 107) {
        if (menuBar_) menuBar_->UnmountKind(static_cast<VmKind>(command - 100));
        RC_TRACE("Unmount command sent %d device\n", command - 100);
      }
      break;
  }
}

void CRemCons::OnVmActivity() {
  DoCommand(100);
}

void CRemCons::OnVmUnmountRequest(VmKind kind) {
  // From a serve thread: the unmount waits for that very thread, so it runs later on the window
  // thread.
  const int command = 100 + static_cast<int>(kind);
  PostToWindow([this, command] { DoCommand(command); });
}

// ---------------------------------------------------------------------------------------------
// VideoEvents

void CRemCons::SetPowerOn() {
  serverPowerShown_ = 1;
  if (menuBar_) menuBar_->SetPowerOn();
}

void CRemCons::SetPowerOff() {
  serverPowerShown_ = 0;
  if (menuBar_) menuBar_->SetPowerOff();
}

bool CRemCons::Replaying() {
  return replaying_.load() || (menuBar_ && menuBar_->IsReplaying());
}

int CRemCons::Write(const uint8_t* data, int length) {
  return Write(data, static_cast<size_t>(length > 0 ? length : 0));
}

void CRemCons::ChangeKeys() {
  // A key change in a replayed stream belongs to the recorded session, not to the live one.
  if (Replaying()) {
    RC_TRACE("CRemCons: key change in the replay left alone\n");
    return;
  }
  if (connection_) connection_->ChangeKeys();
}

void CRemCons::RedrawMenuBar(int width) {
  if (!menuBar_) return;
  menuBar_->SetWidth(width);
  // The bar's own state belongs to the window thread.
  PostToWindow([this] { menuBar_->Redraw(); });
}

void CRemCons::RepositionMenuBar(int width) {
  if (menuBar_) menuBar_->SetWidth(width);
}

// ---------------------------------------------------------------------------------------------
// Window-side input and painting

void CRemCons::OnPaint(const Rect& updateRect, Surface& window) {
  if (!frameBuffer_) return;
  MenuBarOverlay bar;
  if (menuBar_) {
    bar.visible = menuBar_->IsShown();
    bar.area = menuBar_->Area();
    bar.draw = [this](Surface& backPlane) { menuBar_->Paint(backPlane, menuBar_->width()); };
  }
  frameBuffer_->Paint(updateRect, window, &bar);
}

void CRemCons::OnSetFocus() {
  RC_TRACE("CRemCons: WM_SETFOCUS\n");
  if (!keyboard_) return;
  keyboard_->TakeHook();
  host_->GrabKeyboard(true);
  menuBar_->Redraw();
}

void CRemCons::OnWindowPosChanged() {
  if (menuBar_) menuBar_->Redraw();
}

void CRemCons::OnKillFocus() {
  RC_TRACE("CRemCons: WM_KILLFOCUS\n");
  if (!keyboard_) return;
  keyboard_->ReleaseHook();
  host_->GrabKeyboard(false);
}

KeyResult CRemCons::OnKeyEvent(const KeyEvent& event) {
  if (event.vkCode <= 0xFF) {
    const uint8_t down = event.keyUp ? 0 : 1;
    keyState_[event.vkCode] = down;
    // The generic codes follow either of their keys.
    keyState_[kVkShift] = keyState_[kVkLeftShift] | keyState_[kVkRightShift];
    keyState_[kVkControl] = keyState_[kVkLeftControl] | keyState_[kVkRightControl];
    keyState_[kVkMenu] = keyState_[kVkLeftAlt] | keyState_[kVkRightAlt];
  }
  if (!keyboard_ || !keyboard_->HoldsHook()) return KeyResult::kPassOn;
  // Typing is activity like the mouse: in HID mode no character messages follow the keys, and
  // without this a user who only types would be timed out as idle.
  RestartIdleCountdown();
  MarkInput();
  return CKeyboard::HookEvent(event);
}

void CRemCons::OnChar(uint32_t ch, uint32_t scanCode) {
  RestartIdleCountdown();
  MarkInput();
  if (keyboard_) keyboard_->OnChar(ch, scanCode);
}

void CRemCons::ReleaseHeldKeys() {
  if (keyboard_ && keyboard_->AnyKeyDown()) {
    ReleaseAllKeys();
  } else {
    keyState_.fill(0);
  }
}

void CRemCons::OnMouseMove(int x, int y, bool controlHeld) {
  if (mouseMessages_) mouseMessages_->OnMove(x, y, controlHeld);
}

void CRemCons::OnMouseHover(int x, int y) {
  if (mouseMessages_) mouseMessages_->OnHover(x, y);
}

void CRemCons::OnMouseButton(MenuBarMouse::Event event, int x, int y) {
  if (mouseMessages_) mouseMessages_->OnButton(event, x, y);
}

}  // namespace remcons
