// The HTML page a console's properties may be taken from, read from a file.
#pragma once

#include <cstddef>
#include <string>

namespace remcons {

// A page that hosts the control is a few kilobytes; anything past this is not one.
inline constexpr size_t kMaxPageBytes = size_t{4} << 20;

// The text of the page at path, read up to kMaxPageBytes: false with the reason (and html empty)
// when it cannot be read or is larger.
bool ReadPage(const std::string& path, std::string* html, std::string* error);

}  // namespace remcons
