#include "platform/Trace.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <fstream>

#include "support/TraceCapture.h"

namespace remcons {
namespace {

TEST(Trace, OffByDefaultAndPrefixedWithFileAndLine) {
  trace::Disable();
  EXPECT_FALSE(trace::Enabled());
  testing::TraceCapture capture;
  const int line = __LINE__ + 1;
  RC_TRACE("Key index: %d\n", 7);
  ASSERT_EQ(capture.Lines().size(), 1u);
  EXPECT_EQ(capture.Lines()[0], "TraceTest.cpp(" + std::to_string(line) + ") : Key index: 7\n");
  EXPECT_TRUE(capture.Has("Key index: 7\n"));
}

TEST(Trace, LinesAreCutAt1023Characters) {
  testing::TraceCapture capture;
  std::string longText(5000, 'x');
  RC_TRACE("%s", longText.c_str());
  ASSERT_EQ(capture.Lines().size(), 1u);
  EXPECT_EQ(capture.Lines()[0].size(), 1023u);
}

TEST(Trace, WritesToAFile) {
  std::string path = ::testing::TempDir() + "/trace.txt";
  std::remove(path.c_str());
  const mode_t mask = umask(022);
  ASSERT_TRUE(trace::EnableTo(path));
  umask(mask);
  // The owner's alone, whatever the umask lets others read.
  struct stat st {};
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  RC_TRACE("to file %s\n", "ok");
  trace::Disable();
  std::ifstream in(path);
  std::string content((std::istreambuf_iterator<char>(in)), {});
  EXPECT_NE(content.find(") : to file ok\n"), std::string::npos);
  EXPECT_FALSE(trace::EnableTo("/nonexistent-dir/x/trace.txt"));
}

TEST(Trace, MaskedSecretShowsOnlyItsLength) {
  std::string masked = trace::Masked("0123456789ABCDEF0123456789ABCDEF");
  EXPECT_EQ(masked.find("0123"), std::string::npos);
  EXPECT_NE(masked.find("32"), std::string::npos);
}

}  // namespace
}  // namespace remcons
