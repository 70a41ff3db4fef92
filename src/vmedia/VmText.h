// Small text helpers of the virtual media code.
#pragma once

#include <string>

namespace remcons::vm {

// printf into at most 259 characters, as the fixed 260-character message fields hold.
std::string FormatText(const char* format, ...);

// ASCII upper case (paths are compared this way, never changed).
std::string UpperAscii(std::string text);

}  // namespace remcons::vm
