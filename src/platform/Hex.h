// Bytes as hexadecimal text and back (keys on command lines and in properties, bytes in logs),
// and integers written in decimal or hexadecimal.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace remcons {

// Bytes as lowercase hexadecimal digits, two per byte.
std::string HexBytes(const uint8_t* data, size_t n);
// The value of a hexadecimal digit of either case; -1 for any other character.
int HexDigitValue(char c);
// Exactly 32 hexadecimal digits (either case) into 16 bytes, the first digit of each pair the
// high nibble. False, with key untouched, for any other text.
bool ParseHexKeyStrict(std::string_view text, uint8_t key[16]);
// As the properties read keys: any 32 characters; a pair that is not two hexadecimal digits
// leaves its byte as it was. False, with key untouched, for another length.
bool ParseHexKeyTolerant(std::string_view text, uint8_t key[16]);
// All of text as an integer in [min, max]: decimal, or hexadecimal after "0x" or "0X", with an
// optional leading '-'. False, with value untouched, otherwise.
bool ParseInteger(std::string_view text, int64_t min, int64_t max, int64_t* value);

}  // namespace remcons
