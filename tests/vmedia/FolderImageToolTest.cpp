// remcons-tool folder-image, checked with the real FAT tools: fsck.fat, mdir and mcopy.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <vector>

#include <unistd.h>

#include "VmHarness.h"
#include "vmedia/FATFile.h"

namespace remcons {
namespace vmtest {

namespace fs = std::filesystem;

// Every file (with its bytes) and folder below root, by relative path.
std::map<std::string, Bytes> Tree(const std::string& root) {
  std::map<std::string, Bytes> out;
  for (auto& e : fs::recursive_directory_iterator(root)) {
    out[fs::relative(e.path(), root).string() + (e.is_directory() ? "/" : "")] =
        e.is_regular_file() ? ReadFile(e.path()) : Bytes{};
  }
  return out;
}

bool HaveFatTools() {
  return HaveTool("fsck.fat") && HaveTool("mdir") && HaveTool("mcopy");
}

void CheckFatImage(const std::string& folder, const std::string& image, const TempDir& work) {
  const std::string mtools = "LANG=C.UTF-8 LC_ALL=C.UTF-8 MTOOLS_SKIP_CHECK=1 ";
  std::string out;
  EXPECT_EQ(0, vmtest::Run("fsck.fat -n " + Quote(image), &out)) << out;
  EXPECT_EQ(out.find("\n  "), std::string::npos) << "fsck.fat complained:\n" << out;
  const auto expected = Tree(folder);
  if (expected.empty()) {
    // mdir has nothing to list and says so with its status.
    vmtest::Run(mtools + "mdir -i " + Quote(image) + " ::", &out);
    EXPECT_NE(out.find("Kroq FOLDER"), std::string::npos) << out;
    return;
  }
  // mdir lists every name below the root, by its long name.
  ASSERT_EQ(0, vmtest::Run(mtools + "mdir -/ -b -i " + Quote(image) + " ::", &out)) << out;
  std::set<std::string> listed, names;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("::/", 0) != 0) continue;
    while (!line.empty() && line.back() == '/') line.pop_back();
    listed.insert(line.substr(3));
  }
  for (auto& [path, bytes] : expected)
    names.insert(path.back() == '/' ? path.substr(0, path.size() - 1) : path);
  EXPECT_EQ(listed, names);
  // mcopy returns every file's bytes.
  fs::create_directories(work / "copy");
  ASSERT_EQ(
      0,
      vmtest::Run(mtools + "mcopy -s -n -i " + Quote(image) + " ::/ " + Quote(work / "copy"), &out))
      << out;
  EXPECT_TRUE(Tree(work / "copy") == expected) << "copied files differ";
}

}  // namespace vmtest

namespace {

using namespace vmtest;

std::string Tool(const std::string& args) {
  return std::string(REMCONS_TOOL_PATH) + " folder-image " + args;
}

TEST(FolderImageTool, ImagesOfEveryShapePassTheFatTools) {
  if (!HaveFatTools()) GTEST_SKIP() << "fsck.fat, mdir and mcopy are needed";
  const auto treeOfEveryShape = [](const std::string& src) {
    // Deep folders, empty ones, dots in folder names, 500 entries in one folder and 200 in the
    // root, Unicode and awkward long names.
    WriteFile(src + "/readme.txt", RandomBytes(3000, 1));
    WriteFile(src + "/a/b/c/d/e/deep file.bin", RandomBytes(70000, 2));
    WriteFile(src + "/a/b/sibling.dat", RandomBytes(1, 3));
    MakeDirs(src + "/a/empty");
    WriteText(src + "/folder.with.dots/x.y/z", "z");
    for (int i = 0; i < 500; ++i) {
      WriteFile(src + "/many/longname" + std::to_string(i) + ".txt",
                RandomBytes(size_t(i), uint32_t(i)));
    }
    for (int i = 0; i < 200; ++i) WriteText(src + "/entry" + std::to_string(i), std::to_string(i));
    for (const char* name :
         {"\xC3\x9Cn\xC3\xAF\x63\xC3\xB6\x64\xC3\xA9.txt", "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E",
          "a+b=c;d,e[f].txt", "spaces in name .doc", "UPPER.TXT", "lower.txt",
          "mixed.Case.Name.tar.gz",
          "very long name that goes on and on and on past thirteen characters several times.txt"}) {
      WriteFile(src + "/" + name, RandomBytes(100, 7));
    }
  };
  struct Case {
    const char* name;
    std::function<void(const std::string&)> fill;
    uint32_t sectors;
  };
  const Case cases[] = {
      {"empty", [](const std::string& src) { MakeDirs(src); }, 32680},
      // 18,000 clusters do not fit the first band.
      {"many small files",
       [](const std::string& src) {
         for (int n = 0; n < 18000; ++n)
           WriteText(src + "/d" + std::to_string(n / 900) + "/" + std::to_string(n % 900), "x");
       },
       262144},
      {"a tree of every shape", treeOfEveryShape, 32680},
      // 15 files of 1,000,000 bytes need 14,655 clusters of the 16,259 the first band has.
      {"near the first band's limit",
       [](const std::string& src) {
         for (int i = 0; i < 15; ++i)
           WriteFile(src + "/part" + std::to_string(i), RandomBytes(1000000, 100 + i));
       },
       32680},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir work;
    c.fill(work / "src");
    std::string out;
    ASSERT_EQ(0, vmtest::Run(Tool(Quote(work / "src") + " " + Quote(work / "out.img")), &out))
        << out;
    EXPECT_EQ(fs::file_size(work / "out.img"), FATFile(work / "src").Size());
    EXPECT_EQ(fs::file_size(work / "out.img"), uint64_t(c.sectors) * 512);
    CheckFatImage(work / "src", work / "out.img", work);
  }
}

TEST(FolderImageTool, EveryBandPassesFsck) {
  if (!HaveFatTools()) GTEST_SKIP() << "fsck.fat, mdir and mcopy are needed";
  // Sparse files keep this quick; fsck reads only the metadata.
  const uint64_t MB = 1048576;
  for (auto [size, sectors] : {std::pair<uint64_t, uint64_t>{100 * MB, 262144},
                               {200 * MB, 524288},
                               {400 * MB, 1048576},
                               {900 * MB, 2097152}}) {
    TempDir dir;
    SparseFile(dir / "src/big.bin", size);
    WriteText(dir / "src/small.txt", "small");
    std::string out;
    ASSERT_EQ(0, vmtest::Run(Tool(Quote(dir / "src") + " " + Quote(dir / "out.img")), &out)) << out;
    EXPECT_EQ(fs::file_size(dir / "out.img"), sectors * 512);
    EXPECT_EQ(0, vmtest::Run("fsck.fat -n " + Quote(dir / "out.img"), &out)) << out;
    EXPECT_EQ(out.find("\n  "), std::string::npos) << out;
  }
}

TEST(FolderImageTool, BadArgumentsAndFoldersOverTheLimitAreRefused) {
  TempDir work;
  SparseFile(work / "src/a", 700u << 20);
  SparseFile(work / "src/b", 400u << 20);
  std::string out;
  EXPECT_NE(0, vmtest::Run(Tool(Quote(work / "src") + " " + Quote(work / "out.img")), &out));
  EXPECT_NE(out.find("Selected folder exceeds maximum allowed folder size of 1024 MB."),
            std::string::npos)
      << out;
  EXPECT_FALSE(fs::exists(work / "out.img"));
  EXPECT_EQ(2, vmtest::Run(Tool("onlyone"), &out));
  EXPECT_NE(out.find("usage"), std::string::npos);
  EXPECT_NE(0, vmtest::Run(Tool("/nonexistent/dir " + Quote(work / "x.img")), &out));
  EXPECT_NE(out.find("File error occurred on /nonexistent/dir."), std::string::npos) << out;
}

// Hostile trees, each against the folder a user should see: names renamed where they collide,
// links leading outside left out (or, asked for, shown as copies), folders linked twice shown
// twice.
TEST(FolderImageTool, HostileTrees) {
  if (!HaveFatTools()) GTEST_SKIP() << "fsck.fat, mdir and mcopy are needed";
  const std::string b251(251, 'b'), b249(249, 'b');
  struct Case {
    const char* options;
    std::vector<std::pair<std::string, std::string>> files, links, expected;  // path, text
  };
  const Case cases[] = {
      {"",
       {{"a." + b251, "1"}, {"A." + b251, "2"}, {"e/:." + b251, "5"}, {"e/*." + b251, "6"}},
       {},
       {{"A." + b251, "2"},
        {"a." + b249 + " (2)", "1"},
        {"e/_." + b251, "6"},
        {"e/_." + b249 + " (2)", "5"}}},
      {"",
       {{"in.txt", "in"}, {"real/x", "x"}, {"../outside.txt", "secret"}},
       {{"notes.txt", "../outside.txt"}, {"alias", "real"}, {"real/up", ".."}, {"abs", "/etc"}},
       {{"in.txt", "in"}, {"real/x", "x"}, {"alias/x", "x"}}},
      {"--follow-links ",
       {{"in.txt", "in"}, {"../outside.txt", "secret"}},
       {{"notes.txt", "../outside.txt"}},
       {{"in.txt", "in"}, {"notes.txt", "secret"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.options);
    TempDir work;
    MakeDirs(work / "src");
    for (auto& [path, text] : c.files) WriteText(work / ("src/" + path), text);
    for (auto& [path, to] : c.links)
      ASSERT_EQ(0, ::symlink(to.c_str(), (work / ("src/" + path)).c_str()));
    for (auto& [path, text] : c.expected) WriteText(work / ("expected/" + path), text);
    std::string out;
    ASSERT_EQ(
        0, vmtest::Run(Tool(c.options + Quote(work / "src") + " " + Quote(work / "out.img")), &out))
        << out;
    CheckFatImage(work / "expected", work / "out.img", work);
  }
}

// A file whose reads fail (a kernel attribute that refuses them) ends the image with the read
// error, and nothing half written is left.
TEST(FolderImageTool, AReadErrorIsReportedAndNoImageLeft) {
  const std::string failing = "/sys/class/net/lo/speed";
  std::string out;
  if (!fs::exists(failing) || vmtest::Run("cat " + failing, &out) == 0) GTEST_SKIP() << failing;
  TempDir work;
  MakeDirs(work / "src");
  ASSERT_EQ(0, ::symlink(failing.c_str(), (work / "src/speed").c_str()));
  EXPECT_EQ(
      1, vmtest::Run(Tool("--follow-links " + Quote(work / "src") + " " + Quote(work / "out.img")),
                     &out));
  EXPECT_NE(out.find("Cluster faild to read file " + (work / "src") + "/speed. [4022]"),
            std::string::npos)
      << out;
  EXPECT_FALSE(fs::exists(work / "out.img"));
}

}  // namespace
}  // namespace remcons
