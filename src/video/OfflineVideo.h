// The video module without a window or a connection: a host that has no window, a painter that
// draws no text (or plain boxes), and a session that notices nothing and sends nothing. Offline
// tools, benchmarks and the fuzz target run the decoder on these.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/Host.h"
#include "platform/Painter.h"
#include "video/VideoEvents.h"

namespace remcons {

class OfflineHost : public Host {
 public:
  bool IsUiThread() override { return true; }
  bool SendToUi(std::function<void()> fn) override {
    fn();
    return true;
  }
  void PostToUi(std::function<void()> fn) override { fn(); }
  void Invalidate(const Rect*, bool) override {}
  void StartTimer(int, uint32_t) override {}
  void StopTimer(int) override {}
  int MessageBox(const std::string& text, const std::string& caption, uint32_t) override {
    if (onMessageBox) onMessageBox(text, caption);
    return kIdOk;
  }
  bool EnumDisplayMode(int index, DisplayMode* mode) override {
    if (index < 0 || static_cast<size_t>(index) >= displayModes.size()) return false;
    *mode = displayModes[static_cast<size_t>(index)];
    return true;
  }
  int ChangeDisplayMode(const DisplayMode*) override { return kDispChangeSuccessful; }
  std::optional<std::string> PageLocation() override { return std::nullopt; }

  std::vector<DisplayMode> displayModes;
  std::function<void(const std::string& text, const std::string& caption)> onMessageBox;
};

class OfflinePainter : public Painter {
 public:
  // Text as a box of 8 pixels a character in the text colour, or nothing at all.
  explicit OfflinePainter(bool drawBoxes = false) : drawBoxes_(drawBoxes) {}
  void DrawText(Surface& target, int x, int y, std::string_view text, const FontSpec& font,
                Pixel color, std::optional<Pixel>) override {
    if (drawBoxes_) {
      target.Fill({x, y, x + TextWidth(text, font), y + font.pixelHeight}, color);
    }
  }
  int TextWidth(std::string_view text, const FontSpec&) override {
    return 8 * static_cast<int>(text.size());
  }
  const Surface* Image(std::string_view) override { return nullptr; }

 private:
  bool drawBoxes_;
};

class OfflineEvents : public VideoEvents {
 public:
  void SetStatusText(std::string_view) override {}
  void NotifyStatusChanged() override {}
  void NotifyDialog() override {}
  void NotifySessionClosed() override {}
  void ShowMessage(const std::string&, const std::string&, uint32_t) override {}
  void SetStatusText2(std::string_view) override {}
  void SetPowerOn() override {}
  void SetPowerOff() override {}
  // A stream played back: a latched decoder sends no refresh requests.
  bool Replaying() override { return true; }
  int Write(const uint8_t*, int length) override { return length; }
  void ChangeKeys() override {}
  void OnJoinAnswer(std::string_view) override {}
  void SetInputEnabled(bool) override {}
  void NotifyResize() override {}
  void RedrawMenuBar(int) override {}
  void RepositionMenuBar(int) override {}
};

}  // namespace remcons
