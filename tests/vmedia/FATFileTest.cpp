// The folder volume, checked byte by byte against the FAT16 layout worked out by hand.
#include "vmedia/FATFile.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <map>
#include <set>

#include "VmHarness.h"

namespace remcons {
namespace {

using namespace vmtest;

Bytes Sectors(FATFile& image, uint64_t sector, uint32_t count) {
  Bytes out(size_t(count) * 512, 0xCC);
  image.read(sector * 512, count * 512, out.data());
  return out;
}

uint16_t Le16(const uint8_t* p) {
  return uint16_t(p[0] | p[1] << 8);
}
uint32_t Le32(const uint8_t* p) {
  return uint32_t(Le16(p)) | uint32_t(Le16(p + 2)) << 16;
}
bool Zeros(Bytes::const_iterator from, Bytes::const_iterator to) {
  return std::all_of(from, to, [](uint8_t b) { return b == 0; });
}

struct DirEntry {
  std::string shortName;  // 11 bytes
  std::u16string longName;
  uint8_t attributes;
  uint16_t cluster;
  uint32_t size;
  int lfnEntries;
  uint8_t firstLfnByte;
};

// The root directory's short entries with their long names.
std::vector<DirEntry> RootEntries(FATFile& image) {
  const Bytes bytes = Sectors(image, 2 + 2 * image.FatSectors(), 32);
  std::vector<DirEntry> out;
  std::vector<const uint8_t*> lfns;
  for (size_t at = 0; at + 32 <= bytes.size() && bytes[at] != 0; at += 32) {
    const uint8_t* e = &bytes[at];
    if (e[11] == 0x0F) {
      lfns.push_back(e);
      continue;
    }
    DirEntry d{std::string(reinterpret_cast<const char*>(e), 11),
               u"",
               e[11],
               Le16(e + 26),
               Le32(e + 28),
               int(lfns.size()),
               lfns.empty() ? uint8_t(0) : lfns.front()[0]};
    for (auto it = lfns.rbegin(); it != lfns.rend(); ++it) {
      for (int off : {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30}) {
        const char16_t c = char16_t(Le16(*it + off));
        if (c == 0 || c == 0xFFFF) break;
        d.longName.push_back(c);
      }
    }
    lfns.clear();
    out.push_back(d);
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
  EXPECT_EQ(Le16(&b[510]), 0xAA55);
  // Sector 1 is the zero sector; both FATs begin F8 FF FF FF.
  auto zero = Sectors(*image, 1, 1);
  EXPECT_TRUE(Zeros(zero.begin(), zero.end()));
  for (uint32_t fat : {2u, 2u + 64u}) EXPECT_EQ(Le32(Sectors(*image, fat, 1).data()), 0xFFFFFFF8u);
  // The root directory starts with the label.
  auto root = Sectors(*image, 130, 1);
  EXPECT_EQ(0, std::memcmp(root.data(), "Kroq FOLDER\x08", 12));
  EXPECT_EQ(Le32(root.data() + 22), 0x36259736u);
  // An empty folder's data area, and all past the volume's end, read as zeros.
  for (uint64_t sector : {162u, 32680u}) {
    auto zeros = Sectors(*image, sector, 64);
    EXPECT_TRUE(Zeros(zeros.begin(), zeros.end()));
  }
}

TEST(FATFile, BandsFollowTheClustersNeeded) {
  struct Case {
    std::vector<uint64_t> files;
    uint32_t totalSectors, sectorsPerCluster, firstDataSector;
  };
  const uint64_t MB = 1048576;
  const Case cases[] = {
      {{}, 32680, 2, 162},
      {{15 * MB}, 32680, 2, 162},
      {{16 * MB}, 262144, 4, 546},  // exactly 16 MB no longer fits the first band
      {{127 * MB}, 262144, 4, 546},
      {{128 * MB}, 524288, 8, 546},
      {{300 * MB}, 1048576, 16, 546},
      {{400 * MB, 300 * MB}, 2097152, 32, 546},
  };
  for (const Case& c : cases) {
    TempDir dir;
    for (size_t i = 0; i < c.files.size(); ++i)
      SparseFile(dir / ("f" + std::to_string(i)), c.files[i]);
    FATFile image(dir.path());
    SCOPED_TRACE(c.files.size());
    EXPECT_EQ(image.TotalSectors(), c.totalSectors);
    EXPECT_EQ(image.SectorsPerCluster(), c.sectorsPerCluster);
    EXPECT_EQ(image.FirstDataSector(), c.firstDataSector);
  }
}

// The limits of the volume, each refused with its own code and message; 510 root entries fit.
TEST(FATFile, FoldersBeyondTheLimitsAreRefused) {
  const uint64_t GB = 1073741824;
  struct Case {
    const char* name;
    std::function<void(const TempDir&)> fill;
    int code;
    std::string message;  // the whole text, "$" standing for the folder
    bool part = false;    // message is only a part of the text
  };
  const auto files = [](int n, const std::string& format) {
    return [n, format](const TempDir& dir) {
      for (int i = 0; i < n; ++i) {
        char name[64];
        std::snprintf(name, sizeof name, format.c_str(), i);
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
  const Case cases[] = {
      {"255 files of two entries each: 510", files(255, "f%d"), 0, "accepted"},
      {"256 files: 512 root entries", files(256, "f%d"), FATFile::kErrRootFull,
       "Selected folder exceeds maximum entries for file system root directory."},
      // 22,000 names of 18 characters take three entries each: 66,002 with "." and "..".
      {"a subfolder of more than 65,536 entries", files(22000, "sub/entry-number-%05d"),
       FATFile::kErrDirectoryFull,
       "The folder $/sub holds more entries than a FAT16 directory can."},
      {"1 GiB of files", sparse(GB / 2, GB / 2), FATFile::kErrTooLarge, tooLarge},
      {"1 GiB and a byte", sparse(GB / 2, GB / 2 + 1), FATFile::kErrTooLarge, tooLarge},
      {"a file of 4 GiB, by name", sparse(uint64_t(1) << 32, 0), FATFile::kErrFileTooLarge, "$/a",
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    c.fill(dir);
    int code = 0;
    const std::string message = ErrorOf([&] { FATFile::Create(dir.path()); }, &code);
    std::string expected = c.message;
    if (auto at = expected.find('$'); at != std::string::npos) expected.replace(at, 1, dir.path());
    EXPECT_EQ(code, c.code);
    if (c.part) {
      EXPECT_NE(message.find(expected), std::string::npos) << message;
    } else {
      EXPECT_EQ(message, expected);
    }
  }
}

TEST(FATFile, ReadmeGetsOneLongNameEntryAndItsShortName) {
  TempDir dir;
  WriteText(dir / "readme.txt", "hello");
  auto image = FATFile::Create(dir.path());
  auto entries = RootEntries(*image);
  ASSERT_EQ(entries.size(), 2u);  // label, file
  EXPECT_EQ(entries[1].shortName, "README  TXT");
  EXPECT_EQ(entries[1].lfnEntries, 1);
  EXPECT_EQ(entries[1].firstLfnByte, 0x41);
  EXPECT_EQ(entries[1].longName, u"readme.txt");
  EXPECT_EQ(entries[1].size, 5u);
  EXPECT_EQ(entries[1].attributes & 0x20, 0x20);
  // The long-name entry's checksum is the short name's.
  auto root = Sectors(*image, 130, 1);
  uint8_t sum = 0;
  for (char c : std::string("README  TXT"))
    sum = uint8_t(((sum & 1) << 7) + (sum >> 1) + uint8_t(c));
  EXPECT_EQ(root[32 + 13], sum);
  // After the 10 characters: one 0x0000, then 0xFFFF.
  EXPECT_EQ(Slice(root, 32 + 22, 10), (Bytes{'t', 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF}));
}

TEST(FATFile, ShortNamesAreValidAndUniqueAndLongNamesUtf16) {
  TempDir dir;
  for (const char* name : {"longname1.txt", "longname2.txt", "longname3.txt", "a+b=c.txt",
                           "my.file.name.txt", ".hidden", "a.b", "A.txt", "a.txt", "x y z.TXT",
                           "tail.jpeg", "smile \xF0\x9F\x98\x80.txt"}) {
    WriteText(dir / name, name);
  }
  MakeDirs(dir / "folder.with.dots");
  auto image = FATFile::Create(dir.path());
  auto entries = RootEntries(*image);
  std::set<std::string> shortNames;
  std::set<std::u16string> longFolded;
  for (size_t i = 1; i < entries.size(); ++i) {
    const std::string& s = entries[i].shortName;
    EXPECT_TRUE(shortNames.insert(s).second) << "duplicate " << s;
    for (char c : s) {
      EXPECT_TRUE((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                  std::string(" _~$%'-@`!(){}^#&").find(c) != std::string::npos)
          << "bad character in " << s;
    }
    std::u16string folded = entries[i].longName;
    for (auto& c : folded) c = (c >= u'a' && c <= u'z') ? char16_t(c - 32) : c;
    EXPECT_TRUE(longFolded.insert(folded).second);
  }
  std::map<std::u16string, std::string> shortOf;
  for (auto& e : entries) shortOf[e.longName] = e.shortName;
  const std::map<std::u16string, std::string> expected = {
      {u"longname1.txt", "LONGNA~1TXT"},
      {u"longname2.txt", "LONGNA~2TXT"},
      {u"longname3.txt", "LONGNA~3TXT"},
      {u"a+b=c.txt", "A_B_C~1 TXT"},
      {u"my.file.name.txt", "MYFILE~1TXT"},
      {u"tail.jpeg", "TAIL~1  JPE"},
      // A folder's dots separate its extension like a file's: "A.B" inside the name is not valid.
      {u"a.b", "A       B  "},
      {u"folder.with.dots", "FOLDER~1DOT"},
      // Two names that differ only in case cannot both stand on FAT: the second is renamed.
      {u"A.txt", "A       TXT"}};
  for (auto& [name, shortName] : expected) EXPECT_EQ(shortOf[name], shortName);
  EXPECT_TRUE(shortOf.count(u"a (2).txt"));
  EXPECT_TRUE(shortOf.count(u"smile \xD83D\xDE00.txt"));  // a surrogate pair
}

TEST(FATFile, Utf8BecomesUtf16) {
  const std::pair<std::string, std::u16string> cases[] = {
      {"abc", u"abc"},
      {"\xC3\xA9t\xC3\xA9", u"\u00E9t\u00E9"},
      {"\xE6\x97\xA5\xE6\x9C\xAC", u"\u65E5\u672C"},
      {"\xF0\x9F\x98\x80", u"\xD83D\xDE00"},              // surrogate pair
      {"a\xFFz", u"a\uFFFDz"},                            // invalid byte
      {"\xC0\xAF", u"\uFFFD\uFFFD"},                      // overlong
      {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},            // encoded surrogate
      {"\xE6\x97", u"\uFFFD\uFFFD"},                      // truncated
      {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},  // above U+10FFFF
  };
  for (const auto& [utf8, utf16] : cases) EXPECT_EQ(FATFile::Utf8ToUtf16(utf8), utf16) << utf8;
}

TEST(FATFile, FileClustersAreConsecutiveAndTheSlackIsZero) {
  TempDir dir;
  auto bytes = RandomBytes(3000, 1);
  WriteFile(dir / "f.bin", bytes);
  auto image = FATFile::Create(dir.path());
  auto entries = RootEntries(*image);
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[1].cluster, 2);
  EXPECT_EQ(Slice(Sectors(*image, 2, 1), 4, 8), (Bytes{3, 0, 4, 0, 0xF8, 0xFF, 0, 0}));
  auto data = Sectors(*image, 162, 6);
  EXPECT_EQ(data, Slice(bytes, 0, 3000, 6 * 512));
  EXPECT_EQ(Sectors(*image, 163, 1), Slice(bytes, 512, 512));  // one sector inside a cluster
}

TEST(FATFile, OneSectorInTheMiddleOfALargeCluster) {
  TempDir dir;
  SparseFile(dir / "a.big", 600u << 20);
  Bytes marker(512);
  for (size_t i = 0; i < 512; ++i) marker[i] = uint8_t(i ^ 0x5A);
  FILE* f = std::fopen((dir / "a.big").c_str(), "r+b");
  std::fseek(f, 16 * 512, SEEK_SET);
  std::fwrite(marker.data(), 1, marker.size(), f);
  std::fclose(f);
  auto image = FATFile::Create(dir.path());
  ASSERT_EQ(image->SectorsPerCluster(), 32u);
  EXPECT_EQ(Sectors(*image, image->FirstDataSector() + 16, 1), marker);
}

TEST(FATFile, LinksLoopsAndSpecialFilesAreNeverFollowedOrOpened) {
  TempDir dir;
  WriteText(dir / "real/file.txt", "content");
  ASSERT_EQ(0, ::symlink("..", (dir / "real/up").c_str()));  // a loop
  ASSERT_EQ(0, ::symlink("real", (dir / "alias").c_str()));  // a folder elsewhere
  ASSERT_EQ(0, ::symlink("real/file.txt", (dir / "link.txt").c_str()));
  ASSERT_EQ(0, ::symlink("nowhere", (dir / "broken").c_str()));
  ASSERT_EQ(0, ::mkfifo((dir / "fifo").c_str(), 0644));
  int s = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un sa{};
  sa.sun_family = AF_UNIX;
  std::snprintf(sa.sun_path, sizeof sa.sun_path, "%s", (dir / "sock").c_str());
  ASSERT_EQ(0, ::bind(s, reinterpret_cast<sockaddr*>(&sa), sizeof sa));
  auto image = FATFile::Create(dir.path());
  ::close(s);
  std::set<std::u16string> names;
  for (auto& e : RootEntries(*image)) names.insert(e.longName);
  EXPECT_EQ(names, (std::set<std::u16string>{u"", u"alias", u"link.txt", u"real"}));
}

// Names that collide where " (2)" leaves no room for the extension or would split a surrogate
// pair (cases and forbidden characters: FolderImageTool.HostileTrees), and masses of one name.
TEST(FATFile, CollidingNamesAreRenamed) {
  TempDir work;
  const std::string ext = "." + std::string(251, 'b'), pair = "\xF0\x9F\x98\x80!";
  for (const std::string& name :
       {"\x80" + ext, "\x81" + ext, std::string(250, 'C') + pair, std::string(250, 'c') + pair}) {
    vmtest::WriteText(work / name, "");
  }
  auto entries = RootEntries(*FATFile::Create(work.path()));
  ASSERT_EQ(entries.size(), 5u);
  EXPECT_EQ(entries[2].longName, std::u16string(250, u'c') + u" (2)");
  EXPECT_EQ(entries[4].longName, u"\uFFFD." + std::u16string(249, u'b') + u" (2)");
  // 2,000 names of one long form (three stray continuation bytes each): one probe each.
  TempDir dir;
  for (int i = 0; i < 2000; ++i) {
    const char name[] = {'n', char(0x80 + i % 20), char(0x80 + i / 20 % 20), char(0x80 + i / 400),
                         0};
    vmtest::WriteText(dir / ("sub/" + std::string(name)), "");
  }
  EXPECT_LT(FATFile::Create(dir.path())->Stats().nameProbes, 2000u);
}

// Folders each linked twice from the one above: each read once, and refused once what they show
// passes the limit.
TEST(FATFile, LinkFanOutsAreReadOnceAndBounded) {
  for (size_t levels : {12, 38}) {
    TempDir dir;
    for (std::string at = dir.path(); at.size() < dir.path().size() + 2 * levels; at += "/n") {
      vmtest::MakeDirs(at + "/n");
      ASSERT_EQ(0, ::symlink("n", (at + "/l").c_str()));
    }
    try {
      auto image = FATFile::Create(dir.path());
      EXPECT_EQ(levels, 12u);
      EXPECT_EQ(image->Stats().directories, 13u);
      EXPECT_EQ(image->ClustersUsed(), 8190u);  // 2^13 - 2 folders shown, a cluster each
    } catch (const FATFile::Error& e) {
      EXPECT_EQ(levels, 38u);
      EXPECT_EQ(e.Message(), "The folder " + dir.path() +
                                 " shows more than 262144 files and folders (those reached "
                                 "through links counted each time); a volume cannot hold them.");
    }
  }
}

// Links leading outside are left out unless asked for; a file or a folder swapped for a link to
// outside after the scan reads as zeros.
TEST(FATFile, LinksOutsideAreLeftOutAndNeverFollowedWhenServed) {
  TempDir dir;
  vmtest::WriteText(dir / "outdir/f.txt", "secret");
  vmtest::WriteText(dir / "share/in.txt", "inside");
  vmtest::WriteText(dir / "share/sub/f.txt", "inside");
  ASSERT_EQ(0, ::symlink("../outdir/f.txt", (dir / "share/notes.txt").c_str()));
  ASSERT_EQ(0, ::symlink((dir / "outdir").c_str(), (dir / "share/od").c_str()));
  EXPECT_EQ(FATFile::Create(dir / "share", true)->LinksLeftOut(), 0u);
  auto image = FATFile::Create(dir / "share");
  EXPECT_EQ(image->LinksLeftOut(), 2u);
  auto data = [&] {
    auto all = Sectors(*image, image->FirstDataSector(), image->ClustersUsed() * 2);
    return std::string(all.begin(), all.end());
  };
  EXPECT_NE(data().rfind("inside"), data().find("inside"));
  ASSERT_EQ(0, ::unlink((dir / "share/in.txt").c_str()));
  ASSERT_EQ(0, ::symlink("../outdir/f.txt", (dir / "share/in.txt").c_str()));
  ASSERT_EQ(0, ::rename((dir / "share/sub").c_str(), (dir / "gone").c_str()));
  ASSERT_EQ(0, ::symlink("../outdir", (dir / "share/sub").c_str()));
  EXPECT_EQ(data().find("secret"), std::string::npos);
}

TEST(FATFile, RemovedOrShortenedFilesReadAsZeros) {
  TempDir dir;
  auto bytes = RandomBytes(4096, 2);
  WriteFile(dir / "gone.bin", bytes);
  WriteFile(dir / "short.bin", bytes);
  auto image = FATFile::Create(dir.path());
  ::unlink((dir / "gone.bin").c_str());
  ASSERT_EQ(0, ::truncate((dir / "short.bin").c_str(), 1000));
  ASSERT_EQ(0, ::mkfifo((dir / "gone.bin").c_str(), 0644));  // replaced by a FIFO: never opened
  auto data = Sectors(*image, 162, 16);                      // both files, 8 sectors each
  Bytes expected(8192, 0);
  std::copy_n(bytes.begin(), 1000, expected.begin() + 4096);
  EXPECT_EQ(data, expected);
}

TEST(FATFile, BadRequestsAndErrorTexts) {
  TempDir dir;
  auto image = FATFile::Create(dir.path());
  uint8_t buffer[1024];
  EXPECT_EQ(ErrorOf([&] { image->read(0, 100, buffer); }), "Invalid buffer size 0x64.");
  EXPECT_EQ(ErrorOf([&] { image->read(100, 512, buffer); }), "Invalid sector request 0x64.");
  const std::pair<std::string, std::string> texts[] = {
      {FATFile::Error(4, 5, "/x").Message(), "File error occurred on /x. [4005]"},
      {FATFile::Error(7, 36).Message(), "File copy error occurred. [7036]"},
      {FATFile::Error(14, 2).Message(), "Folder path creation error. [14002]"},
      {FATFile::Error(3, 0).Message(), "System memory allocation failed. [3]"},
      {FATFile::Error(12, 0).Message(),
       "Unknown error(012) while attempting to map Folder. Try again."},
      {Cluster::Error(4, 5, "/f").Message(), "Cluster faild to read file /f. [4005]"},
      {Cluster::Error(3, 5, "/f").Message(), "Cluster error occurred on /f. [3005]"},
      {Cluster::Error(2, 5, "").Message(), "Cluster copy error occurred. [2005]"},
      {Cluster::Error(9, 0, "").Message(), "Unknown cluster error(009)."},
  };
  for (const auto& [text, expected] : texts) EXPECT_EQ(text, expected);
}

TEST(FATFile, UnreadableFolderIsAFileError) {
  if (::geteuid() == 0) GTEST_SKIP() << "root reads every folder";
  TempDir dir;
  MakeDirs(dir / "locked");
  ::chmod((dir / "locked").c_str(), 0);
  int code = 0;
  ErrorOf([&] { FATFile image(dir.path()); }, &code);
  EXPECT_EQ(code, 5);
  ::chmod((dir / "locked").c_str(), 0755);
}

}  // namespace
}  // namespace remcons
