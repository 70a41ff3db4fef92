#include "support/FreedWatch.h"

#include <malloc.h>
#include <string.h>

#include <atomic>
#include <cstdlib>
#include <new>

namespace remcons::testing {
namespace {

char needle[256];
std::atomic<size_t> needleSize{0};
std::atomic<int> hits{0};
thread_local bool ignored = false;

void Inspect(void* p) {
  const size_t n = needleSize.load();
  if (!p || n == 0 || ignored) return;
  if (memmem(p, malloc_usable_size(p), needle, n)) ++hits;
}

}  // namespace

FreedWatch::FreedWatch(std::string_view text) {
  const size_t n = text.size() < sizeof needle ? text.size() : sizeof needle;
  memcpy(needle, text.data(), n);
  hits = 0;
  ignored = true;
  needleSize = n;
}

FreedWatch::~FreedWatch() {
  needleSize = 0;
}

int FreedWatch::Hits() const {
  return hits.load();
}

void FreedWatch::IgnoreThisThread() {
  ignored = true;
}

}  // namespace remcons::testing

void* operator new(size_t size) {
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
void* operator new[](size_t size) {
  return operator new(size);
}
void operator delete(void* p) noexcept {
  remcons::testing::Inspect(p);
  std::free(p);
}
void operator delete[](void* p) noexcept {
  operator delete(p);
}
void operator delete(void* p, size_t) noexcept {
  operator delete(p);
}
void operator delete[](void* p, size_t) noexcept {
  operator delete(p);
}
