// The simulator's console service: a management processor's console port, written from the
// protocol. It takes the console's start sequence, answers with the start reply, enciphers what
// it sends and deciphers what it receives, streams a simulated server screen through the stream
// encoder (a power-on screen, then a text console that shows what is typed, and a pointer that
// follows the mouse), acts on the power buttons, refresh requests and keep-alives, runs scripted
// events (mode changes, texts, seize, key changes, silence, dropped connections), and logs every
// packet it receives as a JSON line.
//
// One console session at a time: a second connection takes the session over (the first console
// gets the seize command), or is refused when seizing is switched off.
//
// Threads: an accept thread; per session a session thread (handshake, then the sender), a receive
// thread and, with a script, a script thread. Stop() closes every socket and joins them all.
// Timing rules (boot time, frame interval, key change interval, script waits, log times) use the
// options' Clock; waits on the peer (handshake quiet time, the key change read barrier) use real
// time.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/Clock.h"
#include "platform/Socket.h"
#include "sim/ColorFrame.h"
#include "sim/ConsoleScript.h"
#include "sim/PacketLog.h"
#include "sim/ServerScreen.h"

namespace remcons::sim {

struct ClientPacket;

// The two session keys of a key index, named as the console names them: decryptKey keys the
// console's send stream (what this server deciphers), encryptKey the console's receive stream
// (what this server enciphers with).
struct ConsoleKeys {
  std::array<uint8_t, 16> decryptKey{};
  std::array<uint8_t, 16> encryptKey{};
};

struct ConsoleServerOptions {
  std::string bind = "127.0.0.1";
  uint16_t port = 0;  // 0: an ephemeral port (Port() tells which)

  // Cipher: with encryption on, a console that sends the FF C0 header gets an enciphered session
  // (ESC [ R); otherwise the session is clear (ESC [ r).
  bool encryption = true;
  uint32_t keyIndex = 0;
  ConsoleKeys keys;                          // the keys of keyIndex
  std::map<uint32_t, ConsoleKeys> moreKeys;  // further key indexes this server knows

  // Login: logged always; checked only when checkLogin is set ("name:password" as the console's
  // login property decodes it, ':' standing for the carriage return between name and password).
  bool checkLogin = false;
  std::string login;
  std::string replyText;  // text before the start reply; empty: a greeting with the server name

  // The simulated server.
  ServerScreenOptions screen;
  uint32_t frameIntervalMs = 40;  // frame updates at most this often (25 a second)

  // Behaviour.
  bool silent = false;                  // accept, read, never reply
  bool seizeOnNewConnection = true;     // a second console takes over; false: it is refused
  bool answerJoinRequests = true;       // answer FF CA with a channel 0x80 text (slot and name)
  std::string joinName;                 // the name answered; empty: the login's name
  uint32_t keyChangeIntervalMs = 0;     // 0: key changes only on command
  uint32_t keyChangeTimeoutMs = 10000;  // longest wait for the console to read a key change
  uint32_t keyChangeSettleMs = 200;     // stands in for the read when it cannot be seen
  uint32_t keyChangeGraceMs = 50;       // bytes may still come with the old key this long
  uint32_t packetTimeoutMs = 1000;      // an incomplete packet is dropped after this
  uint32_t loginQuietMs = 300;          // the login is complete after this quiet time
  uint32_t closeWaitMs = 5000;          // after seize/kill/exit, wait this long for the close

  std::vector<ScriptCommand> script;  // run at the start of every session
  std::string logFile;                // JSON lines, appended; empty: in memory only
  Clock* clock = nullptr;             // nullptr: the system clock
};

struct ConsoleCounters {
  uint64_t connections = 0;    // accepted
  uint64_t sessions = 0;       // start replies sent
  uint64_t startFailures = 0;  // start sequences that could not be read (keys, garbage)
  uint64_t loginFailures = 0;
  uint64_t refused = 0;  // connections refused while a session ran
  uint64_t closed = 0;   // connections that have ended, refused ones included
  uint64_t keepAliveActivity = 0;
  uint64_t keepAliveIdle = 0;
  uint64_t refreshRequests = 0;
  uint64_t powerButtons = 0;
  uint64_t hidReports = 0;
  uint64_t mouseMoves = 0;
  uint64_t mouseButtons = 0;
  uint64_t keyBytes = 0;    // terminal characters, hot keys and escape sequences
  uint64_t badPackets = 0;  // unknown, truncated, oversize
  uint64_t frames = 0;      // frame updates sent
  uint64_t fullFrames = 0;  // of which whole screens
  uint64_t bytesSent = 0;
  uint64_t bytesReceived = 0;
  uint64_t keyChanges = 0;
  uint64_t keyChangesConfirmed = 0;  // the console's read was seen
};

class ConsoleServer {
 public:
  explicit ConsoleServer(ConsoleServerOptions options);
  ~ConsoleServer();
  ConsoleServer(const ConsoleServer&) = delete;
  ConsoleServer& operator=(const ConsoleServer&) = delete;

  // Binds, opens the log file and starts accepting; false with error when it cannot.
  bool Start(std::string* error = nullptr);
  // Ends the session and the accept thread and joins every thread. Safe to call twice.
  void Stop();
  uint16_t Port() const { return port_; }

  // --- The simulated server (any thread) ---
  // What the server shows now, 12-bit colours.
  ColorFrame Screen() const;
  // The same as 32-bit pixels, bytes blue, green, red, 0xFF, each component times 16.
  std::vector<uint32_t> ScreenPixels(int* width, int* height) const;
  // The picture the stream has drawn so far (the last frame sent).
  ColorFrame SentScreen() const;
  // The text console's visible lines.
  std::string ScreenText() const;
  bool PowerOn() const;

  // --- The log and counters ---
  std::vector<PacketRecord> Packets() const { return log_.Records(); }
  std::vector<std::string> LogLines() const { return log_.Lines(); }
  size_t PacketCount(const std::string& kind, int session = 0) const {
    return log_.Count(kind, session);
  }
  ConsoleCounters Counters() const;
  // The number of the running session (1 for the first), 0 when none runs.
  int SessionNumber() const;

  // --- Waits, each bounded (real milliseconds) ---
  // A session has got its start reply (the n-th, counting from 1; 0: any running one).
  bool WaitForSession(uint32_t timeoutMs, int number = 0);
  // No session runs.
  bool WaitForNoSession(uint32_t timeoutMs);
  bool WaitForPackets(const std::string& kind, size_t count, uint32_t timeoutMs);
  // The running session has sent the screen as it is now and every command given so far.
  bool WaitUntilSent(uint32_t timeoutMs);
  // Any condition of the caller's, checked whenever something happens (and every 10 ms).
  bool WaitFor(const std::function<bool()>& condition, uint32_t timeoutMs);

  // --- Commands: the script's, for tests and demos ---
  // Runs one command (a "wait" waits in the caller); false with error when it does not apply.
  bool Execute(const ScriptCommand& command, std::string* error = nullptr);
  bool Execute(std::string_view line, std::string* error = nullptr);

  void SetMode(int width, int height);
  void SendText(uint8_t channel, std::string text);
  void SuspendVideo();
  void ResumeVideo();
  void Seize();
  void Kill();
  void Exit();
  void ChangeKeys();
  void SetKeyChangeInterval(uint32_t ms);
  void SetSilent(bool silent);
  void DropConnection();
  void SetPower(bool on);
  void PowerCycle();
  void PressPowerButton(int button);
  void Restart();
  void Print(std::string text);
  void Type(std::string_view text);
  void Refresh();
  void Resync();
  void SetFrameInterval(uint32_t ms);

 private:
  struct Session;

  void AcceptLoop();
  void RunSession(const std::shared_ptr<Session>& session);
  bool Handshake(Session& s);
  void ReceiveLoop(const std::shared_ptr<Session>& session);
  void ScriptLoop(const std::shared_ptr<Session>& session);
  void SendLoop(const std::shared_ptr<Session>& session);
  bool SendStep(Session& s);
  bool SendBytes(Session& s, std::vector<uint8_t> bytes);
  void SetSuspended(Session& s, bool suspended);
  bool DoKeyChange(Session& s);
  void Dispatch(Session& s, const ClientPacket& packet);
  bool ExecuteIn(const ScriptCommand& command, const std::shared_ptr<Session>& session,
                 std::string* error);
  void LogEvent(int session, const std::string& kind, std::vector<uint8_t> bytes,
                std::string fields);
  uint32_t LogTime();
  std::shared_ptr<Session> Current() const;
  void ReapSessions(bool all);

  ConsoleServerOptions options_;
  Clock& clock_;
  uint32_t startMs_ = 0;
  std::unique_ptr<TcpSocket> listener_;
  uint16_t port_ = 0;
  std::thread acceptThread_;
  std::atomic<bool> stop_{false};
  bool started_ = false;

  mutable std::mutex mutex_;  // everything below
  std::condition_variable changed_;
  ServerScreen screen_;
  ConsoleCounters counters_;
  std::shared_ptr<Session> current_;
  std::vector<std::shared_ptr<Session>> sessions_;  // running or not yet joined
  int sessionCount_ = 0;
  bool silent_;
  uint32_t frameIntervalMs_;
  uint32_t keyChangeIntervalMs_;
  ColorFrame sentScreen_;

  PacketLog log_;
};

}  // namespace remcons::sim
