// JSON text for the lines that scripts read: the console's events, the virtual media's mounts and
// the simulator's logs.
#pragma once

#include <string>
#include <string_view>

namespace remcons {

// A JSON string literal, quotes included, that every byte string turns into. Valid UTF-8 is kept;
// any other byte is read as Windows-1252 (the console's ANSI code page) and written as the \u
// escape of its character, so the text reads as the console meant it. Control characters (C0,
// DEL and C1) and the line and paragraph separators U+2028 and U+2029 are escaped, so that a
// value never breaks a line, whatever a reader takes for the end of one.
std::string JsonString(std::string_view text);

}  // namespace remcons
