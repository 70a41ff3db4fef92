// Fuzz target: any bytes as a floppy or disk image file, which may begin with the 512-byte header
// that moves the image's start. Bytes 0-3 of the input choose a read and a write (offset and
// length in the image); the rest is the file. The medium must be the file past the header, a read
// must give the file's bytes there and zeros past the end, and a write must land exactly there or
// be refused whole: the file never grows and nothing outside the medium changes.
//
// libFuzzer build: the fuzz preset (scripts/fuzz.sh). The tests replay the seed corpus.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "vmedia/Media.h"

namespace {

std::vector<uint8_t> Contents(const std::string& path) {
  std::vector<uint8_t> bytes(1 << 17);
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  const ssize_t n = fd < 0 ? -1 : ::pread(fd, bytes.data(), bytes.size(), 0);
  if (fd >= 0) ::close(fd);
  bytes.resize(n < 0 ? 0 : size_t(n));
  return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using remcons::CMedia;
  static const std::string path = [] {
    char pattern[] = "/tmp/remcons-imagefuzz-XXXXXX";
    const char* dir = ::mkdtemp(pattern);
    return std::string(dir ? dir : "/tmp") + "/image.img";
  }();
  if (size < 4 || size > (1 << 16)) return 0;
  const std::vector<uint8_t> file(data + 4, data + size);
  {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0 || ::write(fd, file.data(), file.size()) != ssize_t(file.size())) std::abort();
    ::close(fd);
  }
  CMedia media;
  if (media.Open(path) != 0) std::abort();
  const uint64_t start = media.HeaderOffset(), length = media.StoredSize();
  // The medium is the file past its header, or nothing when the header points past the end.
  if (length != (start < file.size() ? file.size() - start : 0)) std::abort();

  const uint64_t offset = uint64_t(data[0] | data[1] << 8) % (file.size() + 600);
  const uint32_t count = 1 + uint32_t(data[2] | (data[3] & 0x0F) << 8);
  std::vector<uint8_t> read(count, 0xA5);
  if (media.Read(offset, count, read.data()) != 0) std::abort();
  for (uint32_t i = 0; i < count; ++i) {
    const uint64_t at = start + offset + i;
    if (read[i] != (at < file.size() ? file[at] : 0)) std::abort();
  }

  std::vector<uint8_t> expected = file;
  std::vector<uint8_t> bytes(count, 0x5A);
  try {
    media.Write(offset, count, bytes.data());
    if (offset + count > length) std::abort();  // past the medium's end yet taken
    std::fill_n(expected.begin() + long(start + offset), count, 0x5A);
  } catch (const CMedia::IoError&) {
    if (offset + count <= length) std::abort();  // within the medium yet refused
  }
  media.Close();
  if (Contents(path) != expected) std::abort();
  return 0;
}
