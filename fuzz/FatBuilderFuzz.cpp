// Fuzz target: the folder volume built from a tree the input describes (names of arbitrary bytes,
// names that collide, links inside, outside, to themselves and fanning out), read whole, then read
// again after its files were removed, shortened or swapped for links while it is served. Unless
// links are followed, nothing from outside the folder ever reaches the volume.
//
// Input: a flags byte (bit 0: follow links), then operations of an op byte and its arguments.
//
// libFuzzer: clang++ -std=c++20 -fsanitize=fuzzer,address,undefined -Isrc fuzz/FatBuilderFuzz.cpp
//            with the remcons_vmedia and remcons_platform sources. The tests run it over its
//            corpus.
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "vmedia/FATFile.h"

namespace {

constexpr std::string_view kMarker = "OUTSIDE-ONLY-MARKER";
std::string gMade;  // removed at exit

class Input {
 public:
  Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool More() const { return at_ < size_; }
  uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
  // A name of 1 to 255 bytes as Linux allows them: anything but '/' and NUL, never "." or "..".
  std::string Name() {
    const size_t n = std::max<size_t>(1, Byte());
    std::string name;
    for (size_t i = 0; i < n && More(); ++i) {
      const char c = char(Byte());
      name.push_back(c == '/' || c == 0 ? '_' : c);
    }
    if (name.empty() || name == "." || name == "..") name = "n";
    return name;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

void Put(const std::string& path, size_t size, char fill) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return;
  const std::string bytes(size, fill);
  if (::write(fd, bytes.data(), bytes.size()) < 0) {
  }
  ::close(fd);
}

// The volume's bytes up to its last used cluster.
std::string ReadVolume(remcons::FATFile& image) {
  const uint64_t sectors =
      image.FirstDataSector() + uint64_t(image.ClustersUsed()) * image.SectorsPerCluster();
  std::string out(sectors * 512, '\0');
  for (uint64_t s = 0; s < sectors; s += 64) {
    const uint32_t n = uint32_t(std::min<uint64_t>(64, sectors - s));
    try {
      image.read(s * 512, n * 512, reinterpret_cast<uint8_t*>(&out[s * 512]));
    } catch (const remcons::Cluster::Error&) {
    }
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  namespace fs = std::filesystem;
  // Outside the folder, made once: a file with the marker, and a folder with a link to it.
  static const std::string base = [] {
    char pattern[] = "/dev/shm/fatfuzz-XXXXXX";
    char fallback[] = "/tmp/fatfuzz-XXXXXX";
    const char* made = ::mkdtemp(pattern);
    if (!made) made = ::mkdtemp(fallback);
    if (!made) std::abort();
    const std::string at = made;
    std::string secret;
    while (secret.size() < 3000) secret += kMarker;
    const int fd = ::open((at + "/outside.txt").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0 || ::write(fd, secret.data(), secret.size()) != ssize_t(secret.size())) std::abort();
    ::close(fd);
    ::mkdir((at + "/outdir").c_str(), 0755);
    ::symlink("../outside.txt", (at + "/outdir/inner.txt").c_str());
    gMade = at;
    std::atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(gMade, ignored);
    });
    return at;
  }();
  const std::string root = base + "/root";
  std::error_code ignored;
  fs::remove_all(root, ignored);
  ::mkdir(root.c_str(), 0755);

  Input in(data, size);
  const bool follow = in.Byte() & 1;
  const std::string targets[] = {"..",      ".",   "../..", "/", "../outside.txt", base + "/outdir",
                                 "x/../..", "self"};
  std::vector<std::string> dirs = {root}, files;
  std::string cwd = root, last;
  int ops = 0;
  while (in.More() && ++ops < 200) {
    const uint8_t op = in.Byte() % 7;
    if (op == 0) {  // a folder, entered
      last = cwd + "/" + in.Name();
      if (::mkdir(last.c_str(), 0755) == 0) dirs.push_back(last), cwd = last;
    } else if (op == 1) {  // a file
      last = cwd + "/" + in.Name();
      Put(last, size_t(in.Byte()) * 37, 'i');
      files.push_back(last);
    } else if (op == 2) {  // a link to one of the targets, or to a folder made before
      const uint8_t which = in.Byte();
      const std::string name = cwd + "/" + in.Name();
      const std::string to = which & 0x80 ? dirs[which % dirs.size()] : targets[which % 8];
      ::symlink(to == "self" ? name.c_str() : to.c_str(), name.c_str());
    } else if (op == 3) {  // back up
      if (cwd != root) cwd = cwd.substr(0, cwd.rfind('/'));
    } else if (op == 4) {  // names that collide: one name with its case and a byte varied
      const std::string name = in.Name();
      const int n = 1 + in.Byte() % 40;
      for (int i = 0; i < n; ++i) {
        std::string v = name;
        v[size_t(i) % v.size()] = char(i % 2 ? std::toupper(uint8_t(v[0])) : 0x80 + i);
        if (v.find('/') == std::string::npos && v.find('\0') == std::string::npos && v != "." &&
            v != "..") {
          Put(cwd + "/" + v, 0, 'i');
        }
      }
    } else if (op == 5) {  // a fan-out: folders each linked twice from the one before
      const int levels = 1 + in.Byte() % 24;
      std::string at = cwd;
      for (int i = 0; i < levels; ++i, at += "/n") {
        ::mkdir((at + "/n").c_str(), 0755);
        ::symlink("n", (at + "/l").c_str());
      }
    } else {  // a deep chain
      const int levels = 1 + in.Byte() % 64;
      std::string at = cwd;
      for (int i = 0; i < levels && at.size() < 600; ++i) {
        at += "/d";
        ::mkdir(at.c_str(), 0755);
      }
    }
  }

  try {
    auto image = remcons::FATFile::Create(root, follow);
    if (!follow && ReadVolume(*image).find(kMarker) != std::string::npos) std::abort();
    // Changed while served: removed, shortened, swapped for a link to outside or a FIFO.
    for (size_t i = 0; i < files.size(); ++i) {
      const std::string& f = files[i];
      switch (i % 4) {
        case 0:
          ::unlink(f.c_str());
          ::symlink((base + "/outside.txt").c_str(), f.c_str());
          break;
        case 1:
          if (::truncate(f.c_str(), 10) != 0) {
          }
          break;
        case 2:
          ::unlink(f.c_str());
          ::mkfifo(f.c_str(), 0644);
          break;
        default:
          ::unlink(f.c_str());
          break;
      }
    }
    for (size_t i = 1; i < dirs.size(); i += 3) {
      ::rename(dirs[i].c_str(), (dirs[i] + ".gone").c_str());
      ::symlink((base + "/outdir").c_str(), dirs[i].c_str());
    }
    if (!follow && ReadVolume(*image).find(kMarker) != std::string::npos) std::abort();
  } catch (const remcons::FATFile::Error&) {
    // A tree the volume cannot show is refused with a message.
  }
  fs::remove_all(root, ignored);
  return 0;
}
