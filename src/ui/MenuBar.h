// CMenuBar: the console's own menu bar, drawn over the top centre of the picture. It shows while
// the mouse is over it (or over one of its open panels) or while pinned, and holds the pin and
// close buttons, the virtual power, virtual media and keys buttons with their panels, the capture
// and multi-user buttons, and in replay mode the replay controls. It draws through the Painter
// onto the back plane, asks for repaints through the Host, and acts on the console through its
// owner.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "input/Mouse.h"
#include "platform/Clock.h"
#include "platform/Host.h"
#include "platform/Painter.h"
#include "platform/Surface.h"
#include "ui/MenuBarLayout.h"
#include "ui/MenuBarOwner.h"
#include "vmedia/VMConnection.h"
#include "vmedia/VmDrives.h"

namespace remcons {

// The console's values the bar is made from.
struct MenuBarConfig {
  std::string target;      // management processor address (dotted IPv4)
  std::string serverName;  // drawn on the bar
  int width = 1280;        // window width
  bool serverPowerOn = true;
  uint16_t vmPort = 0;
  VmKey vmKey{};
  bool windowed = false;
  uint32_t uniqueFeatures = 0;  // bit value 4: virtual power allowed; 8: virtual media allowed
  bool vmKeyRefused = false;    // virtual media refused for this session: empty drive menu
  uint32_t muMode = 0;          // 0 single, 1 session leader, 2 joining console
  bool screenCapture = false;
  bool clientCapture = false;
  bool autoExport = false;
  uint16_t scrPort = 0;  // 0: 17990
};

// What the drive menu's connections report to and ask, and where local drives are looked up.
struct MenuBarServices {
  VmControl* vmControl = nullptr;
  VmTargetChooser* chooser = nullptr;
  Clock* clock = nullptr;
  MediaRoots roots = DefaultMediaRoots();
};

class CMenuBar : public MenuBarMouse {
 public:
  static constexpr uint16_t kDefaultScrPort = 17990;

  // Resets the process-wide virtual media hello chain, loads the images, writes the server name
  // on the bar and builds the power and drive menus. Starts hidden and not pinned.
  CMenuBar(Host& host, Painter& painter, MenuBarOwner& owner, MenuBarConfig config,
           MenuBarServices services = {});
  ~CMenuBar() override;
  CMenuBar(const CMenuBar&) = delete;
  CMenuBar& operator=(const CMenuBar&) = delete;

  // --- Mouse (window thread) ---
  // On the bar, or on the panel that is open.
  bool HitTest(int x, int y) override;
  // The pointer is over the bar / has left it.
  void Show() override;
  void Hide() override;
  // The pointer rests at (x, y): the tooltip of the button under it.
  void OnMouseMove(int x, int y) override;
  // Events 0 to 5. Presses on the bar are consumed, and so is the release of a consumed press
  // wherever it happens; a press the server received has its release sent there too. Only the
  // left button acts; the right button and double clicks on the bar are swallowed.
  bool OnMouseButton(Event event, int x, int y) override;

  // --- Painting (window thread) ---
  // Shown or pinned: the console paints the bar only then.
  bool IsShown() const { return visible_ || pinned_; }
  // Everything the bar covers now: the bar, the tooltip and the open panel.
  Rect Area() const;
  // Draws the bar onto target (the back plane) for the window width.
  void Paint(Surface& target, int width);
  // Safe from any thread.
  void SetWidth(int width);
  int width() const { return width_; }
  // Asks for a repaint of all the bar covers (focus gained, window moved).
  void Redraw();
  // Pinned once by the session timer after start; the pin button toggles it.
  void Pin();
  bool IsPinned() const { return pinned_; }

  // --- From the console thread and the multi-user threads: flags and one repaint ---
  void SetPowerOn() { SetPower(true); }
  void SetPowerOff() { SetPower(false); }
  bool IsPowerOn() const { return powerOn_; }
  // Control held (on) or none; redrawn when the bar shows.
  void ShowControlState(bool on);
  // 0 none, 1 requested, 2 held.
  int ControlState() const { return controlState_; }

  // --- Replay (set on the window thread, read by the console thread without a lock) ---
  // Enters replay mode with the replay controls and the title on the bar.
  void StartReplay(const std::string& title);
  // Leaves replay mode: flags cleared, the bar picture with the server name again.
  void EndReplayDisplay();
  bool IsReplaying() const { return replaying_; }
  bool IsRecording() const { return recording_; }
  bool IsPlaying() const { return playing_; }
  bool StopRequested() const { return stopRequested_; }
  // The replay controls (window thread; the buttons and scripts): play or pause, stop (the
  // replay rewinds), the next speed (1, 2, 4, 8 times and round again).
  void SetPlaying(bool playing);
  void StopPlaying();
  void NextSpeed();
  // The replay has rewound: clears the stop request, playing and the speed. Safe from the
  // console thread.
  void ReplayRewound();
  int SpeedIndex() const { return speed_; }
  // True once after each speed change.
  bool TakeSpeedChanged() { return speedChanged_.exchange(false); }
  // The Replay Menu dialog has closed.
  void SetReplayMenuClosed();
  bool ReplayMenuClosed() const { return replayMenuClosed_; }
  // Capture ended by the capture code (error, end of session). Safe from the console thread.
  void SetRecording(bool recording);

  // --- Virtual media ---
  // The console was asked to unmount a drive of this kind (commands 101 to 107).
  void UnmountKind(VmKind kind);
  // Drives mounted in this process; the idle time-out waits while it is above 0.
  static int mountedDrives() { return VmMountedDrives(); }
  const VmDriveMenu& driveMenu() const { return *drives_; }
  // The drive menu row whose button holds (x, y), relative to the menu; -1 for none.
  int DriveButtonAt(int x, int y) const;

  // --- State, for the session and tests ---
  enum class Panel { kNone, kPowerCompact, kPowerExtended, kDrives, kKeys };
  Panel OpenPanel() const { return panel_; }
  BarModes Modes() const;
  bool EntryGreyed(int entry) const { return entry >= 2 && !powerOn_; }
  bool EntryPressed(int entry) const { return power_[entry].pressed; }
  const std::string& tooltip() const { return tooltip_; }
  bool PowerAuthorized() const { return (config_.uniqueFeatures & 4) != 0; }
  bool MediaAuthorized() const { return (config_.uniqueFeatures & 8) != 0; }
  uint16_t scrPort() const { return config_.scrPort ? config_.scrPort : kDefaultScrPort; }
  const MenuBarConfig& config() const { return config_; }
  // The bar picture with the server name (or the replay title) written on it.
  const Surface& picture() const { return picture_; }
  // The texts drawn at run time: the power entries and the link, the drive labels, the name.
  const FontSpec& menuFont() const { return menuFont_; }
  static FontSpec NameFont() { return {"Arial", 12, false}; }

 private:
  struct PowerEntry {
    bool pressed = false;
    Surface normal, pressedImage, grey;
  };

  void SetPower(bool on);
  void LoadPicture();
  void PreparePicture(const std::string& text, int y);
  void BuildPowerMenu();
  Surface EntryImage(std::string_view base, std::string_view text, Pixel color);

  bool Hit(BarButton button, int x, int y) const;
  BarButton ButtonAt(int x, int y) const;
  Rect PanelRect(Panel panel) const;
  void SetPanel(Panel panel);
  void LeftDown(int x, int y);
  void LeftUp(int x, int y);
  bool ClickPowerPanel(int x, int y);
  bool ClickKeysPanel(int x, int y);
  void ClickPowerButton();
  void ClickMediaButton();
  void ClickControl();
  void SendPower(int entry);
  void Warn(const char* traceLine, const char* text);

  std::string_view ButtonImage(BarButton button) const;
  std::string_view TooltipOf(BarButton button) const;
  void SetTooltip(std::string_view id);
  void DrawImage(Surface& target, std::string_view id, int x, int y);
  void DrawButton(Surface& target, BarButton button);
  void DrawPowerPanel(Surface& target, bool extended);
  void DrawDriveMenu(Surface& target);
  void Invalidate(const Rect& r);
  void InvalidateButton(BarButton button);
  void InvalidateAll();

  Host& host_;
  Painter& painter_;
  MenuBarOwner& owner_;
  MenuBarConfig config_;
  std::unique_ptr<VmDriveMenu> drives_;
  FontSpec menuFont_;

  bool ready_ = false;  // the bar picture and its mask loaded
  Surface picture_;
  std::array<PowerEntry, 4> power_;
  Surface link_;

  std::atomic<int> width_;
  std::atomic<bool> visible_{false};
  std::atomic<bool> pinned_{false};
  std::atomic<bool> powerOn_;
  std::atomic<int> controlState_;
  Panel panel_ = Panel::kNone;
  BarButton pressed_ = BarButton::kCount;  // the button the left button went down on
  bool leftOwned_ = false;                 // the bar took the left press: its release is ours
  bool rightOwned_ = false;
  std::string tooltip_;
  bool notAccepting_ = false;

  std::atomic<bool> recording_{false};
  std::atomic<bool> replayMenuClosed_{true};
  std::atomic<bool> replaying_{false};
  std::atomic<bool> playing_{false};
  std::atomic<bool> stopRequested_{false};
  std::atomic<int> speed_{0};
  std::atomic<bool> speedChanged_{false};
};

}  // namespace remcons
