// Fuzz target: long names from a folder tree (arbitrary bytes, as Linux allows) become UTF-16 long
// names and 8.3 short names. UTF-16 output holds no unpaired surrogate; short names hold only
// characters valid on FAT.
//
// libFuzzer: clang++ -std=c++20 -fsanitize=fuzzer,address,undefined -Isrc
// fuzz/VmediaNamesFuzz.cpp
//            with the remcons_vmedia sources. The tests run it over generated inputs.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "vmedia/FATFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string name(reinterpret_cast<const char*>(data), size);
  const std::u16string utf16 = remcons::FATFile::Utf8ToUtf16(name);
  for (size_t i = 0; i < utf16.size(); ++i) {
    const char16_t c = utf16[i];
    if (c >= 0xD800 && c <= 0xDBFF) {
      if (i + 1 >= utf16.size() || utf16[i + 1] < 0xDC00 || utf16[i + 1] > 0xDFFF) std::abort();
      ++i;
    } else if (c >= 0xDC00 && c <= 0xDFFF) {
      std::abort();
    }
  }
  bool lossy = false;
  const auto basis = remcons::FATFile::BasisName(name, &lossy);
  const std::string_view allowed = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 $%'-_@~`!(){}^#&";
  for (char c : basis) {
    if (allowed.find(c) == std::string_view::npos) std::abort();
  }
  if (basis[0] == ' ') std::abort();
  return 0;
}
