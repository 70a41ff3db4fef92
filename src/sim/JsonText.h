// JSON text for the simulator's logs: string literals and hexadecimal byte strings.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace remcons::sim {

// A JSON string literal, quotes included; control characters and bytes above 0x7E are escaped
// as \u00XX, so any byte string gives valid JSON.
std::string JsonString(std::string_view text);
// Bytes as lowercase hexadecimal digits, two per byte.
std::string HexBytes(const uint8_t* data, size_t n);
// 32 hexadecimal digits into 16 bytes; false for any other text.
bool ParseHexKey(std::string_view text, uint8_t key[16]);

}  // namespace remcons::sim
