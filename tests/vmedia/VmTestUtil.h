// Helpers of the virtual media tests: temporary trees, files, external tools.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace remcons::vmtest {

// A temporary directory removed with everything in it when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Writes bytes to a file (creating its folders).
void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes);
void WriteText(const std::string& path, const std::string& text);
// A sparse file of this size.
void SparseFile(const std::string& path, uint64_t size);
std::vector<uint8_t> ReadFile(const std::string& path);
// Deterministic pseudo-random bytes.
std::vector<uint8_t> RandomBytes(size_t n, uint32_t seed);
void MakeDirs(const std::string& path);

// The flags (as /proc/self/fdinfo shows them) of each descriptor of this process open on path.
std::vector<int> DescriptorFlags(const std::string& path);
// Open descriptors and threads of this process.
int DescriptorCount();
int ThreadCount();

// True when the program is on PATH.
bool HaveTool(const std::string& name);
// Runs a shell command; returns its exit status and fills output with stdout and stderr.
int Run(const std::string& command, std::string* output = nullptr);
// Single-quoted for the shell.
std::string Quote(const std::string& text);

// A loopback port that never answers a connect: a listener whose backlog of one is filled by a
// connection of its own, so that the kernel drops every further SYN and the connect waits until
// it gives up (minutes). Tests check Silent() before they rely on it.
class UnansweredPort {
 public:
  UnansweredPort();
  ~UnansweredPort();
  UnansweredPort(const UnansweredPort&) = delete;
  UnansweredPort& operator=(const UnansweredPort&) = delete;
  uint16_t port() const { return port_; }
  // True when a further connect has had no answer within waitMs.
  bool Silent(int waitMs = 300) const;

 private:
  int listener_ = -1;
  int filler_ = -1;
  uint16_t port_ = 0;
};

}  // namespace remcons::vmtest
