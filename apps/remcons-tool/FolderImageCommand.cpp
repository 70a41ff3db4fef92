// remcons-tool folder-image [--follow-links] DIR OUT.img: writes the FAT16 volume that a mounted
// folder shows to the server into an image file.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "Tool.h"
#include "vmedia/FATFile.h"

namespace remcons::tool {
namespace {

bool AllZero(const uint8_t* p, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    if (p[i]) return false;
  }
  return true;
}

int FolderImage(const std::vector<std::string>& given) {
  std::vector<std::string> args = given;
  const bool followLinks = !args.empty() && args[0] == "--follow-links";
  if (followLinks) args.erase(args.begin());
  if (args.size() != 2) {
    std::fprintf(stderr, "usage: remcons-tool folder-image [--follow-links] DIR OUT.img\n");
    return 2;
  }
  const std::string& folder = args[0];
  const std::string& out = args[1];
  std::unique_ptr<FATFile> image;
  try {
    image = FATFile::Create(folder, followLinks);
  } catch (const FATFile::Error& e) {
    std::fprintf(stderr, "remcons-tool: %s\n", e.Message().c_str());
    return 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "remcons-tool: %s: %s\n", folder.c_str(), e.what());
    return 1;
  }
  if (image->LinksLeftOut()) {
    std::fprintf(stderr,
                 "remcons-tool: %u links leading outside %s left out (--follow-links shows them)\n",
                 image->LinksLeftOut(), folder.c_str());
  }
  int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    std::fprintf(stderr, "remcons-tool: cannot create %s: %s\n", out.c_str(), std::strerror(errno));
    return 1;
  }
  const uint64_t size = image->Size();
  std::vector<uint8_t> chunk(1 << 20);
  bool ok = true;
  std::string error;
  try {
    for (uint64_t at = 0; at < size && ok; at += chunk.size()) {
      const uint32_t n = uint32_t(std::min<uint64_t>(chunk.size(), size - at));
      image->read(at, n, chunk.data());
      if (AllZero(chunk.data(), n)) continue;  // left as a hole
      for (uint32_t done = 0; done < n;) {
        ssize_t w = ::pwrite(fd, chunk.data() + done, n - done, off_t(at + done));
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) {
          ok = false;
          error = std::strerror(errno);
          break;
        }
        done += uint32_t(w);
      }
    }
    if (ok && ::ftruncate(fd, off_t(size)) != 0) {
      ok = false;
      error = std::strerror(errno);
    }
  } catch (const Cluster::Error& e) {
    ok = false;
    error = e.Message();
  } catch (const FATFile::Error& e) {
    ok = false;
    error = e.Message();
  }
  if (::close(fd) != 0 && ok) {
    ok = false;
    error = std::strerror(errno);
  }
  if (!ok) {
    std::fprintf(stderr, "remcons-tool: writing %s failed: %s\n", out.c_str(), error.c_str());
    ::unlink(out.c_str());
    return 1;
  }
  return 0;
}

const Registration registration("folder-image", "folder-image [--follow-links] DIR OUT.img",
                                FolderImage);

}  // namespace
}  // namespace remcons::tool
