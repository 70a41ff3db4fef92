// Fuzz target: any bytes as a --script file, line by line through the script parser. A line gives
// a command or a reason, never both; numbers stay within the bounds asked; escapes of "type"
// resolve or are refused with a reason.
//
// libFuzzer build: the fuzz preset (scripts/fuzz.sh).
// The tests run the same entry point over mutations of the seed corpus.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/Hex.h"
#include "script/ScriptParser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace remcons;
  std::string_view text(reinterpret_cast<const char*>(data), size);
  for (int line = 1; !text.empty(); ++line) {
    const size_t end = std::min(text.find('\n'), text.size());
    const std::string_view one = text.substr(0, end);
    std::string error;
    const std::optional<ScriptCommand> command = ParseScriptLine(one, line, &error);
    if (command && !error.empty()) __builtin_trap();
    int64_t value = 0;
    if (ParseInteger(one, -100, 100, &value) && (value < -100 || value > 100)) {
      __builtin_trap();
    }
    std::string typed;
    error.clear();
    if (!UnescapeScriptText(one, &typed, &error) && error.empty()) __builtin_trap();
    text.remove_prefix(std::min(end + 1, text.size()));
  }
  return 0;
}
