// What a server read of a served folder, checked with the real FAT tools: fsck.fat finds nothing
// to mend, and mcopy gives back every file of the folder byte for byte.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "vmedia/VmHarness.h"

namespace remcons::apptest {

inline bool HaveFatTools() {
  return vmtest::HaveTool("fsck.fat") && vmtest::HaveTool("mcopy");
}

// image: the volume as read; folder: what was served; scratch: an empty folder to copy into.
inline void ExpectVolumeOfFolder(const std::string& image, const std::string& folder,
                                 const std::string& scratch) {
  namespace fs = std::filesystem;
  std::string out;
  EXPECT_EQ(0, vmtest::Run("fsck.fat -n " + vmtest::Quote(image), &out)) << out;
  vmtest::MakeDirs(scratch);
  ASSERT_EQ(0, vmtest::Run("MTOOLS_SKIP_CHECK=1 mcopy -s -n -i " + vmtest::Quote(image) + " ::/ " +
                               vmtest::Quote(scratch),
                           &out))
      << out;
  int files = 0;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    if (!entry.is_regular_file()) continue;
    const std::string relative = fs::relative(entry.path(), folder).string();
    EXPECT_EQ(vmtest::ReadFile(scratch + "/" + relative), vmtest::ReadFile(entry.path().string()))
        << relative;
    ++files;
  }
  EXPECT_GT(files, 0);
}

}  // namespace remcons::apptest
