// The menu bar's images by identifier, with their sizes, and the texts that the artwork carries.
// The core only names images; the desktop draws them (host/qt/Artwork) and tests use plain
// surfaces of these sizes. Header-only, so the artwork can use it without linking the core.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

#include "platform/Surface.h"

namespace remcons::menubar {

inline constexpr int kBarWidth = 640;
inline constexpr int kBarHeight = 22;

// Colours of the texts the bar writes at run time, chosen with the artwork: the server name on the
// bar, menu entry and drive labels on the light panels, and a greyed entry.
inline constexpr Pixel kBarTextColor = Rgb(0xE8, 0xEA, 0xED);
inline constexpr Pixel kMenuTextColor = Rgb(0, 0, 0);
inline constexpr Pixel kMenuGreyTextColor = Rgb(0x7F, 0x7F, 0x7F);

struct ImageSpec {
  std::string_view id;
  int width;
  int height;
};

namespace img {
// The bar and the mask of its shape (black: outside the bar).
inline constexpr std::string_view kBar = "287";
inline constexpr std::string_view kBarMask = "240";
// Buttons: normal / pressed (or active).
inline constexpr std::string_view kPinOut = "263";
inline constexpr std::string_view kPinIn = "262";
inline constexpr std::string_view kClose = "284";
inline constexpr std::string_view kClosePressed = "223";
inline constexpr std::string_view kPowerOff = "229";
inline constexpr std::string_view kPowerOffPressed = "230";
inline constexpr std::string_view kPowerOn = "271";
inline constexpr std::string_view kPowerOnPressed = "272";
inline constexpr std::string_view kMedia = "238";
inline constexpr std::string_view kMediaPressed = "243";
inline constexpr std::string_view kKeys = "269";
inline constexpr std::string_view kKeysPressed = "270";
inline constexpr std::string_view kReplay = "302";
inline constexpr std::string_view kReplayPressed = "303";
inline constexpr std::string_view kRecordIdle = "298";
inline constexpr std::string_view kRecording = "299";
inline constexpr std::string_view kControlNone = "335";
inline constexpr std::string_view kControlRequested = "336";
inline constexpr std::string_view kControlHeld = "334";
inline constexpr std::string_view kClientList = "337";
inline constexpr std::string_view kClientListPressed = "338";
inline constexpr std::string_view kLockOpen = "367";
inline constexpr std::string_view kLockClosed = "368";
// Replay controls.
inline constexpr std::string_view kPlay = "309";
inline constexpr std::string_view kPlayPressed = "310";
inline constexpr std::string_view kPause = "313";
inline constexpr std::string_view kPausePressed = "314";
inline constexpr std::string_view kStop = "311";
inline constexpr std::string_view kStopPressed = "312";
// Fast play by speed index 0 to 3, and pressed.
inline constexpr std::array<std::string_view, 4> kFastPlay = {"316", "316", "325", "326"};
inline constexpr std::array<std::string_view, 4> kFastPlayPressed = {"315", "315", "327", "328"};
// Tooltips.
inline constexpr std::string_view kTipRecord = "320";
inline constexpr std::string_view kTipReplay = "321";
inline constexpr std::string_view kTipPower = "322";
inline constexpr std::string_view kTipMedia = "323";
inline constexpr std::string_view kTipKeys = "324";
inline constexpr std::string_view kTipControl = "341";
inline constexpr std::string_view kTipClientList = "342";
inline constexpr std::string_view kTipLock = "370";
inline constexpr std::string_view kTipPlay = "352";
inline constexpr std::string_view kTipPause = "353";
inline constexpr std::string_view kTipStop = "354";
// Fast play's tooltip by speed index: what the next click selects.
inline constexpr std::array<std::string_view, 4> kTipFastPlay = {"349", "350", "351", "348"};
// Panels.
inline constexpr std::string_view kKeysPanel = "369";
inline constexpr std::string_view kPowerCompact = "379";
inline constexpr std::string_view kPowerExtended = "292";
// Drive menu backgrounds for 1 to 9 entries.
inline constexpr std::array<std::string_view, 9> kDriveMenu = {"248", "249", "251", "252", "254",
                                                               "372", "373", "374", "380"};
// Power menu entries (the text is written on them at start-up) and the drive menu's buttons.
inline constexpr std::string_view kEntry = "273";
inline constexpr std::string_view kEntryPressed = "274";
inline constexpr std::string_view kMount = "255";
inline constexpr std::string_view kUnmount = "256";
// Drive icons, drawn through their masks.
inline constexpr std::string_view kIconFloppy = "icon-floppy";
inline constexpr std::string_view kIconFloppyMask = "icon-floppy-mask";
inline constexpr std::string_view kIconFolder = "icon-folder";
inline constexpr std::string_view kIconFolderMask = "icon-folder-mask";
inline constexpr std::string_view kIconCdrom = "icon-cdrom";
inline constexpr std::string_view kIconCdromMask = "icon-cdrom-mask";
inline constexpr std::string_view kIconUsb = "icon-usb";
inline constexpr std::string_view kIconUsbMask = "icon-usb-mask";
}  // namespace img

// Sizes shared by the layout and the artwork.
inline constexpr int kTooltipWidth = 67;
inline constexpr int kTooltipHeight = 9;
inline constexpr int kEntryWidth = 89;
inline constexpr int kEntryHeight = 15;
inline constexpr int kMountWidth = 43;
inline constexpr int kMountHeight = 16;
inline constexpr int kIconSize = 16;
inline constexpr int kDriveMenuWidth = 110;
inline constexpr int kKeysPanelWidth = 80;
inline constexpr int kKeysPanelHeight = 132;
inline constexpr int kPowerCompactWidth = 114;
inline constexpr int kPowerCompactHeight = 94;
inline constexpr int kPowerExtendedWidth = 324;
inline constexpr int kPowerExtendedHeight = 288;

// Height of the drive menu with n (1 to 9) entries.
constexpr int DriveMenuHeight(int n) {
  return 25 + 21 * (n - 1);
}

// Every image the menu bar uses, at its size in pixels.
inline constexpr ImageSpec kImages[] = {
    {img::kBar, kBarWidth, kBarHeight},
    {img::kBarMask, kBarWidth, kBarHeight},
    {img::kPinOut, 16, 16},
    {img::kPinIn, 16, 16},
    {img::kClose, 17, 17},
    {img::kClosePressed, 17, 17},
    {img::kPowerOff, 18, 17},
    {img::kPowerOffPressed, 18, 17},
    {img::kPowerOn, 18, 17},
    {img::kPowerOnPressed, 18, 17},
    {img::kMedia, 22, 17},
    {img::kMediaPressed, 22, 17},
    {img::kKeys, 18, 21},
    {img::kKeysPressed, 18, 21},
    {img::kReplay, 16, 16},
    {img::kReplayPressed, 16, 16},
    {img::kRecordIdle, 16, 16},
    {img::kRecording, 16, 16},
    {img::kControlNone, 16, 16},
    {img::kControlRequested, 16, 16},
    {img::kControlHeld, 16, 16},
    {img::kClientList, 16, 16},
    {img::kClientListPressed, 16, 16},
    {img::kLockOpen, 16, 16},
    {img::kLockClosed, 16, 16},
    {img::kPlay, 28, 16},
    {img::kPlayPressed, 28, 16},
    {img::kPause, 28, 16},
    {img::kPausePressed, 28, 16},
    {img::kStop, 28, 16},
    {img::kStopPressed, 28, 16},
    {"316", 29, 16},
    {"315", 29, 16},
    {"325", 29, 16},
    {"327", 29, 16},
    {"326", 29, 16},
    {"328", 29, 16},
    {img::kTipRecord, kTooltipWidth, kTooltipHeight},
    {img::kTipReplay, kTooltipWidth, kTooltipHeight},
    {img::kTipPower, kTooltipWidth, kTooltipHeight},
    {img::kTipMedia, kTooltipWidth, kTooltipHeight},
    {img::kTipKeys, kTooltipWidth, kTooltipHeight},
    {img::kTipControl, kTooltipWidth, kTooltipHeight},
    {img::kTipClientList, kTooltipWidth, kTooltipHeight},
    {img::kTipLock, kTooltipWidth, kTooltipHeight},
    {img::kTipPlay, kTooltipWidth, kTooltipHeight},
    {img::kTipPause, kTooltipWidth, kTooltipHeight},
    {img::kTipStop, kTooltipWidth, kTooltipHeight},
    {"348", kTooltipWidth, kTooltipHeight},
    {"349", kTooltipWidth, kTooltipHeight},
    {"350", kTooltipWidth, kTooltipHeight},
    {"351", kTooltipWidth, kTooltipHeight},
    {img::kKeysPanel, kKeysPanelWidth, kKeysPanelHeight},
    {img::kPowerCompact, kPowerCompactWidth, kPowerCompactHeight},
    {img::kPowerExtended, kPowerExtendedWidth, kPowerExtendedHeight},
    {"248", kDriveMenuWidth, DriveMenuHeight(1)},
    {"249", kDriveMenuWidth, DriveMenuHeight(2)},
    {"251", kDriveMenuWidth, DriveMenuHeight(3)},
    {"252", kDriveMenuWidth, DriveMenuHeight(4)},
    {"254", kDriveMenuWidth, DriveMenuHeight(5)},
    {"372", kDriveMenuWidth, DriveMenuHeight(6)},
    {"373", kDriveMenuWidth, DriveMenuHeight(7)},
    {"374", kDriveMenuWidth, DriveMenuHeight(8)},
    {"380", kDriveMenuWidth, DriveMenuHeight(9)},
    {img::kEntry, kEntryWidth, kEntryHeight},
    {img::kEntryPressed, kEntryWidth, kEntryHeight},
    {img::kMount, kMountWidth, kMountHeight},
    {img::kUnmount, kMountWidth, kMountHeight},
    {img::kIconFloppy, kIconSize, kIconSize},
    {img::kIconFloppyMask, kIconSize, kIconSize},
    {img::kIconFolder, kIconSize, kIconSize},
    {img::kIconFolderMask, kIconSize, kIconSize},
    {img::kIconCdrom, kIconSize, kIconSize},
    {img::kIconCdromMask, kIconSize, kIconSize},
    {img::kIconUsb, kIconSize, kIconSize},
    {img::kIconUsbMask, kIconSize, kIconSize},
};

// The size of an image by identifier; {"", 0, 0} for an unknown one.
constexpr ImageSpec FindImage(std::string_view id) {
  for (const ImageSpec& image : kImages) {
    if (image.id == id) return image;
  }
  return {"", 0, 0};
}

// --- Texts carried by images ---

// Tooltip captions, by tooltip identifier (English capitals in every language).
struct TooltipText {
  std::string_view id;
  std::string_view text;
};
inline constexpr TooltipText kTooltipTexts[] = {
    {img::kTipRecord, "RECORD"},
    {img::kTipReplay, "REPLAY"},
    {img::kTipPower, "POWER"},
    {img::kTipMedia, "VIRTUAL MEDIA"},
    {img::kTipKeys, "CTL-ALT-DEL"},
    {img::kTipControl, "CONTROL"},
    {img::kTipClientList, "CLIENT LIST"},
    {img::kTipLock, "LOCK"},
    {img::kTipPlay, "PLAY"},
    {img::kTipPause, "PAUSE"},
    {img::kTipStop, "STOP"},
    {"348", "FAST PLAY"},
    {"349", "FAST PLAY(2X)"},
    {"350", "FAST PLAY(4X)"},
    {"351", "FAST PLAY(8X)"},
};

// The keys menu's rows, English and Japanese.
inline constexpr std::array<std::string_view, 7> kKeyRows = {
    "Ctrl-Alt-Del", "Hotkey 1", "Hotkey 2", "Hotkey 3", "Hotkey 4", "Hotkey 5", "Hotkey 6"};
inline constexpr std::array<std::string_view, 7> kKeyRowsJa = {
    "Ctrl-Alt-Del", "ホットキー 1", "ホットキー 2", "ホットキー 3",
    "ホットキー 4", "ホットキー 5", "ホットキー 6"};

inline constexpr std::string_view kPowerTitle = "Virtual Power Button";
inline constexpr std::string_view kPowerTitleJa = "仮想電源ボタン";

// The four power entries, in menu order.
inline constexpr std::array<std::string_view, 4> kPowerEntries = {
    "Momentary Press", "Press and Hold", "Cold Boot", "Reset System"};
inline constexpr std::array<std::string_view, 4> kPowerEntriesJa = {
    "瞬間的に押す", "押し続ける", "コールド ブート", "リセット システム"};
inline constexpr std::string_view kExtendedMenu = "Extended Menu";
inline constexpr std::string_view kExtendedMenuJa = "拡張メニュー";

// What each power entry does, shown beside it in the extended panel.
inline constexpr std::array<std::string_view, 4> kPowerExplanations = {
    "Pulses the power switch. With power on, an operating system that supports it shuts down in "
    "order; with power off, the server powers up.",
    "Holds the power switch: a hard shutdown with power on; powers up with power off.",
    "Removes power from the server and restores it.",
    "Resets the PCI bus: milder than a cold boot.",
};
inline constexpr std::array<std::string_view, 4> kPowerExplanationsJa = {
    "電源スイッチを短く押します。電源オン時は、対応する OS "
    "が正常にシャットダウンします。電源オフ時は、サーバーの電源が入ります。",
    "電源スイッチを押し続けます。電源オン時は強制シャットダウン、電源オフ時は電源が入ります。",
    "サーバーの電源を切り、再び入れます。",
    "PCI バスをリセットします。コールド ブートより穏やかです。",
};
inline constexpr std::string_view kPowerIntro = "Sends the button press to the server.";
inline constexpr std::string_view kPowerIntroJa = "ボタン操作をサーバーに送ります。";

inline constexpr std::string_view kMountText = "Mount";
inline constexpr std::string_view kUnmountText = "Unmount";
inline constexpr std::string_view kMountTextJa = "マウント";
inline constexpr std::string_view kUnmountTextJa = "取り外し";

}  // namespace remcons::menubar
