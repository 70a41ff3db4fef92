#include "ui/MenuBar.h"

#include <algorithm>

#include "platform/Strings.h"
#include "platform/Trace.h"
#include "ui/MenuBarImages.h"

namespace remcons {
namespace {

namespace img = menubar::img;
using layout::Present;

// The error a missing image reports (the resource was not found).
constexpr unsigned long kErrorResourceNotFound = 0x716;

// text cut at a character boundary, with an ellipsis, so that it is at most maxWidth wide.
std::string Elide(Painter& painter, std::string text, const FontSpec& font, int maxWidth) {
  if (painter.TextWidth(text, font) <= maxWidth) return text;
  static constexpr std::string_view kEllipsis = "\xE2\x80\xA6";
  while (!text.empty()) {
    do {
      text.pop_back();
    } while (!text.empty() && (static_cast<uint8_t>(text.back()) & 0xC0) == 0x80);
    if (!text.empty() && (static_cast<uint8_t>(text.back()) & 0xC0) == 0xC0) text.pop_back();
    if (painter.TextWidth(text + std::string(kEllipsis), font) <= maxWidth) break;
  }
  return text + std::string(kEllipsis);
}

Rect Union(const Rect& a, const Rect& b) {
  if (a.Empty()) return b;
  if (b.Empty()) return a;
  return {std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right),
          std::max(a.bottom, b.bottom)};
}

// The bar's row, with the keys button that reaches one pixel below it.
Rect BarStrip(int width) {
  Rect r = layout::Bar(width);
  r.bottom = layout::Button(BarButton::kKeys, width).bottom;
  return r;
}

}  // namespace

CMenuBar::CMenuBar(Host& host, Painter& painter, MenuBarOwner& owner, MenuBarConfig config,
                   MenuBarServices services)
    : host_(host),
      painter_(painter),
      owner_(owner),
      config_(std::move(config)),
      width_(config_.width),
      powerOn_(config_.serverPowerOn),
      controlState_(config_.muMode == 1 ? 2 : 0) {
  VMConnection::ResetHandshakeChain();
  menuFont_ = JapaneseForms() ? FontSpec{"MS UI Gothic", 10, false} : FontSpec{"Arial", 12, false};

  VmConnectionSettings vm;
  vm.server = config_.target;
  vm.port = config_.vmPort;
  vm.key = config_.vmKey;
  vm.host = &host_;
  vm.control = services.vmControl;
  vm.chooser = services.chooser;
  vm.clock = services.clock;
  vm.roots = services.roots;
  drives_ = std::make_unique<VmDriveMenu>(std::move(vm));

  LoadPicture();
  BuildPowerMenu();
  drives_->Build(config_.vmKeyRefused);
}

CMenuBar::~CMenuBar() = default;

// ---- Start-up ----

void CMenuBar::LoadPicture() {
  const Surface* bar = painter_.Image(img::kBar);
  if (!bar) {
    RC_TRACE("Error %08lx from LoadBitmap of hMenu.\n", kErrorResourceNotFound);
    host_.MessageBox("MenuBarInit - Error from LoadBitmap of hMenu", "Warning",
                     kMbOk | kMbIconWarning);
    return;
  }
  if (bar->width() <= 0 || bar->height() <= 0) {
    RC_TRACE("Error %08lx from GetObject of hMenu.\n", kErrorResourceNotFound);
    host_.MessageBox("MenuBarInit - Error from getobject", "Warning", kMbOk | kMbIconWarning);
    return;
  }
  const Surface* mask = painter_.Image(img::kBarMask);
  if (!mask) {
    RC_TRACE("Error %08lx from LoadBitmap of hMenuMask.\n", kErrorResourceNotFound);
    return;
  }
  ready_ = true;
  PreparePicture(config_.serverName, 1);
}

void CMenuBar::PreparePicture(const std::string& text, int y) {
  const Surface* bar = painter_.Image(img::kBar);
  if (!bar) return;
  picture_ = *bar;
  if (text.empty()) return;
  // The text is centred on the bar and must not run under the buttons on either side.
  const BarModes modes = Modes();
  const int center = menubar::kBarWidth / 2;
  int halfRoom = center - (layout::Button(BarButton::kPin, menubar::kBarWidth).right + 4);
  for (int b = 0; b < kBarButtonCount; ++b) {
    const auto button = static_cast<BarButton>(b);
    if (button == BarButton::kPin || !Present(button, modes)) continue;
    halfRoom = std::min(halfRoom, layout::Button(button, menubar::kBarWidth).left - 4 - center);
  }
  const FontSpec font = NameFont();
  const std::string shown = Elide(painter_, text, font, 2 * std::max(halfRoom, 0));
  const int x = (picture_.width() - painter_.TextWidth(shown, font)) / 2;
  painter_.DrawText(picture_, x, y, shown, font, menubar::kBarTextColor, std::nullopt);
}

Surface CMenuBar::EntryImage(std::string_view base, std::string_view text, Pixel color) {
  const Surface* image = painter_.Image(base);
  if (!image) return {};
  Surface s = *image;
  painter_.DrawText(s, 5, 2, text, menuFont_, color, std::nullopt);
  return s;
}

void CMenuBar::BuildPowerMenu() {
  const bool ja = JapaneseForms();
  for (int i = 0; i < 4; ++i) {
    const std::string_view text = ja ? menubar::kPowerEntriesJa[i] : menubar::kPowerEntries[i];
    PowerEntry& e = power_[i];
    e.normal = EntryImage(img::kEntry, text, menubar::kMenuTextColor);
    e.pressedImage = EntryImage(img::kEntryPressed, text, menubar::kMenuTextColor);
    e.grey = EntryImage(img::kEntry, text, menubar::kMenuGreyTextColor);
  }
  link_ = EntryImage(img::kEntry, ja ? menubar::kExtendedMenuJa : menubar::kExtendedMenu,
                     menubar::kMenuTextColor);
}

// ---- Geometry ----

BarModes CMenuBar::Modes() const {
  return {config_.muMode, config_.screenCapture, config_.clientCapture, replaying_};
}

bool CMenuBar::Hit(BarButton button, int x, int y) const {
  return Present(button, Modes()) && layout::Button(button, width_).Contains(x, y);
}

BarButton CMenuBar::ButtonAt(int x, int y) const {
  for (int b = 0; b < kBarButtonCount; ++b) {
    if (Hit(static_cast<BarButton>(b), x, y)) return static_cast<BarButton>(b);
  }
  return BarButton::kCount;
}

Rect CMenuBar::PanelRect(Panel panel) const {
  switch (panel) {
    case Panel::kPowerCompact:
      return layout::PowerCompact(width_);
    case Panel::kPowerExtended:
      return layout::PowerExtended(width_);
    case Panel::kDrives:
      return layout::DriveMenu(width_, drives_->Count());
    case Panel::kKeys:
      return layout::KeysPanel(width_);
    case Panel::kNone:
      break;
  }
  return {};
}

bool CMenuBar::HitTest(int x, int y) {
  if (!ready_) return false;
  return layout::Bar(width_).Contains(x, y) || PanelRect(panel_).Contains(x, y);
}

Rect CMenuBar::Area() const {
  Rect area = BarStrip(width_);
  if (!tooltip_.empty()) area = Union(area, layout::TooltipStrip(width_));
  return Union(area, PanelRect(panel_));
}

void CMenuBar::SetWidth(int width) {
  width_ = width;
}

// ---- Showing ----

void CMenuBar::Invalidate(const Rect& r) {
  if (!r.Empty()) host_.Invalidate(&r, false);
}

void CMenuBar::InvalidateButton(BarButton button) {
  Invalidate(layout::Button(button, width_));
}

void CMenuBar::InvalidateAll() {
  Invalidate(BarStrip(width_));
  Invalidate(layout::TooltipStrip(width_));
  Invalidate(PanelRect(panel_));
}

void CMenuBar::Redraw() {
  InvalidateAll();
}

void CMenuBar::Show() {
  const bool wasShown = IsShown();
  visible_ = true;
  if (!wasShown) InvalidateAll();
}

void CMenuBar::Hide() {
  if (!visible_) return;
  if (!pinned_) InvalidateAll();
  visible_ = false;
  SetTooltip({});
}

void CMenuBar::Pin() {
  pinned_ = true;
  InvalidateAll();
}

void CMenuBar::SetPanel(Panel panel) {
  if (panel == panel_) return;
  Invalidate(PanelRect(panel_));
  // Pressed marks do not outlive the panel they were made in.
  for (PowerEntry& e : power_) e.pressed = false;
  panel_ = panel;
  Invalidate(PanelRect(panel_));
  // The buttons show whether their panel is open.
  InvalidateButton(BarButton::kPower);
  InvalidateButton(BarButton::kMedia);
  InvalidateButton(BarButton::kKeys);
}

// ---- Power, control, capture and replay state ----

void CMenuBar::SetPower(bool on) {
  powerOn_ = on;
  // The button and the greying of the entries; the panels are repainted whether open or not,
  // since the console thread must not read which one is.
  InvalidateButton(BarButton::kPower);
  Invalidate(layout::PowerCompact(width_));
  Invalidate(layout::PowerExtended(width_));
}

void CMenuBar::ShowControlState(bool on) {
  controlState_ = on ? 2 : 0;
  if (IsShown()) InvalidateButton(BarButton::kControl);
}

void CMenuBar::StartReplay(const std::string& title) {
  SetPanel(Panel::kNone);
  pressed_ = BarButton::kCount;
  replaying_ = true;
  playing_ = false;
  stopRequested_ = false;
  speed_ = 0;
  speedChanged_ = false;
  SetTooltip({});
  if (ready_) PreparePicture(title, 9);
  InvalidateAll();
}

void CMenuBar::EndReplayDisplay() {
  replaying_ = false;
  playing_ = false;
  stopRequested_ = false;
  speed_ = 0;
  speedChanged_ = false;
  SetTooltip({});
  if (ready_) PreparePicture(config_.serverName, 1);
  InvalidateAll();
}

void CMenuBar::SetPlaying(bool playing) {
  playing_ = playing;
  InvalidateButton(BarButton::kPlayPause);
}

void CMenuBar::StopPlaying() {
  ReplayRewound();
  stopRequested_ = true;
}

void CMenuBar::NextSpeed() {
  speed_ = (speed_ + 1) % 4;
  speedChanged_ = true;
  InvalidateButton(BarButton::kFastPlay);
}

void CMenuBar::ReplayRewound() {
  stopRequested_ = false;
  playing_ = false;
  speed_ = 0;
  // Called from the console thread: only the replay buttons, whose places need no menu state.
  InvalidateButton(BarButton::kPlayPause);
  InvalidateButton(BarButton::kFastPlay);
}

void CMenuBar::SetReplayMenuClosed() {
  replayMenuClosed_ = true;
  InvalidateButton(BarButton::kReplay);
}

void CMenuBar::SetRecording(bool recording) {
  recording_ = recording;
  InvalidateButton(BarButton::kRecord);
}

void CMenuBar::UnmountKind(VmKind kind) {
  drives_->UnmountKind(kind);
  if (panel_ == Panel::kDrives) Invalidate(PanelRect(panel_));
}

// ---- Tooltips ----

std::string_view CMenuBar::TooltipOf(BarButton button) const {
  switch (button) {
    case BarButton::kRecord:
      return img::kTipRecord;
    case BarButton::kReplay:
      return img::kTipReplay;
    case BarButton::kPower:
      return img::kTipPower;
    case BarButton::kMedia:
      return img::kTipMedia;
    case BarButton::kKeys:
      return img::kTipKeys;
    case BarButton::kControl:
      return img::kTipControl;
    case BarButton::kClientList:
      return img::kTipClientList;
    case BarButton::kLock:
      return img::kTipLock;
    case BarButton::kPlayPause:
      return playing_ ? img::kTipPause : img::kTipPlay;
    case BarButton::kStop:
      return img::kTipStop;
    case BarButton::kFastPlay:
      return img::kTipFastPlay[speed_ & 3];
    default:
      return {};
  }
}

void CMenuBar::SetTooltip(std::string_view id) {
  if (tooltip_ == id) return;
  tooltip_ = std::string(id);
  Invalidate(layout::TooltipStrip(width_));
}

void CMenuBar::OnMouseMove(int x, int y) {
  SetTooltip(TooltipOf(ButtonAt(x, y)));
  if (replaying_ && !playing_ && !stopRequested_) InvalidateButton(BarButton::kPlayPause);
}

// ---- Clicks ----

bool CMenuBar::OnMouseButton(Event event, int x, int y) {
  const bool left = event <= kLeftDoubleClick;
  bool& owned = left ? leftOwned_ : rightOwned_;
  if (event == kLeftUp || event == kRightUp) {
    // The release goes where its press went: a press the server saw must be released there, or
    // its button would stay down on the server.
    if (!owned) return false;
    owned = false;
    if (event == kLeftUp) {
      if (HitTest(x, y)) LeftUp(x, y);
      if (pressed_ != BarButton::kCount) InvalidateButton(pressed_);
      pressed_ = BarButton::kCount;
    }
    return true;
  }
  if (!IsShown() || !HitTest(x, y)) {
    // The server has this press, so it gets its release: a press of the bar whose release never
    // came (a dialog that the press opened took it) gives up its claim here.
    if (owned && left && pressed_ != BarButton::kCount) {
      InvalidateButton(pressed_);
      pressed_ = BarButton::kCount;
    }
    owned = false;
    return false;
  }
  owned = true;
  if (event == kLeftDown) LeftDown(x, y);
  return true;
}

void CMenuBar::LeftDown(int x, int y) {
  pressed_ = ButtonAt(x, y);
  if (pressed_ != BarButton::kCount) InvalidateButton(pressed_);

  const Rect panel = PanelRect(panel_);
  if (!panel.Contains(x, y)) return;
  const int px = x - panel.left;
  const int py = y - panel.top;
  if (panel_ == Panel::kPowerCompact || panel_ == Panel::kPowerExtended) {
    const bool extended = panel_ == Panel::kPowerExtended;
    for (int i = 0; i < 4; ++i) {
      const layout::PowerEntryPlace& p = layout::kPowerEntryPlaces[i];
      const Rect r = extended ? Rect{p.extendedX, p.extendedY, p.extendedX + 89, p.extendedY + 15}
                              : Rect{p.compactX, p.compactY, p.compactX + 114, p.compactY + 15};
      if (r.Contains(px, py)) power_[i].pressed = true;
    }
    Invalidate(panel);
  } else if (panel_ == Panel::kDrives) {
    // The drive menu acts when the button goes down.
    const int row = DriveButtonAt(px, py);
    if (row < 0) return;
    SetPanel(Panel::kNone);
    drives_->Press(row);
    owner_.RestartIdleCountdown();
  }
}

void CMenuBar::LeftUp(int x, int y) {
  // The panels lie below the buttons: a point is in one or on the other, never both.
  if (ClickPowerPanel(x, y) || ClickKeysPanel(x, y)) return;
  const BarButton button = ButtonAt(x, y);
  switch (button) {
    case BarButton::kClose:
      if (replaying_) {
        EndReplayDisplay();
        owner_.LeaveReplay();
      } else {
        owner_.StopSession();
      }
      break;
    case BarButton::kPin:
      pinned_ = !pinned_;
      break;
    case BarButton::kPlayPause:
      SetPlaying(!playing_);
      break;
    case BarButton::kStop:
      StopPlaying();
      break;
    case BarButton::kFastPlay:
      NextSpeed();
      break;
    case BarButton::kRecord:
      if (recording_) {
        recording_ = false;
        owner_.StopCapture();
      } else if (owner_.StartCapture()) {
        recording_ = true;
        // The capture starts with a whole screen.
        owner_.DoCommand(kCommandRefresh);
      }
      break;
    case BarButton::kReplay:
      if (replayMenuClosed_) {
        replayMenuClosed_ = false;
        owner_.OpenReplayMenu();
      }
      break;
    case BarButton::kPower:
      ClickPowerButton();
      break;
    case BarButton::kControl:
      ClickControl();
      break;
    case BarButton::kClientList:
      owner_.ShowClientList();
      break;
    case BarButton::kLock:
      notAccepting_ = !notAccepting_;
      owner_.SetAccepting(!notAccepting_);
      break;
    case BarButton::kKeys:
      SetPanel(panel_ == Panel::kKeys ? Panel::kNone : Panel::kKeys);
      break;
    case BarButton::kMedia:
      ClickMediaButton();
      break;
    case BarButton::kCount:
      return;
  }
  InvalidateButton(button);
  // In replay mode the tooltip follows the state it describes.
  if (replaying_) SetTooltip(TooltipOf(button));
}

void CMenuBar::Warn(const char* traceLine, const char* text) {
  RC_TRACE("%s", traceLine);
  host_.MessageBox(text, "Warning", kMbOk | kMbIconWarning);
}

void CMenuBar::ClickPowerButton() {
  if (!PowerAuthorized()) {
    Warn("CMenuBar::displaying power not authorized warning\n", "Virtual Power Not Authorized");
    return;
  }
  const bool open = panel_ == Panel::kPowerCompact || panel_ == Panel::kPowerExtended;
  SetPanel(open ? Panel::kNone : Panel::kPowerCompact);
}

void CMenuBar::ClickMediaButton() {
  if (!MediaAuthorized()) {
    Warn("CMenuBar::displaying not authorized warning\n", "Virtual Media Not Authorized");
    return;
  }
  if (panel_ == Panel::kDrives) {
    SetPanel(Panel::kNone);
    return;
  }
  drives_->GetDrives();
  SetPanel(Panel::kDrives);
}

bool CMenuBar::ClickPowerPanel(int x, int y) {
  if (panel_ != Panel::kPowerCompact && panel_ != Panel::kPowerExtended) return false;
  const Rect panel = PanelRect(panel_);
  if (!panel.Contains(x, y)) return false;
  const int px = x - panel.left;
  const int py = y - panel.top;
  const bool extended = panel_ == Panel::kPowerExtended;
  for (int i = 0; i < 4; ++i) {
    const layout::PowerEntryPlace& p = layout::kPowerEntryPlaces[i];
    const Rect r = extended
                       ? Rect{p.extendedX, p.extendedY, p.extendedX + layout::kExtendedClickWidth,
                              p.extendedY + layout::kEntryClickHeight}
                       : Rect{p.compactX, p.compactY, p.compactX + layout::kCompactClickWidth,
                              p.compactY + layout::kEntryClickHeight};
    if (r.Contains(px, py)) {
      power_[i].pressed = false;
      SendPower(i);
    }
  }
  const bool link = !extended && layout::kLinkClick.Contains(px, py);
  SetPanel(link ? Panel::kPowerExtended : Panel::kNone);
  return true;
}

void CMenuBar::SendPower(int entry) {
  // Power commands are not input: they go out whether or not this console holds control.
  const auto& bytes = kPowerCommandBytes[entry];
  owner_.Write(bytes.data(), bytes.size());
}

bool CMenuBar::ClickKeysPanel(int x, int y) {
  if (panel_ != Panel::kKeys) return false;
  const Rect panel = PanelRect(panel_);
  if (!panel.Contains(x, y)) return false;
  const int row = layout::KeysRowAt(x - panel.left, y - panel.top);
  if (row < 0) return true;  // a gap between rows: ignored
  if (row == 0) {
    owner_.WriteInput(kCtrlAltDelBytes.data(), kCtrlAltDelBytes.size());
  } else {
    const uint8_t hotkey = static_cast<uint8_t>(0x13 + row);
    owner_.WriteInput(&hotkey, 1);
  }
  SetPanel(Panel::kNone);
  return true;
}

void CMenuBar::ClickControl() {
  switch (controlState_) {
    case 0:
      owner_.RequestControl();
      // A leader takes control at once; a joining console waits for the leader's answer.
      controlState_ = config_.muMode == 1 ? 2 : 1;
      break;
    case 2:
      owner_.RelinquishControl();
      controlState_ = 0;
      break;
    default:
      break;
  }
}

// ---- Painting ----

std::string_view CMenuBar::ButtonImage(BarButton button) const {
  const bool down = pressed_ == button;
  switch (button) {
    case BarButton::kPin:
      return pinned_ ? img::kPinIn : img::kPinOut;
    case BarButton::kClose:
      return down ? img::kClosePressed : img::kClose;
    case BarButton::kPower: {
      const bool active = down || panel_ == Panel::kPowerCompact || panel_ == Panel::kPowerExtended;
      if (powerOn_) return active ? img::kPowerOnPressed : img::kPowerOn;
      return active ? img::kPowerOffPressed : img::kPowerOff;
    }
    case BarButton::kMedia:
      return down || panel_ == Panel::kDrives ? img::kMediaPressed : img::kMedia;
    case BarButton::kKeys:
      return down || panel_ == Panel::kKeys ? img::kKeysPressed : img::kKeys;
    case BarButton::kReplay:
      return down || !replayMenuClosed_ ? img::kReplayPressed : img::kReplay;
    case BarButton::kRecord:
      return down || recording_ ? img::kRecording : img::kRecordIdle;
    case BarButton::kControl:
      switch (controlState_) {
        case 1:
          return img::kControlRequested;
        case 2:
          return img::kControlHeld;
        default:
          return img::kControlNone;
      }
    case BarButton::kClientList:
      return down ? img::kClientListPressed : img::kClientList;
    case BarButton::kLock:
      return notAccepting_ ? img::kLockClosed : img::kLockOpen;
    case BarButton::kPlayPause:
      if (playing_) return down ? img::kPausePressed : img::kPause;
      return down ? img::kPlayPressed : img::kPlay;
    case BarButton::kStop:
      return down ? img::kStopPressed : img::kStop;
    case BarButton::kFastPlay:
      return down ? img::kFastPlayPressed[speed_ & 3] : img::kFastPlay[speed_ & 3];
    case BarButton::kCount:
      break;
  }
  return {};
}

void CMenuBar::DrawImage(Surface& target, std::string_view id, int x, int y) {
  if (const Surface* image = painter_.Image(id)) {
    target.CopyFrom(*image, image->bounds(), x, y);
  }
}

void CMenuBar::DrawButton(Surface& target, BarButton button) {
  const Rect r = layout::Button(button, width_);
  DrawImage(target, ButtonImage(button), r.left, r.top);
}

void CMenuBar::DrawPowerPanel(Surface& target, bool extended) {
  const Rect panel = PanelRect(extended ? Panel::kPowerExtended : Panel::kPowerCompact);
  DrawImage(target, extended ? img::kPowerExtended : img::kPowerCompact, panel.left, panel.top);
  for (int i = 0; i < 4; ++i) {
    const PowerEntry& e = power_[i];
    const Surface& image = e.pressed ? e.pressedImage : EntryGreyed(i) ? e.grey : e.normal;
    const layout::PowerEntryPlace& p = layout::kPowerEntryPlaces[i];
    const int x = panel.left + (extended ? p.extendedX : p.compactX);
    const int y = panel.top + (extended ? p.extendedY : p.compactY);
    target.CopyFrom(image, image.bounds(), x, y);
  }
  if (!extended) {
    target.CopyFrom(link_, link_.bounds(), panel.left + layout::kLinkX, panel.top + layout::kLinkY);
  }
}

int CMenuBar::DriveButtonAt(int x, int y) const {
  for (int k = 0; k < drives_->Count(); ++k) {
    if (layout::DriveButtonClick(k).Contains(x, y)) return k;
  }
  return -1;
}

void CMenuBar::DrawDriveMenu(Surface& target) {
  const int n = drives_->Count();
  if (n <= 0) return;
  const Rect menu = PanelRect(Panel::kDrives);
  DrawImage(target, menubar::img::kDriveMenu[n - 1], menu.left, menu.top);
  const int labelRoom = layout::kDriveButtonX - layout::kDriveLabelX;
  for (int k = 0; k < n; ++k) {
    const VmDriveEntry& e = drives_->Entry(k);
    std::string_view icon = img::kIconFloppy, mask = img::kIconFloppyMask;
    switch (e.icon) {
      case VmIcon::Folder:
        icon = img::kIconFolder;
        mask = img::kIconFolderMask;
        break;
      case VmIcon::Cd:
        icon = img::kIconCdrom;
        mask = img::kIconCdromMask;
        break;
      case VmIcon::UsbKey:
        icon = img::kIconUsb;
        mask = img::kIconUsbMask;
        break;
      case VmIcon::Floppy:
        break;
    }
    const int y = menu.top + layout::DriveIconY(k);
    const Surface* iconImage = painter_.Image(icon);
    const Surface* maskImage = painter_.Image(mask);
    if (iconImage && maskImage) {
      target.CopyMasked(*iconImage, *maskImage, iconImage->bounds(),
                        menu.left + layout::kDriveIconX, y);
    }
    const std::string label = Elide(painter_, e.label, menuFont_, labelRoom);
    painter_.DrawText(target, menu.left + layout::kDriveLabelX, y, label, menuFont_,
                      menubar::kMenuTextColor, std::nullopt);
    DrawImage(target, e.mounted ? img::kUnmount : img::kMount, menu.left + layout::kDriveButtonX,
              menu.top + layout::DriveButtonY(k));
  }
}

void CMenuBar::Paint(Surface& target, int width) {
  if (width != width_) SetWidth(width);
  if (!ready_) return;
  const Rect bar = layout::Bar(width_);
  if (const Surface* mask = painter_.Image(img::kBarMask)) {
    target.CopyMasked(picture_, *mask, picture_.bounds(), bar.left, bar.top);
  }
  const BarModes modes = Modes();
  for (int b = 0; b < kBarButtonCount; ++b) {
    const auto button = static_cast<BarButton>(b);
    if (Present(button, modes)) DrawButton(target, button);
  }
  if (!tooltip_.empty()) {
    const Rect tip = layout::TooltipStrip(width_);
    DrawImage(target, tooltip_, tip.left, tip.top);
  }
  switch (panel_) {
    case Panel::kPowerCompact:
      DrawPowerPanel(target, false);
      break;
    case Panel::kPowerExtended:
      DrawPowerPanel(target, true);
      break;
    case Panel::kDrives:
      DrawDriveMenu(target);
      break;
    case Panel::kKeys: {
      const Rect keys = PanelRect(panel_);
      DrawImage(target, img::kKeysPanel, keys.left, keys.top);
      break;
    }
    case Panel::kNone:
      break;
  }
}

}  // namespace remcons
