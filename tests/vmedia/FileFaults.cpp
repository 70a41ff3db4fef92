// The process's pread, pwrite and fallocate are these: they pass every call on to the C library
// unless a FileFault names the file the descriptor is open on.
#include "FileFaults.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <mutex>

namespace remcons::vmtest {
namespace {

struct Plan {
  dev_t dev = 0;
  ino_t ino = 0;
  int ops = 0, error = 0;
  uint64_t left = 0;
};

std::atomic<bool> armed{false};
std::mutex planMutex;
Plan plan;

// How many of the call's bytes go through (all of them when the file has no fault; a disk fills
// up in the middle of a write), or minus the errno it fails with.
ssize_t Check(int fd, int op, size_t bytes) {
  struct stat st {};
  if (!armed.load() || ::fstat(fd, &st) != 0) return ssize_t(bytes);
  std::lock_guard lock(planMutex);
  if (!(plan.ops & op) || st.st_dev != plan.dev || st.st_ino != plan.ino) return ssize_t(bytes);
  if (op == FileFault::kReserve || plan.left == 0) return -plan.error;
  const uint64_t n = std::min<uint64_t>(plan.left, bytes);
  plan.left -= n;
  return ssize_t(n);
}

int Fail(ssize_t error) {
  errno = int(-error);
  return -1;
}

template <typename Fn>
Fn Next(const char* name) {
  return reinterpret_cast<Fn>(::dlsym(RTLD_NEXT, name));
}

}  // namespace

FileFault::FileFault(const std::string& path, int ops, int error, uint64_t after) {
  struct stat st {};
  ::stat(path.c_str(), &st);
  std::lock_guard lock(planMutex);
  plan = Plan{st.st_dev, st.st_ino, ops, error, after};
  armed = true;
}

FileFault::~FileFault() {
  armed = false;
}

}  // namespace remcons::vmtest

using namespace remcons::vmtest;

extern "C" ssize_t pread(int fd, void* buf, size_t n, off_t offset) {
  static auto real = Next<ssize_t (*)(int, void*, size_t, off_t)>("pread");
  const ssize_t allowed = Check(fd, FileFault::kRead, n);
  return allowed < 0 ? Fail(allowed) : real(fd, buf, size_t(allowed), offset);
}

extern "C" ssize_t pwrite(int fd, const void* buf, size_t n, off_t offset) {
  static auto real = Next<ssize_t (*)(int, const void*, size_t, off_t)>("pwrite");
  const ssize_t allowed = Check(fd, FileFault::kWrite, n);
  return allowed < 0 ? Fail(allowed) : real(fd, buf, size_t(allowed), offset);
}

extern "C" int fallocate(int fd, int mode, off_t offset, off_t length) {
  static auto real = Next<int (*)(int, int, off_t, off_t)>("fallocate");
  const ssize_t allowed = Check(fd, FileFault::kReserve, 0);
  return allowed < 0 ? Fail(allowed) : real(fd, mode, offset, length);
}
