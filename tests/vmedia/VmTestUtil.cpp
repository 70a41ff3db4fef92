#include "VmTestUtil.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>

namespace remcons::vmtest {

TempDir::TempDir() {
  char pattern[] = "/tmp/remcons-vm-XXXXXX";
  if (!::mkdtemp(pattern)) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

void MakeDirs(const std::string& path) {
  std::filesystem::create_directories(path);
}

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  MakeDirs(std::filesystem::path(path).parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

void WriteText(const std::string& path, const std::string& text) {
  WriteFile(path, std::vector<uint8_t>(text.begin(), text.end()));
}

void SparseFile(const std::string& path, uint64_t size) {
  MakeDirs(std::filesystem::path(path).parent_path());
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0 || ::ftruncate(fd, off_t(size)) != 0) throw std::runtime_error("sparse " + path);
  ::close(fd);
}

std::vector<int> DescriptorFlags(const std::string& path) {
  std::vector<int> flags;
  std::error_code ec;
  const auto target = std::filesystem::canonical(path, ec);
  for (const auto& e : std::filesystem::directory_iterator("/proc/self/fd", ec)) {
    std::error_code linkError;
    if (std::filesystem::read_symlink(e.path(), linkError) != target || linkError) continue;
    std::ifstream info("/proc/self/fdinfo/" + e.path().filename().string());
    for (std::string key; info >> key;) {
      if (key == "flags:") {
        std::string octal;
        info >> octal;
        flags.push_back(int(std::stoul(octal, nullptr, 8)));
      }
    }
  }
  return flags;
}

static int Entries(const char* dir) {
  std::error_code ec;
  int n = 0;
  for (auto it = std::filesystem::directory_iterator(dir, ec);
       it != std::filesystem::directory_iterator(); it.increment(ec)) {
    ++n;
  }
  return n;
}

int DescriptorCount() {
  return Entries("/proc/self/fd") - 1;  // less the one reading it
}

int ThreadCount() {
  return Entries("/proc/self/task");
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

bool HaveTool(const std::string& name) {
  return Run("command -v " + name + " >/dev/null 2>&1") == 0;
}

int Run(const std::string& command, std::string* output) {
  FILE* p = ::popen((command + " 2>&1").c_str(), "r");
  if (!p) return -1;
  std::string text;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, p)) > 0) text.append(buffer, n);
  const int status = ::pclose(p);
  if (output) *output = text;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Quote(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'') {
      out += "'\\''";
    } else {
      out += c;
    }
  }
  return out + "'";
}

namespace {

sockaddr_in Loopback(uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return a;
}

}  // namespace

UnansweredPort::UnansweredPort() {
  listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a = Loopback(0);
  socklen_t length = sizeof a;
  if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
      ::listen(listener_, 0) != 0 ||
      ::getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &length) != 0) {
    return;
  }
  port_ = ntohs(a.sin_port);
  // Never accepted: it keeps the backlog full.
  filler_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const sockaddr_in to = Loopback(port_);
  if (filler_ >= 0) ::connect(filler_, reinterpret_cast<const sockaddr*>(&to), sizeof to);
}

UnansweredPort::~UnansweredPort() {
  if (filler_ >= 0) ::close(filler_);
  if (listener_ >= 0) ::close(listener_);
}

bool UnansweredPort::Silent(int waitMs) const {
  if (port_ == 0 || filler_ < 0) return false;
  const int probe = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (probe < 0) return false;
  const sockaddr_in to = Loopback(port_);
  bool silent = false;
  if (::connect(probe, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0 &&
      errno == EINPROGRESS) {
    pollfd p{probe, POLLOUT, 0};
    silent = ::poll(&p, 1, waitMs) == 0;
  }
  ::close(probe);
  return silent;
}

}  // namespace remcons::vmtest
