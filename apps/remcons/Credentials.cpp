#include "Credentials.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>

namespace remcons::app {
namespace {

// The longest password taken: the login property holds 255 characters of Base64.
constexpr size_t kMaxPassword = 180;

// Whether others than the owner may read path: a warning if so.
void WarnIfOpenToOthers(const std::string& path, std::vector<std::string>* warnings) {
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0 && (st.st_mode & (S_IRGRP | S_IROTH)) != 0) {
    warnings->push_back(path + " can be read by other users (chmod 600 " + path + ")");
  }
}

// The terminal's settings while echo is off, for a signal to put back.
int gTerminal = -1;
termios gSaved{};

void RestoreTerminalAndDie(int signal) {
  ::tcsetattr(gTerminal, TCSAFLUSH, &gSaved);
  ::signal(signal, SIG_DFL);
  ::raise(signal);
}

// Reads a line from the terminal with echo off; false with an error, or with none when there is
// no terminal.
bool Prompt(const std::string& prompt, SecretString* password, std::string* error) {
  const int fd = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return false;
  termios saved{};
  if (::tcgetattr(fd, &saved) != 0) {
    ::close(fd);
    return false;
  }
  termios quiet = saved;
  quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
  quiet.c_lflag |= ECHONL;
  // An interrupted prompt leaves the terminal echoing again.
  gTerminal = fd;
  gSaved = saved;
  struct sigaction restore {
  }, previous[3];
  restore.sa_handler = RestoreTerminalAndDie;
  const int signals[3] = {SIGINT, SIGTERM, SIGHUP};
  for (int i = 0; i < 3; ++i) ::sigaction(signals[i], &restore, &previous[i]);
  ::tcsetattr(fd, TCSAFLUSH, &quiet);
  (void)!::write(fd, prompt.data(), prompt.size());

  std::string typed;
  bool ended = false;
  for (char c; !ended;) {
    const ssize_t n = ::read(fd, &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0 || c == '\n' || c == '\r') {
      ended = n > 0;
      break;
    }
    if (typed.size() < kMaxPassword) typed += c;
  }
  ::tcsetattr(fd, TCSAFLUSH, &saved);
  for (int i = 0; i < 3; ++i) ::sigaction(signals[i], &previous[i], nullptr);
  gTerminal = -1;
  ::close(fd);
  *password = SecretString(std::move(typed));
  if (!ended) {
    *error = "no password was typed";
    return false;
  }
  return true;
}

}  // namespace

PasswordSource ReadPassword(const Options& options, const std::string& prompt,
                            SecretString* password, std::string* error,
                            std::vector<std::string>* warnings) {
  error->clear();
  if (!options.passwordFile.empty()) {
    std::ifstream in(options.passwordFile, std::ios::binary);
    if (!in) {
      *error = "cannot read the password file " + options.passwordFile;
      return PasswordSource::kNone;
    }
    WarnIfOpenToOthers(options.passwordFile, warnings);
    std::string line;
    std::getline(in, line);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    *password = SecretString(std::move(line));
    return PasswordSource::kFile;
  }
  if (const char* text = std::getenv(kPasswordVariable)) {
    *password = SecretString(text);
    return PasswordSource::kEnvironment;
  }
  if (Prompt(prompt, password, error)) return PasswordSource::kTerminal;
  return PasswordSource::kNone;
}

bool ReadParamsFile(const std::string& path, PropertyBag* params, std::string* error,
                    std::vector<std::string>* warnings) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = "cannot read the properties file " + path;
    return false;
  }
  WarnIfOpenToOthers(path, warnings);
  int number = 0;
  for (std::string line; std::getline(in, line);) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const size_t first = line.find_first_not_of(" \t");
    if (first == std::string::npos || line[first] == '#') continue;
    std::string name, value;
    if (!ParseParamPair(line.substr(first), &name, &value)) {
      *error = path + " line " + std::to_string(number) + ": NAME=VALUE expected";
      return false;
    }
    params->emplace_back(std::move(name), std::move(value));
  }
  return true;
}

std::vector<std::string> CommandLineSecretWarnings(const Options& options) {
  std::vector<std::string> warnings;
  for (const auto& [name, value] : options.params) {
    if (IsSecretProperty(name)) {
      warnings.push_back("--param " + name +
                         " can be read by other users of this machine; --user, --params-file or "
                         "the connect dialog keep it to yourself");
    }
  }
  return warnings;
}

}  // namespace remcons::app
