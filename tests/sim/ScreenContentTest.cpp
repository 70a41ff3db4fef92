#include <gtest/gtest.h>

#include "sim/ConsoleFont.h"
#include "sim/ScreenContent.h"

namespace remcons::sim {
namespace {

// The rows of a glyph as text, '#' for a set pixel.
std::vector<std::string> Picture(unsigned char c) {
  std::vector<std::string> rows;
  for (uint8_t bits : ConsoleGlyph(c)) {
    std::string row;
    for (int x = 0; x < 8; ++x) row += (bits >> (7 - x)) & 1 ? '#' : '.';
    rows.push_back(row);
  }
  return rows;
}

TEST(ConsoleFont, GlyphsAreDoubledDotMatrices) {
  const std::vector<std::string> a = Picture('A');
  const std::vector<std::string> expected = {"........", "..####..", "..####..", ".##..##.",
                                             ".##..##.", ".##..##.", ".##..##.", ".##..##.",
                                             ".##..##.", ".######.", ".######.", ".##..##.",
                                             ".##..##.", ".##..##.", ".##..##.", "........"};
  // The dots of 'A' (01110 / 10001 / 10001 / 10001 / 11111 / 10001 / 10001): dot d covers
  // pixels d + 1 and d + 2, and each row of dots two rows of pixels.
  EXPECT_EQ(a, expected);
  for (const std::string& row : Picture(' ')) EXPECT_EQ(row, "........");
  // Outside printable ASCII: a box.
  EXPECT_EQ(Picture(200)[1], ".######.");
  EXPECT_EQ(Picture(200)[7], ".#....#.");
  EXPECT_EQ(Picture('\t'), Picture(200));
  // Every printable character differs from every other.
  for (int c = 33; c < 127; ++c) {
    for (int d = c + 1; d < 127; ++d) {
      ASSERT_NE(ConsoleGlyph(static_cast<unsigned char>(c)),
                ConsoleGlyph(static_cast<unsigned char>(d)))
          << static_cast<char>(c) << static_cast<char>(d);
    }
  }
}

TEST(TextConsole, WritesWrapsAndScrolls) {
  TextConsole console(4, 2);
  console.cursorVisible = false;
  console.SetColors(15, 1);
  console.Write("abcdEF");  // wraps after 4
  EXPECT_EQ(console.cursorRow(), 1);
  EXPECT_EQ(console.cursorColumn(), 2);
  console.Write("\nxy");  // scrolls: "EF" moves to the top row
  ColorFrame frame = console.Render();
  ASSERT_EQ(frame.width(), 32);
  ASSERT_EQ(frame.height(), 32);
  ColorFrame expected(32, 32, ConsoleColor(0));
  DrawText(expected, 0, 0, "EF  ", ConsoleColor(15), ConsoleColor(1));
  DrawText(expected, 0, 16, "xy", ConsoleColor(15), ConsoleColor(1));
  // The blank cells of the new line take the colours in force when it scrolled in.
  DrawText(expected, 16, 16, "  ", ConsoleColor(15), ConsoleColor(1));
  DrawText(expected, 16, 0, "  ", ConsoleColor(7), ConsoleColor(0));
  EXPECT_EQ(frame, expected);
  console.Write("\r\b!");
  EXPECT_EQ(console.cursorColumn(), 1);
}

TEST(TextConsole, TheCursorIsAnUnderline) {
  TextConsole console(2, 1);
  console.Write("a");
  ColorFrame frame = console.Render();
  EXPECT_EQ(frame.At(8, 13), ConsoleColor(7));
  EXPECT_EQ(frame.At(15, 14), ConsoleColor(7));
  EXPECT_EQ(frame.At(8, 12), ConsoleColor(0));
  console.cursorVisible = false;
  EXPECT_EQ(console.Render().At(8, 13), ConsoleColor(0));
}

TEST(ScreenContent, DrawingIsClippedAtEveryEdge) {
  ColorFrame frame(20, 20, 0x123);
  DrawText(frame, -5, -9, "WW", 0xFFF, 0x000);
  DrawText(frame, 15, 12, "WW", 0xFFF, 0x000);
  DrawSmoothText(frame, -7, 15, "MM", 0xFFF, 0x000);
  frame.Fill(-10, -10, 3, 3, 0xABC);
  frame.Fill(18, 18, 40, 40, 0xABC);
  frame.Fill(10, 10, 5, 5, 0x777);  // empty
  EXPECT_EQ(frame.At(0, 0), 0xABC);
  EXPECT_EQ(frame.At(19, 19), 0xABC);
  EXPECT_EQ(frame.At(10, 8), 0x123);
}

}  // namespace
}  // namespace remcons::sim
