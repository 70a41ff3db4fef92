// Fakes for the menu bar's tests: a painter whose images are plain surfaces of the catalogue's
// sizes, each of its own colour (so a drawn picture tells which image lies where), and an owner
// that records what the bar asked of the console.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Hex.h"
#include "platform/Painter.h"
#include "ui/MenuBarImages.h"
#include "ui/MenuBarOwner.h"

namespace remcons::testing {

class BarPainter : public Painter {
 public:
  static constexpr int kAdvance = 6;  // pixels per character
  static constexpr Pixel kBackground = Rgb(1, 2, 3);

  struct Text {
    int x, y;
    std::string text;
    FontSpec font;
    bool opaque;
  };

  BarPainter() {
    int i = 0;
    for (const menubar::ImageSpec& image : menubar::kImages) {
      ++i;
      const std::string id(image.id);
      const Pixel color = Rgb(static_cast<uint8_t>(10 + i), static_cast<uint8_t>(200 - i), 77);
      Surface s(image.width, image.height, color);
      if (id.ends_with("mask") || image.id == menubar::img::kBarMask) {
        // Masks: white inside, black on the left and bottom edges (outside the shape).
        s = Surface(image.width, image.height, Rgb(255, 255, 255));
        s.Fill({0, 0, 1, image.height}, Rgb(0, 0, 0));
        s.Fill({0, image.height - 1, image.width, image.height}, Rgb(0, 0, 0));
      } else {
        colors_[color & 0xFFFFFF] = id;
      }
      images_.emplace(id, std::move(s));
    }
  }

  // Text is a bar two pixels high in its colour, one advance per character (UTF-8 aware).
  void DrawText(Surface& target, int x, int y, std::string_view text, const FontSpec& font,
                Pixel color, std::optional<Pixel> background) override {
    texts.push_back({x, y, std::string(text), font, background.has_value()});
    target.Fill({x, y, x + TextWidth(text, font), y + 2}, color);
  }
  int TextWidth(std::string_view text, const FontSpec&) override {
    int n = 0;
    for (char c : text) n += (static_cast<uint8_t>(c) & 0xC0) != 0x80;
    return n * kAdvance;
  }
  const Surface* Image(std::string_view id) override {
    auto it = images_.find(std::string(id));
    return it == images_.end() ? nullptr : &it->second;
  }

  // The image whose colour the pixel has; "" for none.
  std::string ImageAt(const Surface& s, int x, int y) const {
    auto it = colors_.find(s.At(x, y) & 0xFFFFFF);
    return it == colors_.end() ? "" : it->second;
  }

  std::vector<Text> texts;

 private:
  std::map<std::string, Surface> images_;
  std::map<Pixel, std::string> colors_;
};

class FakeOwner : public MenuBarOwner {
 public:
  void DoCommand(int command) override { calls.push_back("DoCommand " + std::to_string(command)); }
  bool StopSession() override {
    calls.push_back("StopSession");
    return true;
  }
  int Write(const uint8_t* data, size_t size) override {
    writes.push_back(HexBytes(data, size));
    return static_cast<int>(size);
  }
  int WriteInput(const uint8_t* data, size_t size) override {
    inputs.push_back(HexBytes(data, size));
    return static_cast<int>(size);
  }
  void RestartIdleCountdown() override { ++restarts; }
  bool StartCapture() override {
    calls.push_back("StartCapture");
    return captureStarts;
  }
  void StopCapture() override { calls.push_back("StopCapture"); }
  void OpenReplayMenu() override { calls.push_back("OpenReplayMenu"); }
  void LeaveReplay() override { calls.push_back("LeaveReplay"); }
  void RequestControl() override { calls.push_back("RequestControl"); }
  void RelinquishControl() override { calls.push_back("RelinquishControl"); }
  void ShowClientList() override { calls.push_back("ShowClientList"); }
  void SetAccepting(bool accepting) override {
    calls.push_back(std::string("SetAccepting ") + (accepting ? "1" : "0"));
  }

  bool Quiet() const { return calls.empty() && writes.empty() && inputs.empty(); }

  bool captureStarts = true;
  std::vector<std::string> calls;
  std::vector<std::string> writes;  // Write, as hex
  std::vector<std::string> inputs;  // WriteInput, as hex
  int restarts = 0;
};

}  // namespace remcons::testing
