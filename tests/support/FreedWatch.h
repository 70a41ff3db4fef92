// Finds secrets left behind in freed memory: while a FreedWatch lives, every heap block freed
// through operator delete is searched for its needle before it goes back to the allocator.
// Frees on the constructing thread and on threads that call IgnoreThisThread (stand-in peers,
// which hold the secret by design) are not searched. Link FreedWatch.cpp into the test program:
// it replaces the global operator new and delete.
#pragma once

#include <string_view>

namespace remcons::testing {

class FreedWatch {
 public:
  explicit FreedWatch(std::string_view needle);
  ~FreedWatch();
  FreedWatch(const FreedWatch&) = delete;
  FreedWatch& operator=(const FreedWatch&) = delete;

  // Blocks freed so far that still held the needle.
  int Hits() const;
  static void IgnoreThisThread();
};

}  // namespace remcons::testing
