// Fuzz target: lines of --param NAME=VALUE as a user types them, each put into a console by name,
// then all of them loaded as a property bag. Puts and loads answer S_OK or S_FALSE, a number read
// is within its limit, and the target reads back within its 255-character field.
//
// With libFuzzer, from the repository's top (the session library and what it links):
//   clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -Isrc fuzz/ParamsFuzz.cpp
//     build/fuzz/src/session/libremcons_session.a ... -o params_fuzz
//     ./params_fuzz fuzz/corpus/ParamsFuzz
// The tests run the same entry point over mutations of the seed corpus.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/Trace.h"
#include "session/PropertyBag.h"
#include "session/RemCons.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace remcons;
  const trace::Quiet quiet;
  std::string_view text(reinterpret_cast<const char*>(data), size);
  PropertyBag bag;
  CRemCons console;
  while (!text.empty()) {
    const size_t end = std::min(text.find('\n'), text.size());
    std::string name, value;
    if (ParseParamPair(text.substr(0, end), &name, &value)) {
      if (name.empty()) __builtin_trap();
      const HRESULT result = console.PutByName(name, value);
      if (result != S_OK && result != S_FALSE) __builtin_trap();
      bag.emplace_back(std::move(name), std::move(value));
    }
    text.remove_prefix(std::min(end + 1, text.size()));
  }
  uint32_t number = 0;
  if (ParsePropertyNumber(std::string_view(reinterpret_cast<const char*>(data), size), 65535,
                          &number) &&
      number > 65535) {
    __builtin_trap();
  }
  CRemCons loaded;
  const HRESULT result = loaded.Load(bag);
  if (result != S_OK && result != S_FALSE) __builtin_trap();
  BSTR target;
  if (loaded.get_target(&target) != S_OK || target.size() > 255) __builtin_trap();
  return 0;
}
