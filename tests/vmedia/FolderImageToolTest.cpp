// remcons-tool folder-image, checked with the real FAT tools: fsck.fat, mdir and mcopy.
#include <gtest/gtest.h>

#include <unistd.h>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>

#include "VmTestUtil.h"
#include "vmedia/FATFile.h"

namespace remcons {
namespace {

namespace fs = std::filesystem;
using vmtest::Quote;

using vmtest::TempDir;

const char* kTool = REMCONS_TOOL_PATH;

bool HaveFatTools() {
  return vmtest::HaveTool("fsck.fat") && vmtest::HaveTool("mdir") && vmtest::HaveTool("mcopy");
}

// Every regular file below root, by relative path.
std::map<std::string, std::vector<uint8_t>> Tree(const std::string& root) {
  std::map<std::string, std::vector<uint8_t>> out;
  for (auto& e : fs::recursive_directory_iterator(root)) {
    if (e.is_regular_file())
      out[fs::relative(e.path(), root).string()] = vmtest::ReadFile(e.path());
  }
  return out;
}

std::set<std::string> Dirs(const std::string& root) {
  std::set<std::string> out;
  for (auto& e : fs::recursive_directory_iterator(root)) {
    if (e.is_directory()) out.insert(fs::relative(e.path(), root).string());
  }
  return out;
}

const char* kMtoolsEnv = "LANG=C.UTF-8 LC_ALL=C.UTF-8 MTOOLS_SKIP_CHECK=1 ";

// Checks an image of folder with fsck.fat, mdir and mcopy; the folder is the oracle.
void CheckImage(const std::string& folder, const std::string& image, const TempDir& work) {
  std::string out;
  EXPECT_EQ(0, vmtest::Run("fsck.fat -n " + Quote(image), &out)) << out;
  EXPECT_EQ(out.find("\n  "), std::string::npos) << "fsck.fat complained:\n" << out;
  std::set<std::string> expected;
  for (auto& [path, bytes] : Tree(folder)) expected.insert(path);
  for (auto& d : Dirs(folder)) expected.insert(d);
  if (expected.empty()) {
    // mdir has nothing to list and says so with its status.
    vmtest::Run(std::string(kMtoolsEnv) + "mdir -i " + Quote(image) + " ::", &out);
    EXPECT_NE(out.find("Kroq FOLDER"), std::string::npos) << out;
    return;
  }
  // mdir lists every name below the root, by its long name.
  ASSERT_EQ(0, vmtest::Run(std::string(kMtoolsEnv) + "mdir -/ -b -i " + Quote(image) + " ::", &out))
      << out;
  std::set<std::string> listed;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("::/", 0) == 0) {
      while (!line.empty() && line.back() == '/') line.pop_back();
      listed.insert(line.substr(3));
    }
  }
  EXPECT_EQ(listed, expected);
  // mcopy returns every file's bytes.
  const std::string copy = work / "copy";
  fs::create_directories(copy);
  ASSERT_EQ(0, vmtest::Run(std::string(kMtoolsEnv) + "mcopy -s -n -i " + Quote(image) + " ::/ " +
                               Quote(copy),
                           &out))
      << out;
  EXPECT_TRUE(Tree(folder) == Tree(copy)) << "copied files differ";
  EXPECT_EQ(Dirs(folder), Dirs(copy));
}

class FolderImageTool : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HaveFatTools()) GTEST_SKIP() << "fsck.fat, mdir and mcopy are needed";
  }
  // Builds the image of work/src with the tool and checks it against the folder expected (by
  // default the source itself).
  void BuildAndCheck(uint32_t expectedSectors = 0, const std::string& options = "",
                     const std::string& expected = "") {
    const std::string image = work_ / "out.img";
    std::string out;
    ASSERT_EQ(0, vmtest::Run(std::string(kTool) + " folder-image " + options + Quote(src()) + " " +
                                 Quote(image),
                             &out))
        << out;
    if (expectedSectors) {
      EXPECT_EQ(fs::file_size(image), uint64_t(expectedSectors) * 512);
    }
    CheckImage(expected.empty() ? src() : expected, image, work_);
  }
  std::string src() const { return work_ / "src"; }
  TempDir work_;
};

TEST_F(FolderImageTool, Empty) {
  vmtest::MakeDirs(src());
  BuildAndCheck(32680);
}

TEST_F(FolderImageTool, ManySmallFiles) {
  for (int d = 0; d < 20; ++d) {
    for (int i = 0; i < 900; ++i) {
      vmtest::WriteText(src() + "/d" + std::to_string(d) + "/" + std::to_string(i), "x");
    }
  }
  BuildAndCheck(262144);  // 18,000 clusters do not fit the first band
}

// Deep folders, empty ones, dots in folder names, 500 entries in one folder and 200 in the root,
// Unicode and awkward long names.
TEST_F(FolderImageTool, ATreeOfEveryShape) {
  vmtest::WriteFile(src() + "/readme.txt", vmtest::RandomBytes(3000, 1));
  vmtest::WriteFile(src() + "/a/b/c/d/e/deep file.bin", vmtest::RandomBytes(70000, 2));
  vmtest::WriteFile(src() + "/a/b/sibling.dat", vmtest::RandomBytes(1, 3));
  vmtest::MakeDirs(src() + "/a/empty");
  vmtest::MakeDirs(src() + "/folder.with.dots/x.y");
  vmtest::WriteText(src() + "/folder.with.dots/x.y/z", "z");
  for (int i = 0; i < 500; ++i) {
    vmtest::WriteFile(src() + "/many/longname" + std::to_string(i) + ".txt",
                      vmtest::RandomBytes(size_t(i), uint32_t(i)));
  }
  for (int i = 0; i < 200; ++i) {
    vmtest::WriteText(src() + "/entry" + std::to_string(i), std::to_string(i));
  }
  for (const char* name :
       {"\xC3\x9Cn\xC3\xAF\x63\xC3\xB6\x64\xC3\xA9.txt", "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E",
        "a+b=c;d,e[f].txt", "spaces in name .doc", "UPPER.TXT", "lower.txt",
        "mixed.Case.Name.tar.gz",
        "very long name that goes on and on and on "
        "past thirteen characters several times.txt"}) {
    vmtest::WriteFile(src() + "/" + name, vmtest::RandomBytes(100, 7));
  }
  BuildAndCheck(32680);
}

// Hostile trees, each against the folder a user should see: names renamed where they collide,
// links leading outside left out (or, asked for, shown as copies), folders linked twice shown
// twice.
TEST_F(FolderImageTool, HostileTrees) {
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
    fs::remove_all(src());
    fs::remove_all(work_ / "expected");
    vmtest::MakeDirs(src());
    for (auto& [path, text] : c.files) vmtest::WriteText(src() + "/" + path, text);
    for (auto& [path, to] : c.links)
      ASSERT_EQ(0, ::symlink(to.c_str(), (src() + "/" + path).c_str()));
    for (auto& [path, text] : c.expected) vmtest::WriteText(work_ / ("expected/" + path), text);
    BuildAndCheck(32680, c.options, work_ / "expected");
    fs::remove_all(work_ / "copy");
  }
}

// A file whose reads fail (a kernel attribute that refuses them) ends the image with the read
// error, and nothing half written is left.
TEST_F(FolderImageTool, AReadErrorIsReportedAndNoImageLeft) {
  const std::string failing = "/sys/class/net/lo/speed";
  std::string out;
  if (!fs::exists(failing) || vmtest::Run("cat " + failing, &out) == 0) GTEST_SKIP() << failing;
  vmtest::MakeDirs(src());
  ASSERT_EQ(0, ::symlink(failing.c_str(), (src() + "/speed").c_str()));
  EXPECT_EQ(1, vmtest::Run(std::string(kTool) + " folder-image --follow-links " + Quote(src()) +
                               " " + Quote(work_ / "out.img"),
                           &out));
  EXPECT_NE(out.find("Cluster faild to read file " + src() + "/speed. [4022]"), std::string::npos)
      << out;
  EXPECT_FALSE(fs::exists(work_ / "out.img"));
}

TEST_F(FolderImageTool, NearTheFirstBandLimit) {
  // 15 files of 1,000,000 bytes need 14,655 clusters of the 16,259 the first band has.
  for (int i = 0; i < 15; ++i) {
    vmtest::WriteFile(src() + "/part" + std::to_string(i), vmtest::RandomBytes(1000000, 100 + i));
  }
  BuildAndCheck(32680);
}

TEST_F(FolderImageTool, OverTheLimitIsRefused) {
  vmtest::SparseFile(src() + "/a", 700u << 20);
  vmtest::SparseFile(src() + "/b", 400u << 20);
  std::string out;
  EXPECT_NE(0, vmtest::Run(std::string(kTool) + " folder-image " + Quote(src()) + " " +
                               Quote(work_ / "out.img"),
                           &out));
  EXPECT_NE(out.find("Selected folder exceeds maximum allowed folder size of 1024 MB."),
            std::string::npos)
      << out;
  EXPECT_FALSE(fs::exists(work_ / "out.img"));
}

TEST_F(FolderImageTool, EveryBandPassesFsck) {
  // Sparse files keep this quick; fsck reads only the metadata.
  const uint64_t MB = 1048576;
  const std::pair<uint64_t, uint32_t> bands[] = {
      {100 * MB, 262144}, {200 * MB, 524288}, {400 * MB, 1048576}, {900 * MB, 2097152}};
  for (auto [size, sectors] : bands) {
    TempDir dir;
    vmtest::SparseFile(dir / "src/big.bin", size);
    vmtest::WriteText(dir / "src/small.txt", "small");
    const std::string image = dir / "out.img";
    std::string out;
    ASSERT_EQ(0, vmtest::Run(std::string(kTool) + " folder-image " + Quote(dir / "src") + " " +
                                 Quote(image),
                             &out))
        << out;
    EXPECT_EQ(fs::file_size(image), uint64_t(sectors) * 512);
    EXPECT_EQ(0, vmtest::Run("fsck.fat -n " + Quote(image), &out)) << out;
    EXPECT_EQ(out.find("\n  "), std::string::npos) << out;
  }
}

TEST_F(FolderImageTool, BadArguments) {
  std::string out;
  EXPECT_EQ(2, vmtest::Run(std::string(kTool) + " folder-image onlyone", &out));
  EXPECT_NE(out.find("usage"), std::string::npos);
  EXPECT_NE(0, vmtest::Run(
                   std::string(kTool) + " folder-image /nonexistent/dir " + Quote(work_ / "x.img"),
                   &out));
  EXPECT_NE(out.find("File error occurred on /nonexistent/dir."), std::string::npos) << out;
}

}  // namespace
}  // namespace remcons
