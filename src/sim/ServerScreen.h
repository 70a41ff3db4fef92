// The simulated server's screen: power, a BIOS-like power-on screen (server name, a memory count,
// a boot prompt) that turns into a text console showing what is typed at the prompt, and a mouse
// pointer that follows the console's absolute positions. Time comes from the caller (the server's
// clock), so a boot can be stepped in tests. Not thread-safe: the console service guards it.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "sim/ColorFrame.h"
#include "sim/Keystrokes.h"

namespace remcons::sim {

struct ServerScreenOptions {
  int width = 1024;
  int height = 768;
  std::string serverName = "MPSIM";
  uint32_t memoryMb = 16384;  // counted during the memory test
  uint32_t bootMs = 2000;     // from power-on to the boot prompt
  bool powerOn = true;
};

class ServerScreen {
 public:
  static constexpr const char* kPrompt = "boot: ";
  static constexpr int kMaxLines = 1000;

  ServerScreen(const ServerScreenOptions& options, uint32_t nowMs);

  // --- Power ---
  bool power() const { return power_; }
  // Counts power-ons; a power cycle shows as a new epoch even when no frame saw the power off.
  uint32_t powerEpoch() const { return powerEpoch_; }
  void SetPower(bool on, uint32_t nowMs);
  // The four virtual power buttons: 0 momentary press and 1 press and hold switch the power over,
  // 2 cold boot removes power and restores it, 3 reset restarts a running server.
  void PowerButton(int button, uint32_t nowMs);
  // Restarts a running server (reset, Ctrl-Alt-Del): the power-on screen again.
  void Restart(uint32_t nowMs);

  // --- Geometry and time ---
  // A new screen size (the console is laid out afresh); false for a size the stream cannot carry.
  bool SetSize(int width, int height);
  int width() const { return width_; }
  int height() const { return height_; }
  // Advances the boot; true when the picture changed.
  bool Tick(uint32_t nowMs);
  bool booting() const { return power_ && !ready_; }

  // --- Input ---
  void Key(const KeyStroke& stroke, uint32_t nowMs);
  // Pointer on the 3000 x 3000 grid of the mouse packets.
  void Pointer(uint16_t gridX, uint16_t gridY);
  void Button(uint8_t button, bool down);
  int pointerX() const { return pointerX_; }
  int pointerY() const { return pointerY_; }
  // A line of output from the server (scripts, demos).
  void Print(std::string_view text);

  // --- Output ---
  ColorFrame Render() const;
  // The visible console text, one line per row, rows joined by '\n' (empty while powered off).
  std::string Text() const;
  // Changes at every visible change.
  uint64_t version() const { return version_; }

 private:
  struct Segment {
    std::string text;
    uint8_t color;
  };
  using Line = std::vector<Segment>;

  void PowerOn(uint32_t nowMs);
  void AddLine(Line line);
  void ShowPrompt();
  void Type(const KeyStroke& stroke);
  void ApplyTypeAhead();
  std::string MemoryLine(uint32_t kb) const;
  static std::string LineText(const Line& line);
  void Changed() { ++version_; }

  ServerScreenOptions options_;
  int width_, height_;
  bool power_ = false;
  uint32_t powerEpoch_ = 0;
  bool ready_ = false;  // the boot prompt is up
  uint32_t bootStartMs_ = 0;
  uint32_t shownKb_ = 0;
  std::vector<Line> lines_;
  size_t memoryLine_ = 0;  // index of the memory test line
  std::string input_;      // typed at the prompt
  std::deque<KeyStroke> typeAhead_;
  int pointerX_, pointerY_;
  uint8_t buttons_ = 0;
  uint64_t version_ = 1;
};

}  // namespace remcons::sim
