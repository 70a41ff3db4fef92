// A built program run as a child process: output into files, standard input from /dev/null, no
// display and no trace from the environment; waited for with a bound, killed past it.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace remcons::apptest {

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

class Program {
 public:
  // Starts binary with args; its stdout and stderr go to outPath and errPath.
  Program(const std::string& binary, const std::vector<std::string>& args, std::string outPath,
          std::string errPath)
      : out_(std::move(outPath)), err_(std::move(errPath)) {
    pid_ = fork();
    if (pid_ == 0) {
      const int o = open(out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      const int e = open(err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      const int n = open("/dev/null", O_RDONLY);
      dup2(o, 1);
      dup2(e, 2);
      dup2(n, 0);
      unsetenv("REMCONS_TRACE");
      unsetenv("DISPLAY");
      unsetenv("WAYLAND_DISPLAY");
      std::vector<char*> argv{const_cast<char*>(binary.c_str())};
      for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      execv(binary.c_str(), argv.data());
      _exit(127);
    }
  }
  ~Program() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  // The exit status once it has ended by itself within timeoutMs; -1 when it had to be killed
  // (or ended by a signal). Once only: the child is reaped.
  int Wait(int timeoutMs = 60000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    int wstatus = 0;
    while (pid_ > 0 && waitpid(pid_, &wstatus, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > end) kill(pid_, SIGKILL);
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    pid_ = -1;
    return WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
  }
  // Waits until its standard output has a line holding text; that line, or "" after timeoutMs.
  std::string WaitForLine(const std::string& text, int timeoutMs = 20000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < end) {
      for (const std::string& line : Lines(ReadText(out_))) {
        if (line.find(text) != std::string::npos) return line;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return {};
  }
  std::string err() const { return ReadText(err_); }

 private:
  std::string out_, err_;
  pid_t pid_ = -1;
};

}  // namespace remcons::apptest
