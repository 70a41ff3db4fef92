#include "VmHarness.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <thread>

namespace remcons::vmtest {

namespace fs = std::filesystem;

TempDir::TempDir() {
  char pattern[] = "/tmp/remcons-vm-XXXXXX";
  if (!::mkdtemp(pattern)) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

void MakeDirs(const std::string& path) {
  fs::create_directories(path);
}

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  MakeDirs(fs::path(path).parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size())))
    throw std::runtime_error("cannot write " + path);
}

void WriteText(const std::string& path, const std::string& text) {
  WriteFile(path, std::vector<uint8_t>(text.begin(), text.end()));
}

void SparseFile(const std::string& path, uint64_t size) {
  WriteText(path, "");
  fs::resize_file(path, size);
}

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::vector<uint8_t> RandomBytes(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> out(n);
  for (auto& b : out) b = uint8_t(rng());
  return out;
}

std::vector<int> DescriptorFlags(const std::string& path) {
  std::vector<int> flags;
  std::error_code ec;
  const auto target = fs::canonical(path, ec);
  for (const auto& e : fs::directory_iterator("/proc/self/fd", ec)) {
    if (fs::read_symlink(e.path(), ec) != target) continue;
    std::ifstream info("/proc/self/fdinfo/" + e.path().filename().string());
    for (std::string key; info >> key;) {
      if (key == "flags:" && info >> key) flags.push_back(int(std::stoul(key, nullptr, 8)));
    }
  }
  return flags;
}

int DescriptorCount() {  // less the one reading the folder
  return int(std::distance(fs::directory_iterator("/proc/self/fd"), {})) - 1;
}

int ThreadCount() {
  // ThreadSanitizer's runtime starts a thread of its own at the process's first thread creation:
  // have that happen before anything is counted.
  static const bool runtimeStarted = (std::thread([] {}).join(), true);
  (void)runtimeStarted;
  return int(std::distance(fs::directory_iterator("/proc/self/task"), {}));
}

bool HaveTool(const std::string& name) {
  return Run("command -v " + name) == 0;
}

int Run(const std::string& command, std::string* output) {
  FILE* p = ::popen((command + " 2>&1").c_str(), "r");
  std::string text;
  char buffer[4096];
  for (size_t n; p && (n = std::fread(buffer, 1, sizeof buffer, p)) > 0;) text.append(buffer, n);
  const int status = p ? ::pclose(p) : -1;
  if (output) *output = text;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Quote(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

static sockaddr_in Loopback(uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return a;
}

UnansweredPort::UnansweredPort() {
  listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a = Loopback(0);
  socklen_t length = sizeof a;
  if (::bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
      ::listen(listener_, 0) != 0 ||
      ::getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &length) != 0) {
    return;
  }
  port_ = ntohs(a.sin_port);
  filler_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);  // never accepted: the backlog full
  const sockaddr_in to = Loopback(port_);
  ::connect(filler_, reinterpret_cast<const sockaddr*>(&to), sizeof to);
}

UnansweredPort::~UnansweredPort() {
  ::close(filler_);
  ::close(listener_);
}

bool UnansweredPort::Silent(int waitMs) const {
  const int probe = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  const sockaddr_in to = Loopback(port_);
  pollfd p{probe, POLLOUT, 0};
  const bool silent = port_ && filler_ >= 0 &&
                      ::connect(probe, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0 &&
                      errno == EINPROGRESS && ::poll(&p, 1, waitMs) == 0;
  ::close(probe);
  return silent;
}

}  // namespace remcons::vmtest
