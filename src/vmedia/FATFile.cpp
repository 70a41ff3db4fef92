#include "vmedia/FATFile.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <map>
#include <new>
#include <set>

#include "platform/ByteOrder.h"
#include "platform/Strings.h"
#include "platform/Trace.h"
#include "vmedia/VmText.h"

namespace remcons {

struct FATFile::Node {
  std::string name;  // as stored on disk
  bool isDir = false;
  uint64_t size = 0;
  uint8_t attributes = 0;
  int64_t created = 0;
  int64_t written = 0;
  std::u16string longName;
  std::array<char, 11> shortName{};
  uint32_t slots = 0;        // directory entries it takes in its parent
  std::shared_ptr<Dir> dir;  // a folder's contents
  int anchor = -1;           // a link: where what it leads to really is
  std::string real;
};

namespace {
constexpr size_t kBandCount = 5;
}

struct FATFile::Dir {
  int anchor = kAnchorFolder;
  std::string real;  // from the anchor; empty for the anchor itself
  std::string path;  // as the user knows it (the first way the scan came)
  std::vector<Node> children;
  uint64_t slots = 2;                // entries of its own directory, "." and ".." included
  std::pair<uint64_t, uint64_t> id;  // device and inode
  bool scanning = false;             // a link to a folder still being scanned is a loop
  bool done = false;
  // What it shows with everything below it, contents reached through links counted each time.
  uint64_t entries = 0;
  uint64_t bytes = 0;
  uint32_t depth = 0;
  std::array<uint64_t, kBandCount> clusters{};  // data clusters needed, per size band
};

namespace {

// Size bands: total sectors, sectors per cluster, exclusive limit in MB.
struct Band {
  uint32_t totalSectors;
  uint32_t sectorsPerCluster;
  uint32_t limitMb;
};
constexpr Band kBands[kBandCount] = {
    {32680, 2, 16}, {262144, 4, 128}, {524288, 8, 256}, {1048576, 16, 512}, {2097152, 32, 1024},
};

constexpr uint8_t kBootCode[32] = {0xEA, 0x43, 0x00, 0xC0, 0x07, 0x0E, 0x0E, 0x1F, 0x07, 0xBE, 0x5E,
                                   0x00, 0xAC, 0x0A, 0xC0, 0x74, 0x09, 0xB4, 0x0E, 0xBB, 0x07, 0x00,
                                   0xCD, 0x10, 0xEB, 0xF2, 0x32, 0xE4, 0xCD, 0x16, 0xCD, 0x19};
constexpr char kBootMessage[] =
    "Virtual Folder is non-bootable.\r\nUnmount the Virtual Folder and then press any key to "
    "reboot.\r\n";
static_assert(sizeof kBootMessage <= 96);

// The boot sector carries the same label as the root directory, so that checkers agree.
constexpr char kVolumeLabel[] = "Kroq FOLDER";
constexpr size_t kMaxPath = 4096;
constexpr uint16_t kEndOfChain = 0xFFF8;

// FAT time and date of a calendar time in local time; false outside 1980 to 2107.
bool FatTime(int64_t t, uint16_t* time, uint16_t* date) {
  time_t tt = static_cast<time_t>(t);
  struct tm tm {};
  if (!localtime_r(&tt, &tm)) return false;
  const int year = tm.tm_year + 1900;
  if (year < 1980 || year > 2107) return false;
  *time = uint16_t((tm.tm_hour << 11) | (tm.tm_min << 5) | (tm.tm_sec / 2));
  *date = uint16_t(((year - 1980) << 9) | ((tm.tm_mon + 1) << 5) | tm.tm_mday);
  return true;
}

uint8_t ShortNameChecksum(const char* name) {
  uint8_t sum = 0;
  for (int i = 0; i < 11; ++i) sum = uint8_t(((sum & 1) << 7) + (sum >> 1) + uint8_t(name[i]));
  return sum;
}

// Characters a long name may not hold on a FAT volume.
bool ForbiddenInLongName(char16_t c) {
  return c < 0x20 || c == u'\\' || c == u'/' || c == u':' || c == u'*' || c == u'?' || c == u'"' ||
         c == u'<' || c == u'>' || c == u'|';
}

char16_t FoldCase(char16_t c) {
  return (c >= u'a' && c <= u'z') ? char16_t(c - u'a' + u'A') : c;
}

std::u16string Folded(const std::u16string& s) {
  std::u16string out = s;
  for (auto& c : out) c = FoldCase(c);
  return out;
}

std::u16string Ascii16(const std::string& s) {
  return std::u16string(s.begin(), s.end());
}

// At most n units, never ending inside a surrogate pair.
std::u16string CutUtf16(const std::u16string& s, size_t n) {
  if (s.size() <= n) return s;
  if (n > 0 && s[n - 1] >= 0xD800 && s[n - 1] <= 0xDBFF) --n;
  return s.substr(0, n);
}

uint64_t SatAdd(uint64_t a, uint64_t b) {
  return a > UINT64_MAX - b ? UINT64_MAX : a + b;
}

std::string Join(const std::string& a, const std::string& b) {
  if (a.empty()) return b;
  return a.back() == '/' ? a + b : a + "/" + b;
}

// Opens real (a path through no link) beneath the handle base, no component followed if it has
// become a link since: a swapped link fails rather than leading elsewhere.
int OpenBeneath(int base, const std::string& real, int flags) {
  if (real.empty()) return ::openat(base, ".", flags | O_CLOEXEC);
  int at = base;
  size_t from = 0;
  for (;;) {
    const size_t slash = real.find('/', from);
    const std::string part = real.substr(from, slash - from);
    const bool last = slash == std::string::npos;
    const int fd = part.empty() || part == "." || part == ".."
                       ? (errno = EINVAL, -1)
                       : ::openat(at, part.c_str(),
                                  (last ? flags : O_PATH | O_DIRECTORY) | O_NOFOLLOW | O_CLOEXEC);
    const int err = errno;
    if (at != base) ::close(at);
    if (fd < 0 || last) {
      errno = err;
      return fd;
    }
    at = fd;
    from = slash + 1;
  }
}

}  // namespace

// ---- Errors ----

FATFile::Error::Error(int code, int detail, std::string name)
    : std::runtime_error("folder image error"),
      code_(code),
      detail_(detail),
      name_(std::move(name)) {}

std::string FATFile::Error::Message() const {
  using vm::FormatText;
  switch (code_) {
    case kErrTooLarge:
      return FormatText(LoadString(kStrFolderTooLarge), int(kSizeLimit >> 20));
    case kErrRootFull:
      return LoadString(kStrTooManyRootEntries);
    case kErrMemory:
      return FormatText(LoadString(kStrNoMemory), code_);
    case 4:
    case 5:
      return FormatText(LoadString(kStrFileError), name_.c_str(), code_, detail_);
    case 6:
    case 7:
    case 8:
    case 9:
    case 10:
      return FormatText(LoadString(kStrFileCopyError), code_, detail_);
    case 14:
      return FormatText(LoadString(kStrFolderPathError), code_, detail_);
    case kErrBufferSize:
      return FormatText(LoadString(kStrInvalidBufferSize), detail_);
    case kErrSector:
      return FormatText(LoadString(kStrInvalidSector), detail_);
    case kErrDirectoryFull:
      return FormatText("The folder %s holds more entries than a FAT16 directory can.",
                        name_.c_str());
    case kErrTooManyEntries:
      return FormatText(
          "The folder %s shows more than %u files and folders (those reached through links "
          "counted each time); a volume cannot hold them.",
          name_.c_str(), unsigned(kMaxEntries));
    case kErrFileTooLarge:
      return FormatText("The file %s is 4 GB or larger; a FAT16 volume cannot hold it.",
                        name_.c_str());
    default:
      return FormatText(LoadString(kStrUnknownFolderError), code_);
  }
}

// ---- Names ----

std::u16string FATFile::Utf8ToUtf16(const std::string& text) {
  std::u16string out;
  out.reserve(text.size());
  const auto* s = reinterpret_cast<const uint8_t*>(text.data());
  const size_t n = text.size();
  size_t i = 0;
  while (i < n) {
    const uint8_t b = s[i];
    uint32_t cp;
    size_t len;
    if (b < 0x80) {
      cp = b;
      len = 1;
    } else if (b >= 0xC2 && b <= 0xDF) {
      cp = b & 0x1F;
      len = 2;
    } else if (b >= 0xE0 && b <= 0xEF) {
      cp = b & 0x0F;
      len = 3;
    } else if (b >= 0xF0 && b <= 0xF4) {
      cp = b & 0x07;
      len = 4;
    } else {
      out.push_back(u'\uFFFD');
      ++i;
      continue;
    }
    size_t k = 1;
    for (; k < len && i + k < n && (s[i + k] & 0xC0) == 0x80; ++k)
      cp = (cp << 6) | (s[i + k] & 0x3F);
    const bool complete = k == len;
    const bool overlong = (len == 3 && cp < 0x800) || (len == 4 && cp < 0x10000);
    const bool invalid = cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF);
    if (!complete || overlong || invalid) {
      // One replacement for the bad lead byte; the continuation bytes are seen again on their own.
      out.push_back(u'\uFFFD');
      ++i;
      continue;
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(char16_t(0xD800 + (cp >> 10)));
      out.push_back(char16_t(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(char16_t(cp));
    }
    i += len;
  }
  return out;
}

std::array<char, 11> FATFile::BasisName(const std::string& longName, bool* lossy) {
  const std::u16string name = Utf8ToUtf16(longName);
  bool lost = false;
  // Spaces go; leading dots go.
  std::u16string s;
  for (char16_t c : name) {
    if (c == u' ') {
      lost = true;
      continue;
    }
    if (c == u'.' && s.empty()) {
      lost = true;
      continue;
    }
    s.push_back(c);
  }
  const size_t lastDot = s.rfind(u'.');
  const std::u16string base = lastDot == std::u16string::npos ? s : s.substr(0, lastDot);
  const std::u16string ext = lastDot == std::u16string::npos ? u"" : s.substr(lastDot + 1);
  auto mapChar = [&lost](char16_t c) -> char {
    if (c >= u'a' && c <= u'z') return char(c - u'a' + 'A');
    if ((c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9')) return char(c);
    if (std::u16string_view(u"$%'-_@~`!(){}^#&").find(c) != std::u16string_view::npos)
      return char(c);
    lost = true;  // not representable in a short name
    return '_';
  };
  std::array<char, 11> out;
  out.fill(' ');
  size_t b = 0;
  for (char16_t c : base) {
    if (c == u'.') {  // embedded dots of the base are dropped
      lost = true;
      continue;
    }
    if (b == 8) {
      lost = true;
      break;
    }
    out[b++] = mapChar(c);
  }
  size_t e = 0;
  for (char16_t c : ext) {
    if (e == 3) {
      lost = true;
      break;
    }
    out[8 + e++] = mapChar(c);
  }
  if (b == 0) {
    out[0] = '_';
    lost = true;
  }
  *lossy = lost;
  return out;
}

// Gives every child a unique long name and a unique short name, and counts directory slots.
void FATFile::NameChildren(Dir* dir) {
  std::set<std::u16string> longNames;
  std::set<std::string> shortNames = {".          ", "..         "};
  std::map<std::string, int> nextTail;
  // Where the search for a free " (n)" of a name goes on: colliding names take linear time.
  std::map<std::u16string, int> nextCopy;
  dir->slots = 2;
  for (Node& child : dir->children) {
    std::u16string lfn = CutUtf16(Utf8ToUtf16(child.name), 255);
    for (auto& c : lfn) {
      if (ForbiddenInLongName(c)) c = u'_';
    }
    // Trailing dots and spaces do not survive on a FAT volume.
    for (size_t i = lfn.size(); i > 0 && (lfn[i - 1] == u'.' || lfn[i - 1] == u' '); --i) {
      lfn[i - 1] = u'_';
    }
    // Long names are compared without case on FAT: "A.txt" and "a.txt" cannot both stand.
    std::u16string folded = Folded(lfn);
    if (longNames.count(folded)) {
      const size_t dot = lfn.rfind(u'.');
      const std::u16string stem =
          dot == std::u16string::npos || dot == 0 ? lfn : lfn.substr(0, dot);
      const std::u16string ext = lfn.substr(stem.size());
      int& n = nextCopy[folded];
      for (n = std::max(n, 1);;) {
        ++stats_.nameProbes;
        const std::u16string suffix = Ascii16(" (" + std::to_string(++n) + ")");
        // An extension that leaves no room for a stem is just the end of the name.
        const bool keepExt = suffix.size() + ext.size() < 255;
        const std::u16string tail = keepExt ? suffix + ext : suffix;
        const std::u16string candidate = CutUtf16(keepExt ? stem : lfn, 255 - tail.size()) + tail;
        if (!longNames.count(Folded(candidate))) {
          lfn = candidate;
          break;
        }
      }
      folded = Folded(lfn);
    }
    longNames.insert(folded);
    child.longName = lfn;

    // The short name comes from the (possibly renamed) long name.
    std::string utf8Name;
    for (char16_t c : lfn) utf8Name.push_back(c < 0x80 ? char(c) : '\x80');  // non-ASCII: lossy
    bool lossy = false;
    std::array<char, 11> basis = BasisName(utf8Name, &lossy);
    std::string candidate(basis.begin(), basis.end());
    if (lossy || shortNames.count(candidate)) {
      const std::string key(basis.begin(), basis.end());
      int& n = nextTail[key];
      for (;;) {
        ++n;
        const std::string tail = "~" + std::to_string(n);
        size_t baseLen = 8;
        while (baseLen > 0 && basis[baseLen - 1] == ' ') --baseLen;
        baseLen = std::min(baseLen, 8 - std::min<size_t>(tail.size(), 8));
        std::string name(basis.begin(), basis.begin() + baseLen);
        name += tail;
        name.resize(8, ' ');
        name.append(basis.begin() + 8, basis.end());
        if (!shortNames.count(name)) {
          candidate = name;
          break;
        }
      }
    }
    shortNames.insert(candidate);
    std::copy(candidate.begin(), candidate.end(), child.shortName.begin());
    child.slots = uint32_t((lfn.size() + 12) / 13 + 1);
    dir->slots += child.slots;
  }
}

// ---- Scanning ----

FATFile::FATFile(const std::string& folder, bool followLinks)
    : folder_(folder), followLinks_(followLinks), root_(std::make_shared<Dir>()) {
  std::string path = folder;
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  if (path.size() >= kMaxPath) throw Error(kErrPathTooLong, ENAMETOOLONG);
  int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  char real[PATH_MAX];
  if (fd < 0 || !::realpath(path.c_str(), real)) {
    const int err = errno;
    if (fd >= 0) ::close(fd);
    RC_TRACE("fatfile: Error 0x%08lx find first file in %s.\n", long(err), path.c_str());
    throw Error(kErrScanFind, err, path);
  }
  folderReal_ = real;
  anchors_[kAnchorFolder] = ::open(path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (followLinks_) anchors_[kAnchorRoot] = ::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC);
  struct stat st {};
  ::fstat(fd, &st);
  root_->path = path;
  root_->id = {st.st_dev, st.st_ino};
  dirs_[root_->id] = root_;
  try {
    Scan(root_.get(), fd, 0);
    dirs_.clear();
    ChooseBand();
  } catch (const std::bad_alloc&) {
    throw Error(kErrMemory, 0);
  }
  if (linksLeftOut_) {
    RC_TRACE("fatfile: %u links leading outside %s left out\n", linksLeftOut_, path.c_str());
  }
}

FATFile::~FATFile() {
  for (int fd : anchors_) {
    if (fd >= 0) ::close(fd);
  }
}

std::unique_ptr<FATFile> FATFile::Create(const std::string& folder, bool followLinks) {
  auto image = std::make_unique<FATFile>(folder, followLinks);
  image->Build();
  return image;
}

// Where a link found in dir leads, as a path through no link from one of the anchors; false
// for a broken link and for one leading outside the folder (unless those are followed).
bool FATFile::ResolveLink(const Dir& dir, const char* name, int* anchor, std::string* real) {
  const std::string base = dir.anchor == kAnchorFolder ? folderReal_ : "/";
  char target[PATH_MAX];
  if (!::realpath(Join(Join(base, dir.real), name).c_str(), target)) {
    RC_TRACE("fatfile: skipping broken link %s\n", Join(dir.path, name).c_str());
    return false;
  }
  const std::string t = target;
  if (t == folderReal_ || folderReal_ == "/" || t.starts_with(folderReal_ + "/")) {
    *anchor = kAnchorFolder;
    *real = t.substr(std::min(t.size(), folderReal_.size() + (folderReal_ == "/" ? 0 : 1)));
    return true;
  }
  if (!followLinks_) {
    ++linksLeftOut_;
    return false;
  }
  *anchor = kAnchorRoot;
  *real = t.substr(1);
  return true;
}

void FATFile::Scan(Dir* dir, int fd, uint32_t depth) {
  DIR* d = ::fdopendir(fd);
  if (!d) {
    const int err = errno;
    ::close(fd);
    throw Error(kErrScanFind, err, dir->path);
  }
  struct Closer {
    DIR* d;
    ~Closer() { ::closedir(d); }
  } closer{d};
  ++stats_.directories;
  dir->scanning = true;
  const int dfd = ::dirfd(d);
  // Every entry takes at least two slots: a folder with more is refused before it is read on.
  const size_t maxChildren = dir == root_.get() ? (kRootEntries - 1) / 2 : (65536 - 2) / 2;
  for (;;) {
    errno = 0;
    const dirent* e = ::readdir(d);
    if (!e) break;
    const char* name = e->d_name;
    if (!std::strcmp(name, ".") || !std::strcmp(name, "..")) continue;
    ++stats_.entries;
    nameBytes_ += std::strlen(name);
    if (stats_.entries > kMaxEntries || nameBytes_ > kMaxNameBytes) {
      throw Error(kErrTooManyEntries, 0, folder_);
    }
    if (dir->children.size() == maxChildren) {
      if (dir == root_.get()) throw Error(kErrRootFull, 0);
      throw Error(kErrDirectoryFull, 0, dir->path);
    }
    const std::string childPath =
        dir->path == "/" ? "/" + std::string(name) : dir->path + "/" + name;
    if (childPath.size() >= kMaxPath) throw Error(kErrPathTooLong, ENAMETOOLONG);
    struct statx sx {};
    const unsigned mask = STATX_BASIC_STATS | STATX_BTIME;
    if (::statx(dfd, name, AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT, mask, &sx) != 0) continue;
    Node node;
    if (S_ISLNK(sx.stx_mode)) {
      // A link is shown as what it leads to, looked at by its path through no link.
      if (!ResolveLink(*dir, name, &node.anchor, &node.real)) continue;
      if (::statx(anchors_[node.anchor], node.real.empty() ? "." : node.real.c_str(),
                  AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT, mask, &sx) != 0) {
        continue;
      }
    }
    node.name = name;
    node.written = sx.stx_mtime.tv_sec;
    node.created = (sx.stx_mask & STATX_BTIME) ? sx.stx_btime.tv_sec : sx.stx_mtime.tv_sec;
    if (S_ISREG(sx.stx_mode)) {
      node.size = sx.stx_size;
      node.attributes = 0x20;
      if (node.size >= (uint64_t(1) << 32)) throw Error(kErrFileTooLarge, 0, childPath);
    } else if (S_ISDIR(sx.stx_mode)) {
      const std::pair<uint64_t, uint64_t> id = {makedev(sx.stx_dev_major, sx.stx_dev_minor),
                                                sx.stx_ino};
      auto& shared = dirs_[id];
      if (shared && shared->scanning && !shared->done) {
        RC_TRACE("fatfile: skipping %s, a link back to a folder that contains it\n",
                 childPath.c_str());
        continue;
      }
      if (!shared) {
        shared = std::make_shared<Dir>();
        shared->anchor = node.anchor < 0 ? dir->anchor : node.anchor;
        shared->real = node.anchor < 0 ? Join(dir->real, name) : node.real;
        shared->path = childPath;
        shared->id = id;
      }
      node.dir = shared;
      node.isDir = true;
      node.attributes = 0x10;
    } else {
      // FIFOs, sockets and devices are never opened: a FIFO would block the serve thread.
      RC_TRACE("fatfile: skipping special file %s\n", childPath.c_str());
      continue;
    }
    if (!(sx.stx_mode & S_IWUSR)) node.attributes |= 0x01;
    if (name[0] == '.') node.attributes |= 0x02;
    dir->children.push_back(std::move(node));
  }
  if (errno != 0) throw Error(kErrScanFind, errno, dir->path);
  std::sort(dir->children.begin(), dir->children.end(),
            [](const Node& a, const Node& b) { return a.name < b.name; });
  NameChildren(dir);
  // A FAT directory holds at most 65,536 entries (2 MiB).
  if (dir != root_.get() && dir->slots > 65536) throw Error(kErrDirectoryFull, 0, dir->path);
  for (Node& child : dir->children) {
    Dir* sub = child.dir.get();
    if (!sub || sub->done) continue;
    if (depth + 1 >= kMaxDepth) throw Error(kErrPathTooLong, ENAMETOOLONG);
    // Each folder is read once, however many links lead to it.
    const int cfd =
        child.anchor < 0
            ? ::openat(dfd, child.name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)
            : OpenBeneath(anchors_[sub->anchor], sub->real, O_RDONLY | O_DIRECTORY);
    if (cfd < 0) {
      const int err = errno;
      RC_TRACE("fatfile: Error 0x%08lx find first file in %s.\n", long(err), sub->path.c_str());
      throw Error(kErrScanFind, err, sub->path);
    }
    struct stat st {};
    if (::fstat(cfd, &st) != 0 || std::pair<uint64_t, uint64_t>(st.st_dev, st.st_ino) != sub->id) {
      RC_TRACE("fatfile: %s changed while it was scanned\n", sub->path.c_str());
      ::close(cfd);
      sub->done = true;  // shown empty
      continue;
    }
    Scan(sub, cfd, depth + 1);
  }
  Total(dir);
  dir->done = true;
}

// Sums what the folder shows from its children's sums: a folder reached through several links
// is read once but shown, and counted, each time.
void FATFile::Total(Dir* dir) {
  dir->entries = dir->children.size();
  for (const Node& c : dir->children) {
    if (c.isDir) {
      const Dir& sub = *c.dir;
      dir->entries = SatAdd(dir->entries, sub.entries);
      dir->bytes = SatAdd(dir->bytes, sub.bytes);
      dir->depth = std::max(dir->depth, sub.depth + 1);
    } else {
      dir->bytes = SatAdd(dir->bytes, c.size);
    }
    for (size_t b = 0; b < kBandCount; ++b) {
      const uint64_t clusterBytes = uint64_t(kBands[b].sectorsPerCluster) * kSectorSize;
      const uint64_t own = c.isDir ? c.dir->slots * 32 : c.size;
      dir->clusters[b] = SatAdd(dir->clusters[b], (own + clusterBytes - 1) / clusterBytes);
      if (c.isDir) dir->clusters[b] = SatAdd(dir->clusters[b], c.dir->clusters[b]);
    }
  }
  if (dir->entries > kMaxEntries) throw Error(kErrTooManyEntries, 0, folder_);
  if (dir->depth >= kMaxDepth) throw Error(kErrPathTooLong, ENAMETOOLONG);
  if (dir->bytes > kSizeLimit) throw Error(kErrTooLarge, int(kSizeLimit >> 20));
}

void FATFile::ChooseBand() {
  const uint64_t rootSlots = root_->slots - 2;
  if (rootSlots > kRootEntries - 1) throw Error(kErrRootFull, 0);
  folderSize_ = root_->bytes;
  for (size_t b = 0; b < kBandCount; ++b) {
    const Band& band = kBands[b];
    const uint32_t spc = band.sectorsPerCluster;
    const uint32_t fatSz = (256 * spc + 2 - 32 + band.totalSectors - 3) / (256 * spc + 2);
    const uint32_t first = 2 + 2 * fatSz + kRootSectors;
    const uint32_t clusters = (band.totalSectors - first) / spc;
    if (root_->clusters[b] <= clusters) {
      totalSectors_ = band.totalSectors;
      sectorsPerCluster_ = spc;
      fatSz_ = fatSz;
      firstDataSector_ = first;
      return;
    }
  }
  throw Error(kErrTooLarge, int(kSizeLimit >> 20));
}

// ---- Layout ----

void FATFile::FillBootSector() {
  uint8_t* b = bootSector_.data();
  bootSector_.fill(0);
  b[0] = 0xEB;
  b[1] = 0x3C;
  b[2] = 0x90;
  std::memcpy(b + 3, "VANTORFS", 8);
  StoreLe16(b + 11, kSectorSize);
  b[13] = uint8_t(sectorsPerCluster_);
  StoreLe16(b + 14, 2);
  b[16] = 2;
  StoreLe16(b + 17, kRootEntries);
  if (totalSectors_ <= 65535) {
    StoreLe16(b + 19, totalSectors_);
  } else {
    StoreLe32(b + 32, totalSectors_);
  }
  b[21] = 0xF8;
  StoreLe16(b + 22, fatSz_);
  StoreLe16(b + 24, 63);
  StoreLe16(b + 26, 255);
  b[38] = 0x29;
  std::memcpy(b + 39, "ZQX", 4);
  std::memcpy(b + 43, kVolumeLabel, 11);
  std::memcpy(b + 54, "FAT16   ", 8);
  std::memcpy(b + 62, kBootCode, sizeof kBootCode);
  std::memcpy(b + 94, kBootMessage, sizeof kBootMessage);
  b[510] = 0x55;
  b[511] = 0xAA;
}

uint16_t FATFile::FatEntry(uint32_t n) const {
  return uint16_t(fat_[2 * n] | (fat_[2 * n + 1] << 8));
}

void FATFile::SetFatEntry(uint32_t n, uint16_t value) {
  StoreLe16(&fat_[2 * n], value);
}

uint16_t FATFile::AllocateCluster(uint16_t previous) {
  const uint32_t n = uint32_t(clusters_.size());
  // The band was chosen with room for every cluster; running out means the folder changed
  // between the scan and the layout.
  if (n >= ClusterCount() + 2) throw Error(kErrTooLarge, int(kSizeLimit >> 20));
  SetFatEntry(n, kEndOfChain);
  if (previous) SetFatEntry(previous, uint16_t(n));
  clusters_.emplace_back();
  ++clustersUsed_;
  return uint16_t(n);
}

uint16_t FATFile::NewDirectoryCluster(uint16_t previous) {
  const uint16_t n = AllocateCluster(previous);
  directories_.emplace_back(size_t(sectorsPerCluster_) * kSectorSize, 0);
  clusters_[n] = Cluster::ForDirectory(int32_t(directories_.size() - 1), ClusterSector(n));
  return n;
}

void FATFile::Build() {
  try {
    FillBootSector();
    fat_.assign(size_t(fatSz_) * kSectorSize, 0);
    root_dir_.assign(size_t(kRootEntries) * 32, 0);
    clusters_.clear();
    clusters_.reserve(ClusterCount() + 2);
    clusters_.resize(2);
    directories_.clear();
    files_.clear();
    clustersUsed_ = 0;
    SetFatEntry(0, 0xFFF8);
    SetFatEntry(1, 0xFFFF);
    uint8_t* label = root_dir_.data();
    std::memcpy(label, kVolumeLabel, 11);
    label[11] = 0x08;
    StoreLe16(label + 22, 0x9736);
    StoreLe16(label + 24, 0x3625);
    BuildDirectory(*root_, -1, 0, 0);
  } catch (const std::bad_alloc&) {
    throw Error(kErrMemory, 0);
  }
}

// A directory being written: the root's fixed area or a chain of clusters.
struct DirectoryCursor {
  uint8_t* area = nullptr;  // current cluster or the root
  size_t areaSize = 0;
  size_t used = 0;
  uint16_t cluster = 0;  // 0 for the root
};

void FATFile::BuildDirectory(const Dir& dir, int32_t dirIndex, uint16_t dirCluster,
                             uint16_t parentCluster) {
  DirectoryCursor cur;
  if (dirIndex < 0) {
    cur.area = root_dir_.data();
    cur.areaSize = root_dir_.size();
    cur.used = 32;  // the volume label
  } else {
    cur.area = directories_[size_t(dirIndex)].data();
    cur.areaSize = directories_[size_t(dirIndex)].size();
    cur.cluster = dirCluster;
    uint8_t* dot = cur.area;
    std::memcpy(dot, ".          ", 11);
    dot[11] = 0x10;
    StoreLe16(dot + 26, dirCluster);
    uint8_t* dotdot = cur.area + 32;
    std::memcpy(dotdot, "..         ", 11);
    dotdot[11] = 0x10;
    StoreLe16(dotdot + 26, parentCluster);
    cur.used = 64;
  }
  auto nextSlot = [&]() -> uint8_t* {
    if (cur.used == cur.areaSize) {
      if (dirIndex < 0) throw Error(kErrRootFull, 0);
      cur.cluster = NewDirectoryCluster(cur.cluster);
      const Cluster& c = clusters_[cur.cluster];
      cur.area = directories_[size_t(c.directory())].data();
      cur.areaSize = directories_[size_t(c.directory())].size();
      cur.used = 0;
    }
    uint8_t* slot = cur.area + cur.used;
    cur.used += 32;
    return slot;
  };

  const uint32_t clusterBytes = sectorsPerCluster_ * kSectorSize;
  for (const Node& child : dir.children) {
    const char* shortName = child.shortName.data();
    const uint8_t checksum = ShortNameChecksum(shortName);
    const size_t length = child.longName.size();
    const int count = int((length + 12) / 13);
    for (int seq = count; seq >= 1; --seq) {
      uint8_t* e = nextSlot();
      e[0] = uint8_t(seq | (seq == count ? 0x40 : 0));
      e[11] = 0x0F;
      e[13] = checksum;
      static constexpr int kOffsets[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
      for (int i = 0; i < 13; ++i) {
        const size_t at = size_t(seq - 1) * 13 + size_t(i);
        uint16_t c = at < length ? uint16_t(child.longName[at]) : at == length ? 0x0000 : 0xFFFF;
        StoreLe16(e + kOffsets[i], c);
      }
    }
    uint8_t* e = nextSlot();
    std::memcpy(e, shortName, 11);
    e[11] = child.attributes;
    uint16_t t = 0, d = 0;
    if (FatTime(child.created, &t, &d)) {
      StoreLe16(e + 14, t);
      StoreLe16(e + 16, d);
    }
    if (FatTime(child.written, &t, &d)) {
      StoreLe16(e + 18, d);
      StoreLe16(e + 22, t);
      StoreLe16(e + 24, d);
    }
    if (child.isDir) {
      const uint16_t first = NewDirectoryCluster(0);
      StoreLe16(e + 26, first);
      BuildDirectory(*child.dir, clusters_[first].directory(), first, dirCluster);
    } else {
      StoreLe32(e + 28, uint32_t(child.size));
      const uint64_t n = (child.size + clusterBytes - 1) / clusterBytes;
      if (n == 0) continue;
      const int32_t fileIndex = int32_t(files_.size());
      if (child.anchor >= 0) {
        files_.push_back({child.anchor, child.real, Join(dir.path, child.name), child.size});
      } else {
        files_.push_back(
            {dir.anchor, Join(dir.real, child.name), Join(dir.path, child.name), child.size});
      }
      uint16_t previous = 0;
      for (uint64_t i = 0; i < n; ++i) {
        const uint16_t c = AllocateCluster(previous);
        if (i == 0) StoreLe16(e + 26, c);
        clusters_[c] = Cluster::ForFile(fileIndex, uint32_t(i * clusterBytes), ClusterSector(c));
        previous = c;
      }
    }
  }
}

// ---- Reading ----

void FATFile::read(uint64_t offset, uint32_t length, uint8_t* buffer) {
  if (length % kSectorSize) throw Error(kErrBufferSize, int(length));
  if (offset % kSectorSize) throw Error(kErrSector, int(offset));
  const uint64_t firstSector = offset / kSectorSize;
  const uint32_t sectors = length / kSectorSize;
  RC_TRACE("fatfile::read  start(%x): sec 0x%x  len 0x%x  firstDataSector 0x%x\n", unsigned(offset),
           unsigned(firstSector), unsigned(length), firstDataSector_);
  uint32_t done = 0;
  while (done < sectors) {
    const uint64_t s = firstSector + done;
    uint8_t* out = buffer + size_t(done) * kSectorSize;
    if (s >= totalSectors_) {
      // Past the volume: nothing to show but zeros.
      std::memset(out, 0, size_t(sectors - done) * kSectorSize);
      break;
    }
    if (s < firstDataSector_) {
      const uint8_t* src = nullptr;
      if (s == 0) {
        src = bootSector_.data();
      } else if (s == 1) {
        src = nullptr;
      } else if (s < 2 + fatSz_) {
        src = &fat_[(s - 2) * kSectorSize];
      } else if (s < 2 + 2 * uint64_t(fatSz_)) {
        src = &fat_[(s - 2 - fatSz_) * kSectorSize];
      } else {
        src = &root_dir_[(s - 2 - 2 * uint64_t(fatSz_)) * kSectorSize];
      }
      if (src) {
        std::memcpy(out, src, kSectorSize);
      } else {
        std::memset(out, 0, kSectorSize);
      }
      ++done;
      continue;
    }
    done += ReadSectors(uint32_t(s), out, sectors - done);
  }
  RC_TRACE("fatfile::read  finished(%x)\n", unsigned(offset));
}

uint32_t FATFile::ReadSectors(uint32_t s, uint8_t* buffer, uint32_t remaining) {
  const uint32_t cluster = (s - firstDataSector_) / sectorsPerCluster_ + 2;
  if (cluster >= clusters_.size()) {
    // Beyond the last allocated cluster.
    std::memset(buffer, 0, size_t(remaining) * kSectorSize);
    return remaining;
  }
  const Cluster& rec = clusters_[cluster];
  if (rec.firstSector() == 0 || s < rec.firstSector() ||
      s >= rec.firstSector() + sectorsPerCluster_) {
    throw Error(kErrSector, int(s));
  }
  uint32_t count = std::min(rec.firstSector() + sectorsPerCluster_ - s, remaining);
  if (rec.IsDirectory()) {
    const auto& data = directories_[size_t(rec.directory())];
    std::memcpy(buffer, data.data() + size_t(s - rec.firstSector()) * kSectorSize,
                size_t(count) * kSectorSize);
    return count;
  }
  // A file's clusters are consecutive: read as far into its run as the request goes.
  const FileRun& file = files_[size_t(rec.file())];
  const uint64_t start = rec.fileOffset() + uint64_t(s - rec.firstSector()) * kSectorSize;
  const uint64_t clusterBytes = uint64_t(sectorsPerCluster_) * kSectorSize;
  const uint64_t runBytes = (file.size + clusterBytes - 1) / clusterBytes * clusterBytes;
  count = uint32_t(std::min<uint64_t>((runBytes - start) / kSectorSize, remaining));
  const size_t bytes = size_t(count) * kSectorSize;
  std::memset(buffer, 0, bytes);
  RC_TRACE("read_sectors opening file: %s\n", file.path.c_str());
  // Never block on a file that was replaced by a FIFO or a device since the scan, and never
  // follow a link that has taken a file's or a folder's place.
  int fd = OpenBeneath(anchors_[file.anchor], file.real, O_RDONLY | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) {
    RC_TRACE("read_sectors: Error 0x%08lx attempting to open %s.\n", long(errno),
             file.path.c_str());
    return count;  // a file that went away reads as zeros
  }
  struct FdCloser {
    int fd;
    ~FdCloser() { ::close(fd); }
  } closer{fd};
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return count;
  // Only the bytes the volume says the file has; anything after is slack.
  const uint64_t want = start >= file.size ? 0 : std::min<uint64_t>(bytes, file.size - start);
  size_t got = 0;
  while (got < want) {
    ssize_t n = ::pread(fd, buffer + got, want - got, off_t(start + got));
    if (n < 0) {
      if (errno == EINTR) continue;
      const int err = errno;
      RC_TRACE("Cluster 3: Error 0x%08lx attempting to open %s.\n", long(err), file.path.c_str());
      std::memset(buffer, 0, bytes);
      throw Cluster::Error(4, err, file.path);
    }
    if (n == 0) break;  // shortened since the scan: the rest stays zero
    got += size_t(n);
  }
  return count;
}

}  // namespace remcons
