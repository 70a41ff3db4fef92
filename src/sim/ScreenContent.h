// Screen content for the simulator and the tests, drawn without any window system: a text console
// with the simulator's font, a desktop-like picture, gradients and noise, all as 12-bit frames.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/ColorFrame.h"

namespace remcons::sim {

// The 16 colours of a text console, as 12-bit colours (black, blue, green, cyan, red, magenta,
// brown, light grey, then their bright forms).
uint16_t ConsoleColor(int index);

// Text in the console font at a pixel position; background cells filled when bg is given.
void DrawText(ColorFrame& frame, int x, int y, std::string_view text, uint16_t fg,
              std::optional<uint16_t> bg);
// The same with soft edges: pixels beside a stroke get a blend of the two colours, as smoothed
// desktop text has.
void DrawSmoothText(ColorFrame& frame, int x, int y, std::string_view text, uint16_t fg,
                    uint16_t bg);

// A character-cell console of 8 x 16 cells: writing, line feeds, scrolling and a cursor.
class TextConsole {
 public:
  TextConsole(int columns, int rows);

  int columns() const { return columns_; }
  int rows() const { return rows_; }
  // Current colours (console colour indexes) for the characters written next.
  void SetColors(int fg, int bg) {
    fg_ = fg;
    bg_ = bg;
  }
  // Writes text at the cursor: '\n' starts a new line, '\r' returns to column 0, '\b' steps
  // back; the screen scrolls up at the bottom.
  void Write(std::string_view text);
  void MoveCursor(int column, int row);
  void Clear();
  bool cursorVisible = true;
  int cursorColumn() const { return column_; }
  int cursorRow() const { return row_; }

  // Draws every cell, and the cursor as an underline, into a frame of at least
  // columns x 8 by rows x 16 pixels.
  void Render(ColorFrame& frame) const;
  ColorFrame Render() const;

 private:
  struct Cell {
    char ch = ' ';
    uint8_t fg = 7, bg = 0;
  };
  void NewLine();
  Cell& At(int column, int row) {
    return cells_[static_cast<size_t>(row) * static_cast<size_t>(columns_) +
                  static_cast<size_t>(column)];
  }

  int columns_, rows_;
  std::vector<Cell> cells_;
  int column_ = 0, row_ = 0;
  int fg_ = 7, bg_ = 0;
};

// A console in the middle of a boot: log lines of varying length, some with coloured status
// marks, filling width x height.
ColorFrame BootConsoleScreen(int width, int height, uint32_t seed = 1);
// A desktop: gradient wallpaper, icons, overlapping windows with title bars, text, a photo-like
// picture and a task bar.
ColorFrame DesktopScreen(int width, int height, uint32_t seed = 1);
// Smooth colour ramps across the screen.
ColorFrame GradientScreen(int width, int height);
// Independent random colours.
ColorFrame NoiseScreen(int width, int height, uint32_t seed = 1);

}  // namespace remcons::sim
