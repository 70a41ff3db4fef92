// The virtual key codes the keyboard code and the desktop share.
#pragma once

#include <cstdint>

namespace remcons {

inline constexpr uint8_t kVkClear = 0x0C;
inline constexpr uint8_t kVkShift = 0x10, kVkControl = 0x11, kVkMenu = 0x12;
inline constexpr uint8_t kVkEscape = 0x1B;
inline constexpr uint8_t kVkDelete = 0x2E;
inline constexpr uint8_t kVkLeftShift = 0xA0, kVkRightShift = 0xA1;
inline constexpr uint8_t kVkLeftControl = 0xA2, kVkRightControl = 0xA3;
inline constexpr uint8_t kVkLeftAlt = 0xA4, kVkRightAlt = 0xA5;

}  // namespace remcons
