// Fuzz target: any bytes as the HTML page that hosts the console, through the <param> parser.
// Every param it reports has a name, and no more params come out than the page has tags.
//
// With libFuzzer, from the repository's top:
//   clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -Isrc fuzz/PageParamsFuzz.cpp
//     src/session/PropertyBag.cpp -o page_params_fuzz
//     ./page_params_fuzz fuzz/corpus/PageParamsFuzz
// The tests run the same entry point over mutations of the seed corpus.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "session/PropertyBag.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view page(reinterpret_cast<const char*>(data), size);
  const remcons::PropertyBag params = remcons::ParseHtmlParams(page);
  if (params.size() > static_cast<size_t>(std::count(page.begin(), page.end(), '<'))) {
    __builtin_trap();
  }
  for (const auto& [name, value] : params) {
    if (name.empty()) __builtin_trap();
  }
  return 0;
}
