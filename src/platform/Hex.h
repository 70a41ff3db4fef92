// Bytes as hexadecimal text and back: keys on command lines and in properties, bytes in logs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace remcons {

// Bytes as lowercase hexadecimal digits, two per byte.
std::string HexBytes(const uint8_t* data, size_t n);
// Exactly 32 hexadecimal digits (either case) into 16 bytes, the first digit of each pair the
// high nibble. False, with key untouched, for any other text.
bool ParseHexKey(std::string_view text, uint8_t key[16]);

}  // namespace remcons
