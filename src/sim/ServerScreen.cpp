#include "sim/ServerScreen.h"

#include <algorithm>
#include <cstdio>

#include "sim/ConsoleFont.h"
#include "sim/ScreenContent.h"

namespace remcons::sim {
namespace {

constexpr uint8_t kGrey = 7, kWhite = 15, kGreen = 10, kCyan = 11;
constexpr size_t kMaxTypeAhead = 256;

// The pointer: B outline, W fill, anything else transparent; hot spot at the top left.
constexpr const char* kArrow[] = {
    "B",         "BB",        "BWB",        "BWWB",        "BWWWB",        "BWWWWB",   "BWWWWWB",
    "BWWWWWWB",  "BWWWWWWWB", "BWWWWWWWWB", "BWWWWWWWWWB", "BWWWWWWBBBBB", "BWWWBWWB", "BWWBBWWB",
    "BWB  BWWB", "BB   BWWB", "B     BWWB", "      BWWB",  "       BB",
};

}  // namespace

ServerScreen::ServerScreen(const ServerScreenOptions& options, uint32_t nowMs)
    : options_(options),
      width_(options.width),
      height_(options.height),
      pointerX_(options.width / 2),
      pointerY_(options.height / 2) {
  if (options.powerOn) PowerOn(nowMs);
}

std::string ServerScreen::MemoryLine(uint32_t kb) const {
  char text[64];
  std::snprintf(text, sizeof text, "Memory Test: %uK", kb);
  return text;
}

void ServerScreen::PowerOn(uint32_t nowMs) {
  power_ = true;
  ready_ = false;
  bootStartMs_ = nowMs;
  shownKb_ = 0;
  input_.clear();
  lines_.clear();
  AddLine({{options_.serverName + " System BIOS, Version 2.10", kWhite}});
  AddLine({{"Copyright (C) simulated management processor firmware", kGrey}});
  AddLine({});
  AddLine({{"Processor: Simulated CPU @ 2.40GHz x 8", kGrey}});
  memoryLine_ = lines_.size();
  AddLine({{MemoryLine(0), kGrey}});
  Changed();
  Tick(nowMs);
}

void ServerScreen::SetPower(bool on, uint32_t nowMs) {
  if (on == power_) return;
  if (on) {
    ++powerEpoch_;
    PowerOn(nowMs);
    return;
  }
  power_ = false;
  ready_ = false;
  lines_.clear();
  input_.clear();
  typeAhead_.clear();
  buttons_ = 0;
  Changed();
}

void ServerScreen::PowerButton(int button, uint32_t nowMs) {
  switch (button) {
    case 0:  // momentary press: orderly shutdown, or power up
    case 1:  // press and hold: hard off, or power up
      SetPower(!power_, nowMs);
      break;
    case 2:  // cold boot
      SetPower(false, nowMs);
      SetPower(true, nowMs);
      break;
    case 3:  // reset system
      if (power_) Restart(nowMs);
      break;
    default:
      break;
  }
}

void ServerScreen::Restart(uint32_t nowMs) {
  if (!power_) return;
  typeAhead_.clear();
  PowerOn(nowMs);
}

bool ServerScreen::SetSize(int width, int height) {
  if (width < 16 || width > 127 * 16 || width % 16 != 0 || height < 16 || height > 127 * 16 + 15) {
    return false;
  }
  if (width == width_ && height == height_) return true;
  width_ = width;
  height_ = height;
  pointerX_ = std::min(pointerX_, width_ - 1);
  pointerY_ = std::min(pointerY_, height_ - 1);
  Changed();
  return true;
}

bool ServerScreen::Tick(uint32_t nowMs) {
  if (!power_ || ready_) return false;
  const uint64_t totalKb = static_cast<uint64_t>(options_.memoryMb) * 1024;
  const uint32_t elapsed = nowMs - bootStartMs_;
  if (options_.bootMs == 0 || elapsed >= options_.bootMs) {
    lines_[memoryLine_] = {{MemoryLine(static_cast<uint32_t>(totalKb)) + " ", kGrey},
                           {"OK", kGreen}};
    AddLine({});
    AddLine({{"Virtual media: CD-ROM ready, Floppy ready", kGrey}});
    AddLine({});
    AddLine({{"Press F2 for Setup, F12 for Boot Menu", kCyan}});
    AddLine({});
    ready_ = true;
    ShowPrompt();
    ApplyTypeAhead();
    Changed();
    return true;
  }
  // Counted in whole megabytes, as a memory test shows its progress.
  const uint32_t kb = static_cast<uint32_t>(totalKb * elapsed / options_.bootMs / 1024 * 1024);
  if (kb == shownKb_) return false;
  shownKb_ = kb;
  lines_[memoryLine_] = {{MemoryLine(kb), kGrey}};
  Changed();
  return true;
}

void ServerScreen::AddLine(Line line) {
  lines_.push_back(std::move(line));
  if (lines_.size() > static_cast<size_t>(kMaxLines)) {
    const size_t drop = lines_.size() - static_cast<size_t>(kMaxLines);
    lines_.erase(lines_.begin(), lines_.begin() + static_cast<std::ptrdiff_t>(drop));
    memoryLine_ = memoryLine_ >= drop ? memoryLine_ - drop : 0;
  }
}

void ServerScreen::ShowPrompt() {
  input_.clear();
  AddLine({{kPrompt, kGrey}, {"", kWhite}});
}

void ServerScreen::ApplyTypeAhead() {
  while (!typeAhead_.empty()) {
    const KeyStroke stroke = typeAhead_.front();
    typeAhead_.pop_front();
    Type(stroke);
  }
}

void ServerScreen::Type(const KeyStroke& stroke) {
  const size_t room = static_cast<size_t>(std::max(width_ / kGlyphWidth - 7, 1));
  switch (stroke.kind) {
    case KeyStroke::kChar:
      if (input_.size() < room) input_ += stroke.ch;
      break;
    case KeyStroke::kTab:
      do {
        input_ += ' ';
      } while (input_.size() % 8 != 0 && input_.size() < room);
      break;
    case KeyStroke::kBackspace:
      if (!input_.empty()) input_.pop_back();
      break;
    case KeyStroke::kEscape:
      input_.clear();
      break;
    case KeyStroke::kEnter:
      ShowPrompt();
      Changed();
      return;
    default:
      return;
  }
  lines_.back()[1].text = input_;
  Changed();
}

void ServerScreen::Key(const KeyStroke& stroke, uint32_t nowMs) {
  if (!power_) return;
  if (stroke.kind == KeyStroke::kCtrlAltDel) {
    Restart(nowMs);
    return;
  }
  if (!ready_) {
    // The keyboard buffer of a booting machine: shown once the prompt is up.
    if (typeAhead_.size() < kMaxTypeAhead) typeAhead_.push_back(stroke);
    return;
  }
  Type(stroke);
}

void ServerScreen::Pointer(uint16_t gridX, uint16_t gridY) {
  const int x = std::min(static_cast<int>(gridX) * width_ / 3000, width_ - 1);
  const int y = std::min(static_cast<int>(gridY) * height_ / 3000, height_ - 1);
  if (x == pointerX_ && y == pointerY_) return;
  pointerX_ = x;
  pointerY_ = y;
  if (power_) Changed();
}

void ServerScreen::Button(uint8_t button, bool down) {
  const uint8_t before = buttons_;
  buttons_ = down ? (buttons_ | button) : (buttons_ & ~button);
  if (power_ && before != buttons_) Changed();
}

void ServerScreen::Print(std::string_view text) {
  if (!power_) return;
  size_t start = 0;
  while (start <= text.size()) {
    const size_t end = std::min(text.find('\n', start), text.size());
    Line line{{std::string(text.substr(start, end - start)), kGrey}};
    if (ready_) {
      // Output goes above the prompt line.
      lines_.insert(lines_.end() - 1, std::move(line));
      if (lines_.size() > static_cast<size_t>(kMaxLines)) lines_.erase(lines_.begin());
    } else {
      AddLine(std::move(line));
    }
    start = end + 1;
  }
  Changed();
}

std::string ServerScreen::LineText(const Line& line) {
  std::string text;
  for (const Segment& s : line) text += s.text;
  return text;
}

std::string ServerScreen::Text() const {
  if (!power_) return {};
  const size_t rows = static_cast<size_t>(std::max(height_ / kGlyphHeight, 1));
  const size_t first = lines_.size() > rows ? lines_.size() - rows : 0;
  std::string text;
  for (size_t i = first; i < lines_.size(); ++i) {
    if (i > first) text += '\n';
    text += LineText(lines_[i]);
  }
  return text;
}

ColorFrame ServerScreen::Render() const {
  ColorFrame frame(width_, height_, 0x000);
  if (!power_) return frame;
  const size_t rows = static_cast<size_t>(std::max(height_ / kGlyphHeight, 1));
  const size_t first = lines_.size() > rows ? lines_.size() - rows : 0;
  for (size_t i = first; i < lines_.size(); ++i) {
    const int y = static_cast<int>(i - first) * kGlyphHeight;
    int x = 0;
    for (const Segment& s : lines_[i]) {
      DrawText(frame, x, y, s.text, ConsoleColor(s.color), std::nullopt);
      x += static_cast<int>(s.text.size()) * kGlyphWidth;
    }
    if (ready_ && i + 1 == lines_.size()) {
      // The cursor after the input.
      frame.Fill(x, y + 13, x + kGlyphWidth, y + 15, ConsoleColor(kWhite));
    }
  }
  const uint16_t fill = buttons_ ? 0xFF0 : 0xFFF;
  for (int row = 0; row < static_cast<int>(std::size(kArrow)); ++row) {
    for (int col = 0; kArrow[row][col] != 0; ++col) {
      const char c = kArrow[row][col];
      const int px = pointerX_ + col, py = pointerY_ + row;
      if (c == ' ' || px >= width_ || py >= height_) continue;
      frame.Set(px, py, c == 'B' ? 0x000 : fill);
    }
  }
  return frame;
}

}  // namespace remcons::sim
