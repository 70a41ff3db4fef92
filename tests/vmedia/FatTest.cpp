// The folder volume: its boot sector worked out by hand from the FAT16 layout, colliding names, its
// limits and hostile trees, and the images of remcons-tool folder-image checked with fsck.fat, mdir
// and mcopy.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <functional>

#include "VmHarness.h"
#include "vmedia/FATFile.h"

namespace remcons {
namespace {

using namespace vmtest;

Bytes Sectors(FATFile& image, uint64_t sector, uint32_t count) {
  Bytes out(size_t(count) * 512, 0xCC);
  image.read(sector * 512, count * 512, out.data());
  return out;
}
uint32_t Le(const uint8_t* p, int n) {
  uint32_t v = 0;
  for (int i = n - 1; i >= 0; --i) v = v << 8 | p[i];
  return v;
}

struct DirEntry {
  std::string shortName;  // 11 bytes
  std::u16string longName;
};

// The root directory's short entries with their long names.
std::vector<DirEntry> RootEntries(FATFile& image) {
  const Bytes bytes = Sectors(image, 2 + 2 * image.FatSectors(), 32);
  std::vector<DirEntry> out;
  std::u16string longName;
  for (size_t at = 0; at + 32 <= bytes.size() && bytes[at] != 0; at += 32) {
    const uint8_t* e = &bytes[at];
    if (e[11] == 0x0F) {  // long-name entries come last part first
      std::u16string part;
      for (int off : {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30}) {
        const char16_t c = char16_t(Le(e + off, 2));
        if (c == 0 || c == 0xFFFF) break;
        part.push_back(c);
      }
      longName = part + longName;
      continue;
    }
    out.push_back({std::string(reinterpret_cast<const char*>(e), 11), longName});
    longName.clear();
  }
  return out;
}

// The message of the error f raises, its code in *code; "accepted" when none.
std::string ErrorOf(const std::function<void()>& f, int* code = nullptr) {
  try {
    f();
  } catch (const FATFile::Error& e) {
    if (code) *code = e.code();
    return e.Message();
  }
  return "accepted";
}

TEST(FATFile, BootSectorMatchesTheTemplate) {
  TempDir dir;
  auto image = FATFile::Create(dir.path());
  auto b = Sectors(*image, 0, 1);
  const Bytes head = {0xEB, 0x3C, 0x90, 'V',  'A',  'N',  'T',  'O',  'R',  'F',  'S',
                      0x00, 0x02, 0x02, 0x02, 0x00, 0x02, 0x00, 0x02, 0xA8, 0x7F, 0xF8,
                      0x40, 0x00, 0x3F, 0x00, 0xFF, 0x00, 0,    0,    0,    0,    0,
                      0,    0,    0,    0x00, 0x00, 0x29, 'Z',  'Q',  'X',  0};
  EXPECT_EQ(Slice(b, 0, head.size()), head);
  EXPECT_EQ(0, std::memcmp(b.data() + 54, "FAT16   ", 8));
  const Bytes code = {0xEA, 0x43, 0x00, 0xC0, 0x07, 0x0E, 0x0E, 0x1F, 0x07, 0xBE, 0x5E,
                      0x00, 0xAC, 0x0A, 0xC0, 0x74, 0x09, 0xB4, 0x0E, 0xBB, 0x07, 0x00,
                      0xCD, 0x10, 0xEB, 0xF2, 0x32, 0xE4, 0xCD, 0x16, 0xCD, 0x19};
  EXPECT_EQ(Slice(b, 62, code.size()), code);
  EXPECT_STREQ(reinterpret_cast<const char*>(b.data() + 94),
               "Virtual Folder is non-bootable.\r\nUnmount the Virtual Folder and then press any "
               "key to reboot.\r\n");
  EXPECT_EQ(Le(&b[510], 2), 0xAA55u);
  // Sector 1 is the zero sector; both FATs begin F8 FF FF FF; the root starts with the label; an
  // empty folder's data area, and all past the volume's end, read as zeros.
  EXPECT_EQ(Sectors(*image, 1, 1), Bytes(512));
  for (uint32_t fat : {2u, 2u + 64u}) EXPECT_EQ(Le(Sectors(*image, fat, 1).data(), 4), 0xFFFFFFF8u);
  auto root = Sectors(*image, 130, 1);
  EXPECT_EQ(0, std::memcmp(root.data(), "Kroq FOLDER\x08", 12));
  EXPECT_EQ(Le(root.data() + 22, 4), 0x36259736u);
  for (uint64_t sector : {162u, 32680u}) EXPECT_EQ(Sectors(*image, sector, 64), Bytes(64 * 512));
}

// The limits of the volume, each refused with its own code and message; 510 root entries fit.
TEST(FATFile, FoldersBeyondTheLimitsAreRefused) {
  const uint64_t GB = 1073741824;
  const auto files = [](int n, const char* format) {
    return [n, format](const TempDir& dir) {
      for (int i = 0; i < n; ++i) {
        char name[64];
        std::snprintf(name, sizeof name, format, i);
        WriteText(dir / name, "");
      }
    };
  };
  const auto sparse = [](uint64_t a, uint64_t b) {
    return [a, b](const TempDir& dir) {
      SparseFile(dir / "a", a);
      if (b) SparseFile(dir / "b", b);
    };
  };
  const std::string tooLarge = "Selected folder exceeds maximum allowed folder size of 1024 MB.";
  const struct {
    std::function<void(const TempDir&)> fill;
    int code;
    std::string message;  // "$" standing for the folder; a part of the text when it ends in "…"
  } cases[] = {
      {files(255, "f%d"), 0, "accepted"},
      {files(256, "f%d"), FATFile::kErrRootFull,
       "Selected folder exceeds maximum entries for file system root directory."},
      // 22,000 names of 18 characters take three entries each: 66,002 with "." and "..".
      {files(22000, "sub/entry-number-%05d"), FATFile::kErrDirectoryFull,
       "The folder $/sub holds more entries than a FAT16 directory can."},
      {sparse(GB / 2, GB / 2), FATFile::kErrTooLarge, tooLarge},
      {sparse(uint64_t(1) << 32, 0), FATFile::kErrFileTooLarge, "$/a…"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    TempDir dir;
    c.fill(dir);
    int code = 0;
    const std::string message = ErrorOf([&] { FATFile::Create(dir.path()); }, &code);
    std::string expected = c.message;
    if (auto at = expected.find('$'); at != std::string::npos) expected.replace(at, 1, dir.path());
    EXPECT_EQ(code, c.code);
    if (expected.ends_with("…")) {
      EXPECT_NE(message.find(expected.substr(0, expected.size() - 3)), std::string::npos);
    } else {
      EXPECT_EQ(message, expected);
    }
  }
}

// Names that collide where " (2)" would split a surrogate pair (no room for the extension, cases
// and forbidden characters: the hostile trees below), and masses of one name.
TEST(FATFile, CollidingNamesAreRenamed) {
  TempDir work;
  const std::string pair = "\xF0\x9F\x98\x80!";
  for (const std::string& name : {std::string(250, 'C') + pair, std::string(250, 'c') + pair})
    WriteText(work / name, "");
  auto entries = RootEntries(*FATFile::Create(work.path()));
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[2].longName, std::u16string(250, u'c') + u" (2)");
  // 2,000 names of one long form (three stray continuation bytes each): one probe each.
  TempDir dir;
  for (int i = 0; i < 2000; ++i) {
    const char name[] = {'n', char(0x80 + i % 20), char(0x80 + i / 20 % 20), char(0x80 + i / 400),
                         0};
    WriteText(dir / ("sub/" + std::string(name)), "");
  }
  EXPECT_LT(FATFile::Create(dir.path())->Stats().nameProbes, 2000u);
}

// Folders each linked twice from the one above: each read once, and refused once what they show
// passes the limit.
TEST(FATFile, LinkFanOutsAreReadOnceAndBounded) {
  for (size_t levels : {12, 38}) {
    TempDir dir;
    for (std::string at = dir.path(); at.size() < dir.path().size() + 2 * levels; at += "/n") {
      fs::create_directories(at + "/n");
      ASSERT_EQ(0, ::symlink("n", (at + "/l").c_str()));
    }
    const std::string message = ErrorOf([&] {
      auto image = FATFile::Create(dir.path());
      EXPECT_EQ(image->Stats().directories, 13u);
      EXPECT_EQ(image->ClustersUsed(), 8190u);  // 2^13 - 2 folders shown, a cluster each
    });
    EXPECT_EQ(message, levels == 12 ? "accepted"
                                    : "The folder " + dir.path() +
                                          " shows more than 262144 files and folders (those "
                                          "reached through links counted each time); a volume "
                                          "cannot hold them.");
  }
}

// Removed and shortened files read as zeros, a FIFO in their place never opened. Links leading
// outside, left out or followed, are the tool's tests below; files and folders swapped for links
// to outside after the scan the folder volume fuzz target's, which checks that nothing from
// outside shows.
TEST(FATFile, FilesChangedAfterTheScanReadAsZeros) {
  TempDir dir;
  const auto bytes = RandomBytes(4096, 2);
  WriteFile(dir / "files/gone.bin", bytes);
  WriteFile(dir / "files/short.bin", bytes);
  ASSERT_EQ(0, ::mkfifo((dir / "files/pipe").c_str(), 0644));  // not opened by the scan either
  auto files = FATFile::Create(dir / "files");
  ::unlink((dir / "files/gone.bin").c_str());
  ASSERT_EQ(0, ::truncate((dir / "files/short.bin").c_str(), 1000));
  ASSERT_EQ(0, ::mkfifo((dir / "files/gone.bin").c_str(), 0644));
  Bytes expected(8192, 0);  // both files, 8 sectors each
  std::copy_n(bytes.begin(), 1000, expected.begin() + 4096);
  EXPECT_EQ(Sectors(*files, 162, 16), expected);
}

TEST(FATFile, BadRequestsAndErrors) {
  TempDir dir;
  auto image = FATFile::Create(dir.path());
  uint8_t buffer[1024];
  EXPECT_EQ(ErrorOf([&] { image->read(0, 100, buffer); }), "Invalid buffer size 0x64.");
  EXPECT_EQ(ErrorOf([&] { image->read(100, 512, buffer); }), "Invalid sector request 0x64.");
  EXPECT_EQ(FATFile::Error(4, 5, "/x").Message(), "File error occurred on /x. [4005]");
  EXPECT_EQ(FATFile::Error(12, 0).Message(),
            "Unknown error(012) while attempting to map Folder. Try again.");
  EXPECT_EQ(Cluster::Error(9, 0, "").Message(), "Unknown cluster error(009).");
  if (::geteuid() == 0) return;  // root reads every folder
  fs::create_directories(dir / "locked");
  ::chmod((dir / "locked").c_str(), 0);
  int code = 0;
  ErrorOf([&] { FATFile image(dir.path()); }, &code);
  EXPECT_EQ(code, 5);
}

std::string Tool(const std::string& args) {
  return std::string(REMCONS_TOOL_PATH) + " folder-image " + args;
}

// Trees of every shape and size, each band of the volume (sparse files keep the large ones quick:
// only fsck.fat reads them, and one marked sector in the middle of a large cluster).
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define REMCONS_TEST_SANITIZED 1
#endif
#endif
#ifdef REMCONS_TEST_SANITIZED
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

TEST(FolderImageTool, ImagesOfEveryShapeAndBandPassTheFatTools) {
  if (!HaveFatTools()) GTEST_SKIP() << "fsck.fat, mdir and mcopy are needed";
  const auto files = [](int n, int size, const std::string& format) {
    return [=](const std::string& src) {
      for (int i = 0; i < n; ++i) {
        char name[64];
        std::snprintf(name, sizeof name, format.c_str(), i / 900, i % 900);
        WriteFile(src + "/" + name, RandomBytes(size_t(size < 0 ? i : size), uint32_t(i)));
      }
    };
  };
  const auto sparse = [](uint64_t size) {
    return [size](const std::string& src) { SparseFile(src + "/big.bin", size << 20); };
  };
  const auto everyShape = [&](const std::string& src) {
    // Deep folders, empty ones, dots in folder names, 500 entries in one folder and 200 in the
    // root, Unicode and awkward long names.
    files(500, -1, "many/longname%d%d.txt")(src);
    files(200, 7, "entry%d%d")(src);
    WriteFile(src + "/a/b/c/d/e/deep file.bin", RandomBytes(70000, 2));
    fs::create_directories(src + "/a/empty");
    WriteText(src + "/folder.with.dots/x.y/z", "z");
    for (const char* name :
         {"\xC3\x9Cn\xC3\xAF\x63\xC3\xB6\x64\xC3\xA9.txt", "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E",
          "a+b=c;d,e[f].txt", "spaces in name .doc", "UPPER.TXT", "lower.txt", "x y z.TXT",
          "mixed.Case.Name.tar.gz",
          "very long name that goes on and on and on past thirteen characters several times.txt"})
      WriteFile(src + "/" + name, RandomBytes(100, 7));
  };
  const struct {
    const char* name;
    std::function<void(const std::string&)> fill;
    uint32_t sectors, perCluster;
  } cases[] = {
      {"empty", [](const std::string& src) { fs::create_directories(src); }, 32680, 2},
      {"18,000 clusters do not fit the first band", files(18000, 1, "d%d/%d"), 262144, 4},
      {"a tree of every shape", everyShape, 32680, 2},
      // 15 files of 1,000,000 bytes need 14,655 clusters of the 16,259 the first band has.
      {"near the first band's limit", files(15, 1000000, "part%d%d"), 32680, 2},
      {"16 MB", sparse(16), 262144, 4},
      {"900 MB", sparse(900), 2097152, 32},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    // Under the sanitizers the top band only repeats the 16 MB band's code over more sectors;
    // writing and checking it instrumented would take minutes.
    if (kSanitized && c.sectors > 524288) continue;
    TempDir work;
    c.fill(work / "src");
    const bool big = fs::exists(work / "src/big.bin");
    Bytes marker = RandomBytes(512, 3);
    if (big) {
      FILE* f = std::fopen((work / "src/big.bin").c_str(), "r+b");
      std::fseek(f, 16 * 512, SEEK_SET);
      std::fwrite(marker.data(), 1, marker.size(), f);
      std::fclose(f);
    }
    std::string out;
    ASSERT_EQ(0, vmtest::Run(Tool(Quote(work / "src") + " " + Quote(work / "out.img")), &out))
        << out;
    auto image = FATFile::Create(work / "src");
    EXPECT_EQ(fs::file_size(work / "out.img"), image->Size());
    EXPECT_EQ(image->Size(), uint64_t(c.sectors) * 512);
    EXPECT_EQ(image->SectorsPerCluster(), c.perCluster);
    if (big) {
      EXPECT_EQ(Sectors(*image, image->FirstDataSector() + 16, 1), marker);
    }
    CheckFatImage(work / "src", work / "out.img", !big);
  }
}

// A folder over the limit is the volume's test; an image left unwritten the read error's below.
TEST(FolderImageTool, BadArgumentsAreRefused) {
  TempDir work;
  std::string out;
  EXPECT_EQ(2, vmtest::Run(Tool("onlyone"), &out));
  EXPECT_NE(out.find("usage"), std::string::npos);
  EXPECT_NE(0, vmtest::Run(Tool("/nonexistent/dir " + Quote(work / "x.img")), &out));
  EXPECT_NE(out.find("File error occurred on /nonexistent/dir."), std::string::npos) << out;
}

// Hostile trees against the folder a user should see: names renamed where they collide, links
// leading outside, broken or looping left out (outside ones, asked for, shown as copies), a folder
// linked inside shown twice. Short names and UTF-16 long names are the names fuzz target's and the
// FAT tools' here and in the bands above. A
// file whose reads fail (a kernel attribute that refuses them) ends the image with the read error,
// and nothing half written is left.
TEST(FolderImageTool, HostileTreesAndAReadError) {
  if (!HaveFatTools()) GTEST_SKIP() << "fsck.fat, mdir and mcopy are needed";
  const std::string b251(251, 'b'), b249(249, 'b'), failing = "/sys/class/net/lo/speed";
  struct Case {
    const char* options;
    std::vector<std::pair<std::string, std::string>> files, links, expected;  // path, text
  };
  const Case cases[] = {
      {"",
       {{"a." + b251, "1"}, {"A." + b251, "2"}, {"e/:." + b251, "5"}, {"e/*." + b251, "6"}},
       // Outside, broken and looping links left out, a link to a folder shown as a copy of it.
       {{"abs", "/etc"}, {"broken", "nowhere"}, {"e/up", ".."}, {"alias", "e"}},
       {{"A." + b251, "2"},
        {"a." + b249 + " (2)", "1"},
        {"e/_." + b251, "6"},
        {"e/_." + b249 + " (2)", "5"},
        {"alias/_." + b251, "6"},
        {"alias/_." + b249 + " (2)", "5"}}},
      {"--follow-links ",
       {{"in.txt", "in"}, {"../outside.txt", "secret"}},
       {{"notes.txt", "../outside.txt"}},
       {{"in.txt", "in"}, {"notes.txt", "secret"}}},
      {"--follow-links ", {}, {{"speed", failing}}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.options);
    TempDir work;
    fs::create_directories(work / "src");
    for (auto& [path, text] : c.files) WriteText(work / ("src/" + path), text);
    for (auto& [path, to] : c.links)
      ASSERT_EQ(0, ::symlink(to.c_str(), (work / ("src/" + path)).c_str()));
    for (auto& [path, text] : c.expected) WriteText(work / ("expected/" + path), text);
    std::string out;
    const int status =
        vmtest::Run(Tool(c.options + Quote(work / "src") + " " + Quote(work / "out.img")), &out);
    if (!c.expected.empty()) {
      ASSERT_EQ(0, status) << out;
      CheckFatImage(work / "expected", work / "out.img");
    } else if (fs::exists(failing) && vmtest::Run("cat " + failing) != 0) {
      EXPECT_EQ(1, status);
      EXPECT_NE(out.find("Cluster faild to read file " + (work / "src") + "/speed. [4022]"),
                std::string::npos)
          << out;
      EXPECT_FALSE(fs::exists(work / "out.img"));
    }
  }
}

}  // namespace
}  // namespace remcons
