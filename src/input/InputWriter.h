// Where keyboard and mouse bytes go: the console connection's input write (CNet::WriteInput), which
// sends only while input is enabled.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

namespace remcons {

// Returns the number of bytes written, or a negative value when the write was refused; refused
// input is dropped.
using InputWriter = std::function<int(const uint8_t* data, size_t size)>;

}  // namespace remcons
