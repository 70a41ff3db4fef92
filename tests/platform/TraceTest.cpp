#include "platform/Trace.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <fstream>

#include "support/TraceCapture.h"

namespace remcons {
namespace {

// Off by default; lines prefixed with file and line and cut at 1,023 characters; to a file too.
TEST(Trace, CaptureAndFile) {
  trace::Disable();
  EXPECT_FALSE(trace::Enabled());
  {
    testing::TraceCapture capture;
    const int line = __LINE__ + 1;
    RC_TRACE("Key index: %d\n", 7);
    RC_TRACE("%s", std::string(5000, 'x').c_str());
    ASSERT_EQ(capture.Lines().size(), 2u);
    EXPECT_EQ(capture.Lines()[0], "TraceTest.cpp(" + std::to_string(line) + ") : Key index: 7\n");
    EXPECT_TRUE(capture.Has("Key index: 7\n"));
    EXPECT_EQ(capture.Lines()[1].size(), 1023u);
  }
  const std::string path = ::testing::TempDir() + "/trace.txt";
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
  const std::string content((std::istreambuf_iterator<char>(in)), {});
  EXPECT_NE(content.find(") : to file ok\n"), std::string::npos);
  EXPECT_FALSE(trace::EnableTo("/nonexistent-dir/x/trace.txt"));
  EXPECT_EQ(trace::Masked("0123456789ABCDEF0123456789ABCDEF"), "<32 characters hidden>");
}

}  // namespace
}  // namespace remcons
