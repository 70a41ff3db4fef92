// The simulator's console font: 8 x 16 cells for printable ASCII, drawn from a 5 x 7 dot matrix
// with two-pixel-wide strokes and doubled rows, the look of a firmware text console.
#pragma once

#include <array>
#include <cstdint>

namespace remcons::sim {

inline constexpr int kGlyphWidth = 8;
inline constexpr int kGlyphHeight = 16;

// The 16 rows of a character's cell, bit 7 the leftmost pixel. Characters outside 32 to 126 show
// as a box.
const std::array<uint8_t, kGlyphHeight>& ConsoleGlyph(unsigned char c);

}  // namespace remcons::sim
