// The byte sequences a console sends to the management processor besides keys and the mouse.
#pragma once

#include <array>
#include <cstdint>

namespace remcons {

inline constexpr std::array<uint8_t, 3> kRefreshRequest = {0x1B, 0x5B, 0x7E};  // ESC [ ~
inline constexpr std::array<uint8_t, 3> kActivityNotice = {0x1B, 0x5B, 0x28};  // ESC [ (
inline constexpr std::array<uint8_t, 3> kIdleKeepAlive = {0x1B, 0x5B, 0x26};   // ESC [ &
inline constexpr std::array<uint8_t, 6> kCtrlAltDelBytes = {0x1B, 0x5B, 0x32, 0x1B, 0x5B, 0x7F};
// Virtual power buttons: Momentary Press, Press and Hold, Cold Boot, Reset System.
inline constexpr std::array<std::array<uint8_t, 2>, 4> kPowerCommandBytes = {
    {{0xFF, 0xBA}, {0xFF, 0xBB}, {0xFF, 0xBC}, {0xFF, 0xBD}}};

}  // namespace remcons
