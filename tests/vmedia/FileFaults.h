// Fault injection for files: while a FileFault lives, this process's reads, writes and space
// reservations of one file fail with an errno once a number of bytes have gone through, as a
// failing disk or a full file system would make them fail.
#pragma once

#include <cstdint>
#include <string>

namespace remcons::vmtest {

class FileFault {
 public:
  enum Op { kRead = 1, kWrite = 2, kReserve = 4 };
  // ops: the operations that fail; after: the bytes that go through first (reads and writes).
  FileFault(const std::string& path, int ops, int error, uint64_t after = 0);
  ~FileFault();
  FileFault(const FileFault&) = delete;
};

}  // namespace remcons::vmtest
