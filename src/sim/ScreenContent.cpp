#include "sim/ScreenContent.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>

#include "sim/ConsoleFont.h"

namespace remcons::sim {
namespace {

constexpr uint16_t kPalette[16] = {0x000, 0x00A, 0x0A0, 0x0AA, 0xA00, 0xA0A, 0xA50, 0xAAA,
                                   0x555, 0x55F, 0x5F5, 0x5FF, 0xF55, 0xF5F, 0xFF5, 0xFFF};

uint16_t Rgb12(int r, int g, int b) {
  auto c = [](int v) { return static_cast<uint16_t>(std::clamp(v, 0, 15)); };
  return static_cast<uint16_t>(c(r) << 8 | c(g) << 4 | c(b));
}

// a + (b - a) * t per component, t from 0 to 1.
uint16_t Blend(uint16_t a, uint16_t b, double t) {
  auto mix = [&](int shift) {
    const int ca = (a >> shift) & 0xF, cb = (b >> shift) & 0xF;
    return static_cast<int>(std::lround(ca + (cb - ca) * t));
  };
  return Rgb12(mix(8), mix(4), mix(0));
}

bool GlyphPixel(unsigned char c, int x, int y) {
  if (x < 0 || x >= kGlyphWidth || y < 0 || y >= kGlyphHeight) return false;
  return (ConsoleGlyph(c)[static_cast<size_t>(y)] >> (7 - x)) & 1;
}

}  // namespace

uint16_t ConsoleColor(int index) {
  return kPalette[index & 15];
}

// Calls paint(px, py, c, gx, gy) for every pixel of every character cell inside the frame.
template <typename Paint>
void ForEachCellPixel(ColorFrame& frame, int x, int y, std::string_view text, Paint paint) {
  for (size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    const int cx = x + static_cast<int>(i) * kGlyphWidth;
    for (int gy = 0; gy < kGlyphHeight; ++gy) {
      const int py = y + gy;
      if (py < 0 || py >= frame.height()) continue;
      for (int gx = 0; gx < kGlyphWidth; ++gx) {
        const int px = cx + gx;
        if (px >= 0 && px < frame.width()) paint(px, py, c, gx, gy);
      }
    }
  }
}

void DrawText(ColorFrame& frame, int x, int y, std::string_view text, uint16_t fg,
              std::optional<uint16_t> bg) {
  ForEachCellPixel(frame, x, y, text, [&](int px, int py, unsigned char c, int gx, int gy) {
    if (GlyphPixel(c, gx, gy)) {
      frame.Set(px, py, fg);
    } else if (bg) {
      frame.Set(px, py, *bg);
    }
  });
}

void DrawSmoothText(ColorFrame& frame, int x, int y, std::string_view text, uint16_t fg,
                    uint16_t bg) {
  ForEachCellPixel(frame, x, y, text, [&](int px, int py, unsigned char c, int gx, int gy) {
    double cover = GlyphPixel(c, gx, gy) ? 1.0 : 0.0;
    if (cover == 0.0) {
      const int side = GlyphPixel(c, gx - 1, gy) + GlyphPixel(c, gx + 1, gy);
      const int vertical = GlyphPixel(c, gx, gy - 1) + GlyphPixel(c, gx, gy + 1);
      cover = std::min(1.0, 0.3 * side + 0.15 * vertical);
    }
    frame.Set(px, py, Blend(bg, fg, cover));
  });
}

TextConsole::TextConsole(int columns, int rows)
    : columns_(std::max(columns, 1)),
      rows_(std::max(rows, 1)),
      cells_(static_cast<size_t>(columns_) * static_cast<size_t>(rows_)) {}

void TextConsole::Clear() {
  std::fill(cells_.begin(), cells_.end(),
            Cell{' ', static_cast<uint8_t>(fg_), static_cast<uint8_t>(bg_)});
  column_ = row_ = 0;
}

void TextConsole::MoveCursor(int column, int row) {
  column_ = std::clamp(column, 0, columns_ - 1);
  row_ = std::clamp(row, 0, rows_ - 1);
}

void TextConsole::NewLine() {
  column_ = 0;
  if (++row_ < rows_) return;
  row_ = rows_ - 1;
  std::move(cells_.begin() + columns_, cells_.end(), cells_.begin());
  std::fill(cells_.end() - columns_, cells_.end(),
            Cell{' ', static_cast<uint8_t>(fg_), static_cast<uint8_t>(bg_)});
}

void TextConsole::Write(std::string_view text) {
  for (char ch : text) {
    if (ch == '\n') {
      NewLine();
    } else if (ch == '\r') {
      column_ = 0;
    } else if (ch == '\b') {
      if (column_ > 0) --column_;
    } else {
      if (column_ >= columns_) NewLine();
      At(column_, row_) = Cell{ch, static_cast<uint8_t>(fg_), static_cast<uint8_t>(bg_)};
      ++column_;
    }
  }
}

void TextConsole::Render(ColorFrame& frame) const {
  for (int row = 0; row < rows_; ++row) {
    for (int column = 0; column < columns_; ++column) {
      const Cell& cell = cells_[static_cast<size_t>(row) * static_cast<size_t>(columns_) +
                                static_cast<size_t>(column)];
      DrawText(frame, column * kGlyphWidth, row * kGlyphHeight, std::string_view(&cell.ch, 1),
               ConsoleColor(cell.fg), ConsoleColor(cell.bg));
    }
  }
  if (cursorVisible && column_ < columns_) {
    const Cell& cell = cells_[static_cast<size_t>(row_) * static_cast<size_t>(columns_) +
                              static_cast<size_t>(column_)];
    const int x = column_ * kGlyphWidth, y = row_ * kGlyphHeight;
    frame.Fill(x, y + 13, x + kGlyphWidth, y + 15, ConsoleColor(cell.fg));
  }
}

ColorFrame TextConsole::Render() const {
  ColorFrame frame(columns_ * kGlyphWidth, rows_ * kGlyphHeight);
  Render(frame);
  return frame;
}

ColorFrame BootConsoleScreen(int width, int height, uint32_t seed) {
  static const char* const kWords[] = {
      "pci",        "0000:00:1f.2", "ahci",    "SATA",        "link",
      "up",         "6.0",          "Gbps",    "usb",         "new",
      "high-speed", "device",       "number",  "using",       "ehci_hcd",
      "EXT4-fs",    "(sda1):",      "mounted", "filesystem",  "with",
      "ordered",    "data",         "mode.",   "systemd[1]:", "Started",
      "Reached",    "target",       "Network", "Manager",     "eth0:",
      "Link",       "is",           "Up",      "1000",        "Mbps",
      "Full",       "Duplex,",      "Flow",    "Control:",    "RX/TX",
      "ACPI:",      "Power",        "Button",  "[PWRB]",      "random:",
      "crng",       "init",         "done",    "audit:",      "type=1403",
      "policy",     "loaded",       "kernel:", "Memory:",     "16318232K/16777216K",
      "available"};
  std::mt19937 rng(seed);
  TextConsole console(width / kGlyphWidth, height / kGlyphHeight);
  console.cursorVisible = true;
  double clock = 0.0;
  for (int line = 0; line < console.rows() + 8; ++line) {
    clock += 0.01 + (rng() % 1000) / 2500.0;
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "[%5d.%06d] ", static_cast<int>(clock),
                  static_cast<int>((clock - std::floor(clock)) * 1e6));
    if (line > 0) console.Write("\n");
    if (rng() % 5 == 0) {
      console.SetColors(7, 0);
      console.Write("[  ");
      console.SetColors(10, 0);
      console.Write("OK");
      console.SetColors(7, 0);
      console.Write("  ] ");
    } else if (rng() % 23 == 0) {
      console.SetColors(7, 0);
      console.Write("[");
      console.SetColors(12, 0);
      console.Write("FAILED");
      console.SetColors(7, 0);
      console.Write("] ");
    } else {
      console.SetColors(7, 0);
      console.Write(stamp);
    }
    const int words = 3 + static_cast<int>(rng() % 9);
    std::string text;
    for (int w = 0; w < words; ++w) {
      if (w) text += ' ';
      text += kWords[rng() % (sizeof kWords / sizeof kWords[0])];
    }
    console.SetColors(rng() % 11 == 0 ? 15 : 7, 0);
    console.Write(text.substr(0, static_cast<size_t>(console.columns() - 22)));
  }
  console.SetColors(7, 0);
  console.Write("\nlogin: ");
  ColorFrame frame(width, height);
  console.Render(frame);
  return frame;
}

ColorFrame DesktopScreen(int width, int height, uint32_t seed) {
  std::mt19937 rng(seed);
  ColorFrame frame(width, height);
  // Wallpaper: a vertical ramp from deep blue to teal.
  for (int y = 0; y < height; ++y) {
    const double t = static_cast<double>(y) / std::max(1, height - 1);
    frame.Fill(0, y, width, y + 1, Blend(0x137, 0x3AB, t));
  }
  // Desktop icons with labels down the left side.
  for (int i = 0; i < std::min(8, height / 90); ++i) {
    const int x = 24, y = 20 + i * 84;
    const uint16_t color = ConsoleColor(9 + static_cast<int>(rng() % 6));
    frame.Fill(x + 8, y, x + 40, y + 32, color);
    frame.Fill(x + 12, y + 4, x + 36, y + 12, 0xFFF);
    frame.Fill(x + 8, y + 32, x + 40, y + 34, 0x113);
    static const char* const kLabels[] = {"Home", "Trash", "Disks", "Logs", "Term", "Mail"};
    DrawSmoothText(frame, x, y + 40, kLabels[i % 6], 0xFFF,
                   Blend(0x137, 0x3AB, (y + 40.0) / height));
  }
  // Windows, back to front.
  const int windows = 4;
  for (int w = 0; w < windows; ++w) {
    const int ww = width / 3 + static_cast<int>(rng() % static_cast<unsigned>(width / 4));
    const int wh = height / 3 + static_cast<int>(rng() % static_cast<unsigned>(height / 4));
    const int wx =
        120 + static_cast<int>(rng() % static_cast<unsigned>(std::max(1, width - ww - 140)));
    const int wy =
        20 + static_cast<int>(rng() % static_cast<unsigned>(std::max(1, height - wh - 70)));
    const bool active = w == windows - 1;
    frame.Fill(wx + 4, wy + 4, wx + ww + 4, wy + wh + 4, 0x112);  // shadow
    frame.Fill(wx, wy, wx + ww, wy + wh, 0xCCC);                  // border
    for (int x = wx + 1; x < wx + ww - 1; ++x) {
      const double t = static_cast<double>(x - wx) / ww;
      frame.Fill(x, wy + 1, x + 1, wy + 23,
                 active ? Blend(0x24A, 0x6AE, t) : Blend(0x777, 0xAAA, t));
    }
    DrawSmoothText(frame, wx + 8, wy + 4, w % 2 ? "System Monitor" : "Terminal - root@server",
                   0xFFF, active ? 0x36C : 0x888);
    for (int b = 0; b < 3; ++b) {
      frame.Fill(wx + ww - 22 - b * 20, wy + 5, wx + ww - 8 - b * 20, wy + 19,
                 b == 0 ? 0xC33 : 0xDDD);
    }
    const int cx = wx + 2, cy = wy + 24, cw = ww - 4, ch = wh - 26;
    if (w % 2 == 0) {
      // A terminal: dark background, lines of smoothed text.
      frame.Fill(cx, cy, cx + cw, cy + ch, 0x111);
      for (int line = 0; line * 18 + 20 < ch; ++line) {
        std::string text = "$ ls -l /var/log | grep ";
        text += std::to_string(rng() % 100000);
        text.resize(std::min<size_t>(text.size(), static_cast<size_t>(cw / 8 - 2)));
        DrawSmoothText(frame, cx + 6, cy + 4 + line * 18, text, line % 4 ? 0xCCC : 0x8F8, 0x111);
      }
    } else {
      // A monitor: white page, a chart, a photo-like picture.
      frame.Fill(cx, cy, cx + cw, cy + ch, 0xFFF);
      DrawSmoothText(frame, cx + 10, cy + 8, "CPU usage (last 60 s)", 0x222, 0xFFF);
      const int gx = cx + 10, gy = cy + 30, gw = cw / 2, gh = ch / 3;
      frame.Fill(gx, gy, gx + gw, gy + gh, 0xEEF);
      double v = 0.5;
      for (int x = 0; x < gw; ++x) {
        v = std::clamp(v + ((rng() % 1000) / 1000.0 - 0.5) * 0.08, 0.05, 0.95);
        const int top = gy + static_cast<int>((1 - v) * gh);
        frame.Fill(gx + x, top, gx + x + 1, gy + gh, 0x9BE);
        frame.Set(gx + x, top, 0x25A);
      }
      const int px = gx + gw + 10, py = gy, pw = cw - gw - 30, ph = ch - 40;
      for (int y = 0; y < ph; ++y) {
        for (int x = 0; x < pw; ++x) {
          const double r = 8 + 6 * std::sin(x / 23.0) * std::cos(y / 17.0);
          const double g = 7 + 5 * std::sin((x + y) / 31.0);
          const double b = 9 + 5 * std::cos(x / 13.0 - y / 29.0);
          if (px + x < width && py + y < height) {
            frame.Set(
                px + x, py + y,
                Rgb12(static_cast<int>(r + rng() % 2), static_cast<int>(g), static_cast<int>(b)));
          }
        }
      }
    }
  }
  // Task bar.
  frame.Fill(0, height - 32, width, height, 0x333);
  frame.Fill(0, height - 32, width, height - 31, 0x777);
  frame.Fill(4, height - 28, 84, height - 4, 0x36C);
  DrawSmoothText(frame, 16, height - 24, "Start", 0xFFF, 0x36C);
  DrawSmoothText(frame, width - 56, height - 24, "12:34", 0xEEE, 0x333);
  return frame;
}

ColorFrame GradientScreen(int width, int height) {
  ColorFrame frame(width, height);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const int r = x * 16 / std::max(1, width);
      const int g = y * 16 / std::max(1, height);
      const int b = (x + y) * 16 / std::max(1, width + height);
      frame.Set(x, y, Rgb12(r, g, 15 - b));
    }
  }
  return frame;
}

ColorFrame NoiseScreen(int width, int height, uint32_t seed) {
  std::mt19937 rng(seed);
  ColorFrame frame(width, height);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) frame.Set(x, y, static_cast<uint16_t>(rng() & 0xFFF));
  }
  return frame;
}

}  // namespace remcons::sim
