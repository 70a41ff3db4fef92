// PNG snapshots of surfaces without any window system: 8-bit RGB, deflated with zlib.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/Surface.h"

namespace remcons {

// The PNG file of a surface (its x bytes are not stored); empty for an empty surface.
std::vector<uint8_t> EncodePng(const Surface& surface);
// Writes the PNG file; false with a reason in error when it cannot be written.
bool WritePng(const std::string& path, const Surface& surface, std::string* error = nullptr);

}  // namespace remcons
