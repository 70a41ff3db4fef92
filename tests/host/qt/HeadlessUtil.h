// What the Qt host's tests share: the simulator set up for a console, the console's properties for
// it, PNG files read back with libpng, JSON lines read with Qt's JSON parser, scratch files,
// bounded waits that keep Qt's event loop turning, and programs started and waited for.
#pragma once

#include <fcntl.h>
#include <png.h>
#include <pty.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QThread>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/Hex.h"
#include "session/PropertyBag.h"
#include "sim/ConsoleServer.h"

namespace remcons::testing {

// Turns the event loop until cond holds or ms pass; cond's last answer.
inline bool WaitUntil(const std::function<bool()>& cond, int ms = 10000) {
  QElapsedTimer timer;
  timer.start();
  while (!cond()) {
    if (timer.elapsed() > ms) return cond();
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    QThread::msleep(2);
  }
  return true;
}

// A file's whole text ("" when it cannot be read).
inline std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// Waits for a child to end, at most ms: its exit status (128 + signal when a signal ended it), or
// -1 when it still runs.
inline int WaitChild(pid_t pid, int ms) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  for (int status = 0;;) {
    const pid_t r = waitpid(pid, &status, WNOHANG);
    if (r == pid) {
      return WIFEXITED(status)     ? WEXITSTATUS(status)
             : WIFSIGNALED(status) ? 128 + WTERMSIG(status)
                                   : -1;
    }
    if (r < 0 || std::chrono::steady_clock::now() > end) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

// Ends a child: SIGTERM, then SIGKILL when it does not end within 5 s.
inline void StopChild(pid_t pid) {
  if (pid <= 0) return;
  kill(pid, SIGTERM);
  if (WaitChild(pid, 5000) == -1) kill(pid, SIGKILL), WaitChild(pid, 5000);
}

// Starts a program in a session of its own, with changes to its environment ("NAME=VALUE" sets,
// "NAME" removes) and its standard input from /dev/null; its output and errors go to the files
// named (empty: discarded). With terminal given, a pseudo-terminal is its controlling terminal and
// *terminal the master side. All the child needs is made before the fork: between fork and exec
// it calls only what is safe while other threads run. The process id, or -1.
inline pid_t StartProgram(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                          const std::string& outPath, const std::string& errPath,
                          int* terminal = nullptr) {
  std::vector<std::string> environment;
  for (char** e = environ; *e; ++e) environment.push_back(*e);
  for (const std::string& change : env) {
    const std::string prefix = change.substr(0, change.find('=')) + "=";
    std::erase_if(environment, [&](const std::string& e) { return e.rfind(prefix, 0) == 0; });
    if (change.find('=') != std::string::npos) environment.push_back(change);
  }
  std::vector<char*> args, envp;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  for (std::string& e : environment) envp.push_back(e.data());
  args.push_back(nullptr);
  envp.push_back(nullptr);
  const std::string out = outPath.empty() ? "/dev/null" : outPath;
  const std::string err = errPath.empty() ? "/dev/null" : errPath;
  const pid_t pid = terminal ? forkpty(terminal, nullptr, nullptr, nullptr) : fork();
  if (pid == 0) {
    if (!terminal) setsid();
    const int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(open("/dev/null", O_RDONLY), 0);
    dup2(o, 1);
    dup2(e, 2);
    execve(args[0], args.data(), envp.data());
    _exit(127);
  }
  return pid;
}

// Waits at most timeoutMs for a program to end: as WaitChild, and a program that did not end in
// time is ended.
inline int WaitProgram(pid_t pid, int timeoutMs) {
  if (pid <= 0) return -1;
  const int status = WaitChild(pid, timeoutMs);
  if (status == -1) StopChild(pid);
  return status;
}

inline sim::ConsoleKeys SimKeys() {
  sim::ConsoleKeys keys;
  for (size_t i = 0; i < 16; ++i) {
    keys.decryptKey[i] = static_cast<uint8_t>(0x21 + 9 * i);
    keys.encryptKey[i] = static_cast<uint8_t>(0xE1 - 5 * i);
  }
  return keys;
}

inline sim::ConsoleServerOptions SimOptions() {
  sim::ConsoleServerOptions options;
  options.keys = SimKeys();
  options.keyIndex = 0x00C0FFEE;
  options.screen.bootMs = 100;
  options.frameIntervalMs = 10;
  options.loginQuietMs = 50;
  return options;
}

// The properties of an enciphered console for the simulator on port.
inline PropertyBag SimParams(uint16_t port) {
  return {{"target", "127.0.0.1"},
          {"port", std::to_string(port)},
          {"encryption", "1"},
          {"keyIndex", "0x00C0FFEE"},
          {"decryptKey", HexBytes(SimKeys().decryptKey.data(), 16)},
          {"encryptKey", HexBytes(SimKeys().encryptKey.data(), 16)},
          {"login", "dGVzdDp0ZXN0"},
          {"fullScreen", "0"}};
}

// A scratch directory removed with the object.
class ScratchDir {
 public:
  ScratchDir() {
    char pattern[] = "/tmp/remcons-headless-XXXXXX";
    path_ = mkdtemp(pattern);
  }
  ~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

struct RgbImage {
  int width = 0, height = 0;
  std::vector<uint8_t> rgb;  // 3 bytes a pixel
};

// A PNG file read with libpng; nullopt when it cannot be read.
inline std::optional<RgbImage> ReadPng(const std::string& path) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str())) return std::nullopt;
  image.format = PNG_FORMAT_RGB;
  RgbImage out{static_cast<int>(image.width), static_cast<int>(image.height), {}};
  out.rgb.resize(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, out.rgb.data(), 0, nullptr)) return std::nullopt;
  return out;
}

// Pixels of the PNG file that differ from the simulator's screen now (x byte ignored); -1 when
// the file cannot be read or the sizes differ.
inline long DifferencesFromScreen(const std::string& png, const sim::ConsoleServer& server) {
  int width = 0, height = 0;
  const std::vector<uint32_t> screen = server.ScreenPixels(&width, &height);
  const std::optional<RgbImage> image = ReadPng(png);
  if (!image || image->width != width || image->height != height) return -1;
  long differences = 0;
  for (size_t i = 0; i < screen.size(); ++i) {
    const uint32_t p = screen[i];
    const uint8_t* q = &image->rgb[3 * i];
    differences += q[0] != ((p >> 16) & 0xFF) || q[1] != ((p >> 8) & 0xFF) || q[2] != (p & 0xFF);
  }
  return differences;
}

// The lines of a file, each parsed as a JSON object (an empty object for a line that is not one).
inline std::vector<QJsonObject> ReadJsonLines(const std::string& path,
                                              std::vector<std::string>* raw = nullptr) {
  std::vector<QJsonObject> objects;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) {
    if (raw) raw->push_back(line);
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(line));
    objects.push_back(doc.isObject() ? doc.object() : QJsonObject());
  }
  return objects;
}

// The names of the events read from an events file, in order.
inline std::vector<std::string> EventNames(const std::vector<QJsonObject>& events) {
  std::vector<std::string> names;
  for (const QJsonObject& e : events) names.push_back(e.value("event").toString().toStdString());
  return names;
}
inline std::vector<std::string> EventNamesIn(const std::string& path) {
  return EventNames(ReadJsonLines(path));
}

}  // namespace remcons::testing
