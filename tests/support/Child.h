// Programs run by the tests as children, and the files they write read back.
#pragma once

#include <fcntl.h>
#include <pty.h>
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

namespace remcons::testing {

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

// Waits at most ms for a line of the file that starts with prefix; that line, or "".
inline std::string WaitForLine(const std::string& path, const std::string& prefix, int ms = 20000) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  do {
    for (const std::string& line : Lines(ReadText(path)))
      if (line.starts_with(prefix)) return line;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  } while (std::chrono::steady_clock::now() < end);
  return {};
}

// Waits for a child to end, at most ms: its exit status (128 + signal when a signal ended it), or
// -1 when it still runs.
inline int WaitChild(pid_t pid, int ms) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  int status = 0;
  pid_t r;
  while ((r = waitpid(pid, &status, WNOHANG)) == 0 && std::chrono::steady_clock::now() <= end)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  if (r != pid || !(WIFEXITED(status) || WIFSIGNALED(status))) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Ends a child: SIGTERM, then SIGKILL when it does not end within 5 s.
inline void StopChild(pid_t pid) {
  if (pid <= 0) return;
  kill(pid, SIGTERM);
  if (WaitChild(pid, 5000) == -1) kill(pid, SIGKILL), WaitChild(pid, 5000);
}

// Starts a program in a session of its own, with changes to its environment ("NAME=VALUE" sets,
// "NAME" removes) and its standard input from /dev/null; its output and errors go to the files
// named ("/dev/null" to discard them). With terminal given, a pseudo-terminal is its controlling
// terminal and *terminal the master side. All the child needs is made before the fork: between fork
// and exec it calls only what is safe while other threads run. The process id, or -1.
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
  const pid_t pid = terminal ? forkpty(terminal, nullptr, nullptr, nullptr) : fork();
  if (pid == 0) {
    if (!terminal) setsid();
    const int o = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int e = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
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

}  // namespace remcons::testing
