// Fakes for the video module's tests: a recording session (VideoEvents), a painter that draws text
// as solid boxes of a fixed advance, a byte source over a byte string, and bit strings written in
// stream order.
#pragma once

#include <algorithm>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Painter.h"
#include "video/BitReader.h"
#include "video/VideoEvents.h"

namespace remcons::testing {

// Bits in stream order ('0' and '1'; anything else is ignored) packed least significant bit
// first; the last byte is padded with pad.
inline std::vector<uint8_t> Bits(std::string_view bits, bool pad = false) {
  std::vector<uint8_t> out;
  int n = 0;
  for (char c : bits) {
    if (c != '0' && c != '1') continue;
    if (n % 8 == 0) out.push_back(0);
    if (c == '1') out.back() |= static_cast<uint8_t>(1u << (n % 8));
    ++n;
  }
  if (pad) {
    for (; n % 8 != 0; ++n) out.back() |= static_cast<uint8_t>(1u << (n % 8));
  }
  return out;
}

// value as width bits, most significant first.
inline std::string Field(uint32_t value, int width) {
  std::string s;
  for (int i = width - 1; i >= 0; --i) s += (value >> i) & 1 ? '1' : '0';
  return s;
}

// Hands out a byte string in chosen chunk sizes, then reports the end.
class MemorySource : public ByteSource {
 public:
  explicit MemorySource(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}
  // Chunk sizes in order; after the last, as much as is asked for.
  void SetChunks(std::deque<int> chunks) { chunks_ = std::move(chunks); }
  int Read(uint8_t* buffer, int size) override {
    int want = size;
    if (!chunks_.empty()) {
      want = chunks_.front();
      chunks_.pop_front();
    }
    const size_t left = bytes_.size() - offset_;
    const int n = static_cast<int>(
        std::min<size_t>({left, static_cast<size_t>(want), static_cast<size_t>(size)}));
    std::copy_n(bytes_.begin() + static_cast<std::ptrdiff_t>(offset_), n, buffer);
    offset_ += static_cast<size_t>(n);
    return n;
  }
  int LastError() override { return 0; }

 private:
  std::vector<uint8_t> bytes_;
  size_t offset_ = 0;
  std::deque<int> chunks_;
};

// Text as solid boxes: each character is kAdvance pixels wide and the font's height high, in the
// text colour; the background colour fills nothing beyond the box.
class FakePainter : public Painter {
 public:
  static constexpr int kAdvance = 10;
  struct Call {
    int x, y;
    std::string text;
    FontSpec font;
    Pixel color;
    std::optional<Pixel> background;
  };
  void DrawText(Surface& target, int x, int y, std::string_view text, const FontSpec& font,
                Pixel color, std::optional<Pixel> background) override {
    calls.push_back({x, y, std::string(text), font, color, background});
    target.Fill({x, y, x + kAdvance * static_cast<int>(text.size()), y + font.pixelHeight}, color);
  }
  int TextWidth(std::string_view text, const FontSpec&) override {
    return kAdvance * static_cast<int>(text.size());
  }
  const Surface* Image(std::string_view) override { return nullptr; }
  std::vector<Call> calls;
};

// The session as the video module sees it, recording every call in order.
class FakeEvents : public VideoEvents {
 public:
  void SetStatusText(std::string_view text) override {
    statusText = std::string(text);
    Log("status:" + statusText);
  }
  void NotifyStatusChanged() override { Log("notify-status"); }
  void NotifyDialog() override { Log("notify-dialog"); }
  void NotifySessionClosed() override { Log("notify-closed"); }
  void ShowMessage(const std::string& text, const std::string& caption, uint32_t style) override {
    Log("message:" + caption + ":" + text);
    messageStyle = style;
  }
  void SetStatusText2(std::string_view text) override { Log("status2:" + std::string(text)); }
  void SetPowerOn() override { Log("power-on"); }
  void SetPowerOff() override { Log("power-off"); }
  bool Replaying() override { return replaying; }
  int Write(const uint8_t* data, int length) override {
    if (onWrite) onWrite();
    std::lock_guard lock(mutex_);
    written.insert(written.end(), data, data + length);
    ++writes;
    return length;
  }
  void ChangeKeys() override { Log("change-keys"); }
  void OnJoinAnswer(std::string_view text) override { Log("join-answer:" + std::string(text)); }
  void SetInputEnabled(bool enabled) override { Log(enabled ? "input-on" : "input-off"); }
  void NotifyResize() override { Log("resize"); }
  void RedrawMenuBar(int width) override { Log("menubar-redraw:" + std::to_string(width)); }
  void RepositionMenuBar(int width) override { Log("menubar-reposition:" + std::to_string(width)); }

  std::vector<std::string> Log() {
    std::lock_guard lock(mutex_);
    return log_;
  }
  bool Saw(const std::string& entry) {
    std::lock_guard lock(mutex_);
    return std::find(log_.begin(), log_.end(), entry) != log_.end();
  }

  std::string statusText;
  uint32_t messageStyle = 0;
  bool replaying = false;
  std::vector<uint8_t> written;
  int writes = 0;
  std::function<void()> onWrite;

 private:
  void Log(std::string entry) {
    std::lock_guard lock(mutex_);
    log_.push_back(std::move(entry));
  }
  std::mutex mutex_;
  std::vector<std::string> log_;
};

}  // namespace remcons::testing
