#include "sim/ConsoleServer.h"

#include <pthread.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <deque>

#include "net/Net.h"
#include "platform/Json.h"
#include "sim/ClientPackets.h"
#include "sim/ConsoleInput.h"
#include "sim/Keystrokes.h"
#include "sim/PeerReadBarrier.h"
#include "sim/StartSequence.h"
#include "sim/StreamEncoder.h"

namespace remcons::sim {
namespace {

constexpr uint32_t kReceiveSliceMs = 50;  // receive time-out: how often the readers look around
constexpr uint32_t kIdleWakeMs = 10;      // the sender's longest sleep

// Real milliseconds, for waits on the peer.
uint32_t RealMs() {
  return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::steady_clock::now().time_since_epoch())
                                   .count());
}

void NameThread(const char* name) {
  pthread_setname_np(pthread_self(), name);
}

ScriptCommand Make(ScriptCommand::Op op, int64_t a = 0, int64_t b = 0, std::string text = {}) {
  ScriptCommand c;
  c.op = op;
  c.a = a;
  c.b = b;
  c.text = std::move(text);
  return c;
}

}  // namespace

struct ConsoleServer::Session {
  int number = 0;
  std::shared_ptr<TcpSocket> socket;
  std::string peer;
  std::thread thread;    // handshake, then the sender
  std::thread receiver;  // started by thread, joined by thread
  std::thread scripter;  // likewise
  std::atomic<bool> stop{false};
  std::atomic<bool> receiveEnded{false};

  // Guarded by the server's mutex.
  bool established = false;
  bool ended = false;
  bool busy = false;                // the sender holds commands or a frame it has not sent yet
  std::deque<ScriptCommand> queue;  // the stream commands, in order
  bool refreshRequested = false;
  bool suspended = false;  // written by the sender under the lock
  bool powerKnown = false;
  bool sentPower = false;
  uint32_t sentEpoch = 0;
  uint64_t sentVersion = 0;
  bool frameValid = false;
  HidKeyboard keyboard;
  bool afterCr = false;

  // The sender's own.
  bool enciphered = false;
  std::unique_ptr<RC4Stream> sendStream;
  std::unique_ptr<ConsoleInput> input;  // thread-safe itself; made before the receiver starts
  StreamEncoder encoder;
  ColorFrame lastSent;
  uint32_t lastFrameMs = 0;
  bool closing = false;
  uint32_t closeStartMs = 0;
  uint32_t keyInterval = 0;
  uint32_t nextKeyChangeMs = 0;
};

ConsoleServer::ConsoleServer(ConsoleServerOptions options)
    : options_(std::move(options)),
      clock_(options_.clock ? *options_.clock : SystemClock()),
      startMs_(clock_.NowMs()),
      screen_(options_.screen, clock_.NowMs()),
      silent_(options_.silent),
      frameIntervalMs_(options_.frameIntervalMs),
      keyChangeIntervalMs_(options_.keyChangeIntervalMs) {}

ConsoleServer::~ConsoleServer() {
  Stop();
}

bool ConsoleServer::Start(std::string* error) {
  if (started_) {
    if (error) *error = "already started";
    return false;
  }
  if (!options_.logFile.empty() && !log_.OpenFile(options_.logFile, error)) return false;
  listener_ = TcpSocket::Listen(options_.bind, options_.port);
  if (!listener_) {
    if (error) {
      *error = "cannot listen on " + options_.bind + ":" + std::to_string(options_.port) + ": " +
               SocketErrorText(LastSocketError());
    }
    return false;
  }
  port_ = listener_->LocalPort();
  started_ = true;
  acceptThread_ = std::thread([this] { AcceptLoop(); });
  return true;
}

void ConsoleServer::Stop() {
  if (!started_) return;
  stop_ = true;
  listener_->Close();
  {
    std::lock_guard lock(mutex_);
    for (const auto& s : sessions_) {
      s->stop = true;
      s->socket->Close();
    }
    changed_.notify_all();
  }
  if (acceptThread_.joinable()) acceptThread_.join();
  ReapSessions(true);
  started_ = false;
}

uint32_t ConsoleServer::LogTime() {
  return clock_.NowMs() - startMs_;
}

void ConsoleServer::LogEvent(int session, const std::string& kind, std::vector<uint8_t> bytes,
                             std::string fields) {
  PacketRecord record;
  record.timeMs = LogTime();
  record.session = session;
  record.kind = kind;
  record.bytes = std::move(bytes);
  record.fields = std::move(fields);
  log_.Add(std::move(record));
  std::lock_guard lock(mutex_);
  changed_.notify_all();
}

std::shared_ptr<ConsoleServer::Session> ConsoleServer::Current() const {
  std::lock_guard lock(mutex_);
  return current_;
}

void ConsoleServer::ReapSessions(bool all) {
  std::vector<std::shared_ptr<Session>> done;
  {
    std::lock_guard lock(mutex_);
    auto it = sessions_.begin();
    while (it != sessions_.end()) {
      if (all || (*it)->ended) {
        done.push_back(*it);
        it = sessions_.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (const auto& s : done) {
    if (s->thread.joinable()) s->thread.join();
  }
}

// --- Accepting ---

void ConsoleServer::AcceptLoop() {
  NameThread("mpsim-accept");
  while (!stop_) {
    ReapSessions(false);
    std::string peer;
    std::unique_ptr<TcpSocket> accepted = listener_->Accept(&peer);
    if (!accepted) {
      if (stop_) break;
      clock_.SleepMs(10, &stop_);
      continue;
    }
    std::shared_ptr<Session> old;
    {
      std::lock_guard lock(mutex_);
      ++counters_.connections;
      old = current_;
      if (old && old->ended) old.reset();
    }
    if (old) {
      if (!options_.seizeOnNewConnection) {
        {
          std::lock_guard lock(mutex_);
          ++counters_.refused;
        }
        LogEvent(0, "refused", {}, "\"peer\":" + JsonString(peer));
        accepted->Close();
        std::lock_guard lock(mutex_);
        ++counters_.closed;
        changed_.notify_all();
        continue;
      }
      // The new console takes the session over: the old one is told so and then let go.
      bool established;
      {
        std::lock_guard lock(mutex_);
        established = old->established;
        if (established) old->queue.push_back(Make(ScriptCommand::kSeize));
        changed_.notify_all();
      }
      const auto oldEnded = [&] {
        std::lock_guard lock(mutex_);
        return old->ended || stop_;
      };
      if (!established || !WaitFor(oldEnded, options_.closeWaitMs + 1000)) {
        old->stop = true;
        old->socket->Close();
        WaitFor(oldEnded, 5000);
      }
      if (stop_) break;
    }
    auto session = std::make_shared<Session>();
    session->socket = std::shared_ptr<TcpSocket>(std::move(accepted));
    session->peer = peer;
    {
      std::lock_guard lock(mutex_);
      session->number = ++sessionCount_;
      current_ = session;
      sessions_.push_back(session);
    }
    session->thread = std::thread([this, session] { RunSession(session); });
  }
}

// --- One session ---

void ConsoleServer::RunSession(const std::shared_ptr<Session>& session) {
  NameThread("mpsim-session");
  Session& s = *session;
  s.socket->SetNoDelay(true);
  s.socket->SetReceiveTimeout(kReceiveSliceMs);
  if (Handshake(s)) {
    s.receiver = std::thread([this, session] { ReceiveLoop(session); });
    SendLoop(session);
  }
  s.stop = true;
  s.socket->Close();
  if (s.receiver.joinable()) s.receiver.join();
  if (s.scripter.joinable()) s.scripter.join();
  LogEvent(s.number, "session-end", {}, "\"dir\":\"event\"");
  std::lock_guard lock(mutex_);
  s.ended = true;
  ++counters_.closed;
  if (current_ == session) current_.reset();
  changed_.notify_all();
}

bool ConsoleServer::Handshake(Session& s) {
  const auto lookup = [this](uint32_t index) -> const uint8_t* {
    if (index == options_.keyIndex) return options_.keys.decryptKey.data();
    const auto it = options_.moreKeys.find(index);
    return it == options_.moreKeys.end() ? nullptr : it->second.decryptKey.data();
  };
  StartSequenceParser parser(lookup);
  uint8_t buffer[4096];
  std::vector<uint8_t> leftover;
  uint32_t lastByteMs = RealMs();
  StartSequenceParser::Status status = StartSequenceParser::Status::kMore;
  while (status == StartSequenceParser::Status::kMore) {
    if (s.stop) return false;
    const int n = s.socket->Receive(buffer, sizeof buffer);
    if (n == 0) return false;
    if (n < 0) {
      if (LastSocketError() != kWsaEtimedout) return false;
      if (parser.InLogin() && RealMs() - lastByteMs >= options_.loginQuietMs) {
        status = parser.Quiet();
      }
      continue;
    }
    {
      std::lock_guard lock(mutex_);
      counters_.bytesReceived += static_cast<uint64_t>(n);
    }
    lastByteMs = RealMs();
    size_t used = 0;
    status = parser.Feed(buffer, static_cast<size_t>(n), &used);
    if (status == StartSequenceParser::Status::kDone) {
      leftover.assign(buffer + used, buffer + n);
    }
  }

  const StartSequence& start = parser.result();
  if (status == StartSequenceParser::Status::kFailed) {
    {
      std::lock_guard lock(mutex_);
      ++counters_.startFailures;
    }
    LogEvent(s.number, "start-failed", parser.headerBytes(),
             "\"error\":" + JsonString(parser.error()) +
                 ",\"skipped\":" + std::to_string(start.skipped));
    const std::string text = "\r\n" + parser.error() + "\r\n";
    s.socket->SendAll(text.data(), text.size());
    return false;
  }

  bool loginOk = true;
  if (options_.checkLogin) {
    const size_t colon = options_.login.find(':');
    const std::string name = options_.login.substr(0, colon);
    const std::string password = colon == std::string::npos ? "" : options_.login.substr(colon + 1);
    loginOk = start.name == name && start.password == password;
  }
  const bool enciphered = start.header && options_.encryption;
  char fields[160];
  std::snprintf(fields, sizeof fields,
                "\"header\":%s,\"keyIndex\":%u,\"enciphered\":%s,\"passwordLength\":%zu,"
                "\"crs\":%d,\"skipped\":%zu,\"login\":\"%s\",\"name\":",
                start.header ? "true" : "false", start.keyIndex, enciphered ? "true" : "false",
                start.password.size(), start.crCount, start.skipped,
                options_.checkLogin ? (loginOk ? "accepted" : "refused") : "unchecked");
  // The password never reaches the log, only its length.
  LogEvent(s.number, "start", parser.headerBytes(), fields + JsonString(start.name));
  if (!loginOk) {
    {
      std::lock_guard lock(mutex_);
      ++counters_.loginFailures;
    }
    static const char kRefusal[] = "\r\nLogin incorrect\r\n";
    s.socket->SendAll(kRefusal, sizeof kRefusal - 1);
    return false;
  }

  // Silence: the console waits for a start reply that does not come (until silence ends).
  for (;;) {
    {
      std::lock_guard lock(mutex_);
      if (!silent_) break;
    }
    if (s.stop) return false;
    const int n = s.socket->Receive(buffer, sizeof buffer);
    if (n == 0 || (n < 0 && LastSocketError() != kWsaEtimedout)) return false;
    if (n > 0) {
      leftover.insert(leftover.end(), buffer, buffer + n);
      LogEvent(s.number, "unanswered", std::vector<uint8_t>(buffer, buffer + n), {});
    }
  }

  const ConsoleKeys& keys = start.keyIndex == options_.keyIndex || !start.header
                                ? options_.keys
                                : options_.moreKeys.at(start.keyIndex);
  std::string reply = options_.replyText.empty()
                          ? "\r\n" + options_.screen.serverName + " console service\r\n"
                          : options_.replyText;
  // The reply is recognised by its ESC [: the text must not contain one of its own.
  reply.erase(std::remove(reply.begin(), reply.end(), '\x1B'), reply.end());
  reply += enciphered ? "\x1B[R" : "\x1B[r";
  if (s.socket->SendAll(reply.data(), reply.size()) < 0) return false;

  s.enciphered = enciphered;
  if (enciphered) s.sendStream = std::make_unique<RC4Stream>(keys.encryptKey.data());
  ConsoleInput::Options inputOptions;
  inputOptions.packetTimeoutMs = options_.packetTimeoutMs;
  inputOptions.keyChangeGraceMs = options_.keyChangeGraceMs;
  s.input = std::make_unique<ConsoleInput>(enciphered ? parser.TakeReceiveStream() : nullptr,
                                           keys.decryptKey.data(), inputOptions);
  {
    std::lock_guard lock(mutex_);
    counters_.bytesSent += reply.size();
    ++counters_.sessions;
    s.established = true;
    changed_.notify_all();
  }
  if (!leftover.empty()) {
    std::vector<ClientPacket> packets;
    s.input->Feed(leftover.data(), leftover.size(), RealMs(), &packets);
    for (const ClientPacket& p : packets) Dispatch(s, p);
  }
  return true;
}

void ConsoleServer::ReceiveLoop(const std::shared_ptr<Session>& session) {
  NameThread("mpsim-recv");
  Session& s = *session;
  uint8_t buffer[4096];
  std::vector<ClientPacket> packets;
  while (!s.stop) {
    const int n = s.socket->Receive(buffer, sizeof buffer);
    packets.clear();
    if (n > 0) {
      {
        std::lock_guard lock(mutex_);
        counters_.bytesReceived += static_cast<uint64_t>(n);
      }
      s.input->Feed(buffer, static_cast<size_t>(n), RealMs(), &packets);
    } else if (n < 0 && LastSocketError() == kWsaEtimedout) {
      s.input->Tick(RealMs(), &packets);
    } else {
      break;  // the console closed the connection, or it failed
    }
    for (const ClientPacket& p : packets) Dispatch(s, p);
  }
  // Whatever was half received is logged before the session goes.
  packets.clear();
  s.input->Tick(RealMs() + options_.packetTimeoutMs + options_.keyChangeGraceMs, &packets);
  for (const ClientPacket& p : packets) Dispatch(s, p);
  s.receiveEnded = true;
  s.stop = true;
  std::lock_guard lock(mutex_);
  changed_.notify_all();
}

void ConsoleServer::Dispatch(Session& s, const ClientPacket& p) {
  const uint32_t now = clock_.NowMs();
  {
    std::lock_guard lock(mutex_);
    switch (p.kind) {
      case PacketKind::kHidReport:
        ++counters_.hidReports;
        for (const KeyStroke& k : s.keyboard.Report(p.modifiers, p.keys)) screen_.Key(k, now);
        break;
      case PacketKind::kMouseMove:
        ++counters_.mouseMoves;
        screen_.Pointer(p.x, p.y);
        break;
      case PacketKind::kMousePress:
      case PacketKind::kMouseRelease:
        ++counters_.mouseButtons;
        screen_.Button(p.button, p.kind == PacketKind::kMousePress);
        break;
      case PacketKind::kMouseClick:
        ++counters_.mouseButtons;
        break;
      case PacketKind::kPowerButton:
        ++counters_.powerButtons;
        screen_.PowerButton(p.button, now);
        break;
      case PacketKind::kRefresh:
        ++counters_.refreshRequests;
        s.refreshRequested = true;
        break;
      case PacketKind::kKeepAliveActivity:
        ++counters_.keepAliveActivity;
        break;
      case PacketKind::kKeepAliveIdle:
        ++counters_.keepAliveIdle;
        break;
      case PacketKind::kChar:
      case PacketKind::kHotKey:
      case PacketKind::kTerminalKey:
      case PacketKind::kCtrlAltDel:
        ++counters_.keyBytes;
        for (const KeyStroke& k : TerminalStrokes(p, s.afterCr)) screen_.Key(k, now);
        s.afterCr = p.kind == PacketKind::kChar && p.key == 0x0D;
        break;
      case PacketKind::kJoinRequest:
        if (options_.answerJoinRequests && p.slot != 0) {
          // The answer names the slot and the user: the login text up to its first CR.
          const std::string name =
              options_.joinName.empty() ? p.text.substr(0, p.text.find('\r')) : options_.joinName;
          s.queue.push_back(Make(ScriptCommand::kText, 0x80, 0, std::string(1, p.slot) + name));
        }
        break;
      case PacketKind::kUnknown:
      case PacketKind::kTruncated:
      case PacketKind::kOversize:
      case PacketKind::kStartHeader:
        ++counters_.badPackets;
        break;
      default:
        break;
    }
    changed_.notify_all();
  }
  // Logged once acted on: whoever waits for the packet sees its effect.
  LogEvent(s.number, PacketKindName(p.kind), p.bytes, p.FieldsJson());
}

void ConsoleServer::ScriptLoop(const std::shared_ptr<Session>& session) {
  NameThread("mpsim-script");
  for (const ScriptCommand& command : options_.script) {
    if (session->stop || stop_) break;
    std::string error;
    if (!ExecuteIn(command, session, &error)) {
      LogEvent(session->number, "script-error", {},
               "\"line\":" + std::to_string(command.line) + ",\"error\":" + JsonString(error));
    }
  }
}

// --- Sending ---

void ConsoleServer::SetSuspended(Session& s, bool suspended) {
  std::lock_guard lock(mutex_);
  s.suspended = suspended;
}

bool ConsoleServer::SendBytes(Session& s, std::vector<uint8_t> bytes) {
  if (bytes.empty()) return true;
  if (s.sendStream) s.sendStream->Apply(bytes.data(), bytes.size());
  if (s.socket->SendAll(bytes.data(), bytes.size()) < 0) return false;
  std::lock_guard lock(mutex_);
  counters_.bytesSent += bytes.size();
  return true;
}

bool ConsoleServer::DoKeyChange(Session& s) {
  if (!s.enciphered) {
    // The console steps its keystreams all the same; they are just not used.
    s.encoder.KeyChange();
    s.input->BeginKeyChange(RealMs());
    std::lock_guard lock(mutex_);
    ++counters_.keyChanges;
    return true;
  }
  // One change at a time: the last one's switch must be placed first.
  const uint32_t waitStart = RealMs();
  while (s.input->KeyChangePending() && !s.stop &&
         RealMs() - waitStart < options_.keyChangeGraceMs + 1000) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  const uint64_t offset = s.encoder.KeyChange();
  s.input->BeginKeyChange(RealMs());
  if (!SendBytes(s, s.encoder.TakeBytes())) return false;
  // Nothing more goes out until the console has read the command: its next read must begin
  // with the first byte of the new keystream.
  const ReadBarrier read = WaitUntilPeerHasRead(s.socket->Descriptor(), options_.keyChangeTimeoutMs,
                                                options_.keyChangeSettleMs, &s.stop);
  s.sendStream->Rekey();
  s.input->ConfirmKeyChange(RealMs());
  {
    std::lock_guard lock(mutex_);
    ++counters_.keyChanges;
    if (read == ReadBarrier::kConfirmed) ++counters_.keyChangesConfirmed;
  }
  LogEvent(s.number, "key-change", {},
           "\"dir\":\"out\",\"offset\":" + std::to_string(offset) + ",\"read\":\"" +
               ReadBarrierName(read) + "\"");
  return read != ReadBarrier::kStopped && read != ReadBarrier::kFailed;
}

bool ConsoleServer::SendStep(Session& s) {
  const uint32_t now = clock_.NowMs();
  std::deque<ScriptCommand> commands;
  bool refresh;
  bool power;
  uint32_t epoch;
  uint32_t interval;
  uint32_t keyInterval;
  {
    std::lock_guard lock(mutex_);
    if (s.stop) return false;
    screen_.Tick(now);
    if (silent_) return true;
    commands.swap(s.queue);
    refresh = s.refreshRequested;
    s.refreshRequested = false;
    power = screen_.power();
    epoch = screen_.powerEpoch();
    interval = frameIntervalMs_;
    keyInterval = keyChangeIntervalMs_;
    s.busy = true;
  }

  for (const ScriptCommand& c : commands) {
    switch (c.op) {
      case ScriptCommand::kText:
        s.encoder.Text(static_cast<uint8_t>(c.a), c.text);
        break;
      case ScriptCommand::kSuspend:
        s.encoder.VideoSuspended();
        SetSuspended(s, true);
        break;
      case ScriptCommand::kResume:
        if (s.suspended) {
          SetSuspended(s, false);
          s.frameValid = false;  // the console cleared its screen
        }
        break;
      case ScriptCommand::kSeize:
      case ScriptCommand::kKill:
      case ScriptCommand::kExit:
        if (!s.closing) {
          if (c.op == ScriptCommand::kSeize) s.encoder.Seize();
          if (c.op == ScriptCommand::kKill) s.encoder.Kill();
          if (c.op == ScriptCommand::kExit) s.encoder.Exit();
          s.closing = true;
          s.closeStartMs = RealMs();
        }
        break;
      case ScriptCommand::kKeyChange:
        if (!s.closing && !DoKeyChange(s)) return false;
        break;
      case ScriptCommand::kDrop:
        s.socket->Close();
        return false;
      case ScriptCommand::kRefresh:
        refresh = true;
        break;
      case ScriptCommand::kResync:
        s.encoder.Resync();
        break;
      default:  // the other commands act on the model, never through the queue
        break;
    }
  }

  if (!s.closing) {
    const bool powerChanged =
        !s.powerKnown || power != s.sentPower || (power && epoch != s.sentEpoch);
    if (powerChanged) {
      if (s.powerKnown && s.sentPower) {
        s.encoder.PowerOff();
        s.encoder.ModePowerOff();
      } else if (!s.powerKnown && !power) {
        s.encoder.ModePowerOff();
      }
      if (power && s.powerKnown) s.encoder.PowerOn();
      s.frameValid = false;
    }
    ColorFrame frame;
    uint64_t version = 0;
    bool draw = false;
    if (power && !s.suspended) {
      std::lock_guard lock(mutex_);
      version = screen_.version();
      draw =
          refresh || !s.frameValid || (version != s.sentVersion && now - s.lastFrameMs >= interval);
      if (draw) frame = screen_.Render();
    } else if (refresh) {
      // Nothing to draw; a latched console still needs the mark to start reading again.
      s.encoder.Resync();
      if (!power) s.encoder.ModePowerOff();
    }
    if (draw) {
      const bool whole = refresh || !s.frameValid || frame.width() != s.lastSent.width() ||
                         frame.height() != s.lastSent.height();
      if (whole) {
        if (refresh) s.encoder.Resync();
        s.encoder.SetMode(frame.width(), frame.height());
        s.encoder.EncodeFullFrame(frame);
      } else {
        s.encoder.EncodeFrame(frame, s.lastSent);
      }
      s.lastSent = frame;
      s.lastFrameMs = now;
      std::lock_guard lock(mutex_);
      ++counters_.frames;
      if (whole) ++counters_.fullFrames;
      s.frameValid = true;
      s.sentVersion = version;
      sentScreen_ = frame;
    }
    {
      std::lock_guard lock(mutex_);
      s.powerKnown = true;
      s.sentPower = power;
      s.sentEpoch = epoch;
    }

    if (keyInterval != s.keyInterval) {
      s.keyInterval = keyInterval;
      s.nextKeyChangeMs = now + keyInterval;
    } else if (keyInterval != 0 && static_cast<int32_t>(now - s.nextKeyChangeMs) >= 0) {
      s.nextKeyChangeMs = now + keyInterval;
      if (!DoKeyChange(s)) return false;
    }
  }

  s.encoder.Flush();
  if (!SendBytes(s, s.encoder.TakeBytes())) return false;
  {
    std::lock_guard lock(mutex_);
    s.busy = false;
    changed_.notify_all();
  }
  // After seize, kill or exit the console ends the session itself; it gets a while to do so.
  return !s.closing || (!s.receiveEnded && RealMs() - s.closeStartMs < options_.closeWaitMs);
}

void ConsoleServer::SendLoop(const std::shared_ptr<Session>& session) {
  NameThread("mpsim-send");
  Session& s = *session;
  bool first = true;
  while (SendStep(s)) {
    if (first && !options_.script.empty()) {
      // The script starts once the console has its first picture.
      s.scripter = std::thread([this, session] { ScriptLoop(session); });
    }
    first = false;
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, std::chrono::milliseconds(kIdleWakeMs), [&] {
      return s.stop || !s.queue.empty() || s.refreshRequested ||
             (!silent_ && screen_.version() != s.sentVersion && screen_.power());
    });
  }
}

// --- Accessors ---

ColorFrame ConsoleServer::Screen() const {
  std::lock_guard lock(mutex_);
  return screen_.Render();
}

std::vector<uint32_t> ConsoleServer::ScreenPixels(int* width, int* height) const {
  const ColorFrame frame = Screen();
  if (width) *width = frame.width();
  if (height) *height = frame.height();
  std::vector<uint32_t> pixels;
  pixels.reserve(frame.pixels().size());
  for (uint16_t c : frame.pixels()) {
    const uint32_t blue = (c & 0xFu) << 4, green = c & 0xF0u, red = (c >> 4) & 0xF0u;
    pixels.push_back(blue | green << 8 | red << 16 | 0xFF000000u);
  }
  return pixels;
}

ColorFrame ConsoleServer::SentScreen() const {
  std::lock_guard lock(mutex_);
  return sentScreen_;
}

std::string ConsoleServer::ScreenText() const {
  std::lock_guard lock(mutex_);
  return screen_.Text();
}

bool ConsoleServer::PowerOn() const {
  std::lock_guard lock(mutex_);
  return screen_.power();
}

ConsoleCounters ConsoleServer::Counters() const {
  std::lock_guard lock(mutex_);
  return counters_;
}

int ConsoleServer::SessionNumber() const {
  std::lock_guard lock(mutex_);
  return current_ && current_->established && !current_->ended ? current_->number : 0;
}

// --- Waits ---

bool ConsoleServer::WaitFor(const std::function<bool()>& condition, uint32_t timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  std::unique_lock lock(mutex_);
  for (;;) {
    lock.unlock();
    const bool met = condition();
    lock.lock();
    if (met) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    changed_.wait_for(lock, std::chrono::milliseconds(10));
  }
}

bool ConsoleServer::WaitForSession(uint32_t timeoutMs, int number) {
  return WaitFor(
      [&] {
        std::lock_guard lock(mutex_);
        if (!current_ || !current_->established || current_->ended) return false;
        return number == 0 || current_->number == number;
      },
      timeoutMs);
}

bool ConsoleServer::WaitForNoSession(uint32_t timeoutMs) {
  return WaitFor(
      [&] {
        std::lock_guard lock(mutex_);
        return !current_;
      },
      timeoutMs);
}

bool ConsoleServer::WaitForPackets(const std::string& kind, size_t count, uint32_t timeoutMs) {
  return WaitFor([&] { return log_.Count(kind) >= count; }, timeoutMs);
}

bool ConsoleServer::WaitUntilSent(uint32_t timeoutMs) {
  return WaitFor(
      [&] {
        std::lock_guard lock(mutex_);
        const auto& s = current_;
        if (!s || !s->established || s->ended || s->busy || silent_) return false;
        if (!s->queue.empty() || s->refreshRequested || !s->powerKnown) return false;
        if (s->sentPower != screen_.power()) return false;
        if (!screen_.power() || s->suspended) return true;
        return s->sentEpoch == screen_.powerEpoch() && s->sentVersion == screen_.version();
      },
      timeoutMs);
}

// --- Commands ---

bool ConsoleServer::Execute(std::string_view line, std::string* error) {
  std::optional<ScriptCommand> command;
  std::string why;
  if (!ParseScriptLine(line, &command, &why)) {
    if (error) *error = why;
    return false;
  }
  return !command || Execute(*command, error);
}

bool ConsoleServer::Execute(const ScriptCommand& command, std::string* error) {
  return ExecuteIn(command, nullptr, error);
}

bool ConsoleServer::ExecuteIn(const ScriptCommand& c, const std::shared_ptr<Session>& session,
                              std::string* error) {
  const std::atomic<bool>& stop = session ? session->stop : stop_;
  const uint32_t now = clock_.NowMs();
  // Commands for the stream go to the script's session, or to the running one.
  const auto queue = [&](const ScriptCommand& command) {
    std::lock_guard lock(mutex_);
    const std::shared_ptr<Session> target = session ? session : current_;
    if (!target || target->ended || !target->established) {
      if (error) *error = "no console session";
      return false;
    }
    target->queue.push_back(command);
    changed_.notify_all();
    return true;
  };
  const auto model = [&](const std::function<void()>& change) {
    std::lock_guard lock(mutex_);
    change();
    changed_.notify_all();
    return true;
  };
  switch (c.op) {
    case ScriptCommand::kWait:
      clock_.SleepMs(static_cast<uint32_t>(c.a), &stop);
      return true;
    case ScriptCommand::kWaitPacket: {
      int number = 0;
      {
        std::lock_guard lock(mutex_);
        const std::shared_ptr<Session> target = session ? session : current_;
        if (target) number = target->number;
      }
      const bool met =
          WaitFor([&] { return stop || log_.Count(c.text, number) >= static_cast<size_t>(c.b); },
                  static_cast<uint32_t>(c.c));
      if (!met || stop) {
        if (error) *error = "no " + std::to_string(c.b) + " " + c.text + " packets in time";
        return false;
      }
      return true;
    }
    case ScriptCommand::kMode: {
      bool ok;
      model([&] { ok = screen_.SetSize(static_cast<int>(c.a), static_cast<int>(c.b)); });
      if (!ok && error) *error = "the stream cannot carry that size";
      return ok;
    }
    case ScriptCommand::kText:
      return queue(c);
    case ScriptCommand::kSuspend:
      return queue(c);
    case ScriptCommand::kResume:
      return queue(c);
    case ScriptCommand::kSeize:
      return queue(c);
    case ScriptCommand::kKill:
      return queue(c);
    case ScriptCommand::kExit:
      return queue(c);
    case ScriptCommand::kKeyChange:
      return queue(c);
    case ScriptCommand::kKeyChangeEvery:
      return model([&] { keyChangeIntervalMs_ = static_cast<uint32_t>(c.a); });
    case ScriptCommand::kSilence:
      return model([&] { silent_ = c.a != 0; });
    case ScriptCommand::kDrop:
      return queue(c);
    case ScriptCommand::kPower:
      return model([&] {
        if (c.a == 2) {
          screen_.PowerButton(2, now);
        } else {
          screen_.SetPower(c.a == 1, now);
        }
      });
    case ScriptCommand::kButton:
      return model([&] { screen_.PowerButton(static_cast<int>(c.a), now); });
    case ScriptCommand::kRestart:
      return model([&] { screen_.Restart(now); });
    case ScriptCommand::kPrint:
      return model([&] { screen_.Print(c.text); });
    case ScriptCommand::kType:
      return model([&] {
        for (char ch : c.text) screen_.Key(KeyStroke::FromText(ch), now);
      });
    case ScriptCommand::kRefresh:
      return queue(c);
    case ScriptCommand::kResync:
      return queue(c);
    case ScriptCommand::kFrameInterval:
      return model([&] { frameIntervalMs_ = static_cast<uint32_t>(c.a); });
  }
  return false;
}

void ConsoleServer::SetMode(int width, int height) {
  Execute(Make(ScriptCommand::kMode, width, height));
}
void ConsoleServer::SendText(uint8_t channel, std::string text) {
  Execute(Make(ScriptCommand::kText, channel, 0, std::move(text)));
}
void ConsoleServer::SuspendVideo() {
  Execute(Make(ScriptCommand::kSuspend));
}
void ConsoleServer::ResumeVideo() {
  Execute(Make(ScriptCommand::kResume));
}
void ConsoleServer::Seize() {
  Execute(Make(ScriptCommand::kSeize));
}
void ConsoleServer::Kill() {
  Execute(Make(ScriptCommand::kKill));
}
void ConsoleServer::Exit() {
  Execute(Make(ScriptCommand::kExit));
}
void ConsoleServer::ChangeKeys() {
  Execute(Make(ScriptCommand::kKeyChange));
}
void ConsoleServer::SetKeyChangeInterval(uint32_t ms) {
  Execute(Make(ScriptCommand::kKeyChangeEvery, ms));
}
void ConsoleServer::SetSilent(bool silent) {
  Execute(Make(ScriptCommand::kSilence, silent ? 1 : 0));
}
void ConsoleServer::DropConnection() {
  Execute(Make(ScriptCommand::kDrop));
}
void ConsoleServer::SetPower(bool on) {
  Execute(Make(ScriptCommand::kPower, on ? 1 : 0));
}
void ConsoleServer::PowerCycle() {
  Execute(Make(ScriptCommand::kPower, 2));
}
void ConsoleServer::PressPowerButton(int button) {
  Execute(Make(ScriptCommand::kButton, button));
}
void ConsoleServer::Restart() {
  Execute(Make(ScriptCommand::kRestart));
}
void ConsoleServer::Print(std::string text) {
  Execute(Make(ScriptCommand::kPrint, 0, 0, std::move(text)));
}
void ConsoleServer::Type(std::string_view text) {
  Execute(Make(ScriptCommand::kType, 0, 0, std::string(text)));
}
void ConsoleServer::Refresh() {
  Execute(Make(ScriptCommand::kRefresh));
}
void ConsoleServer::Resync() {
  Execute(Make(ScriptCommand::kResync));
}
void ConsoleServer::SetFrameInterval(uint32_t ms) {
  Execute(Make(ScriptCommand::kFrameInterval, ms));
}

}  // namespace remcons::sim
