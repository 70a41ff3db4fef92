// The window-system seam: everything the core asks of the desktop, as one interface. The Qt layer
// implements it for the desktop and for headless runs; tests use fakes.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/Surface.h"

namespace remcons {

// Message box styles, combinable: one button set, one icon, and flags.
enum MessageBoxStyle : uint32_t {
  kMbOk = 0x0,
  kMbOkCancel = 0x1,
  kMbYesNoCancel = 0x3,
  kMbYesNo = 0x4,
  kMbAcceptDeny = 0x7,  // the New User dialog: Accept (default) and Deny, no other way out
  kMbButtonMask = 0xF,
  kMbIconError = 0x10,
  kMbIconQuestion = 0x20,
  kMbIconWarning = 0x30,
  kMbIconInformation = 0x40,
  kMbIconMask = 0xF0,
  kMbDefaultButton2 = 0x100,
  kMbSystemModal = 0x1000,
};

// Message box results.
enum MessageBoxResult : int {
  kIdOk = 1,
  kIdCancel = 2,
  kIdYes = 6,
  kIdNo = 7,
  kIdAccept = 16,
  kIdDeny = 17
};

// The session leader's Client List dialog: three rows, each a text and a Disconnect button.
inline constexpr int kClientListRows = 3;
struct ClientListRow {
  std::string text;
  bool canDisconnect = false;
};
using ClientListRows = std::array<ClientListRow, kClientListRows>;

// What the Client List dialog shows and does (the session leader's server). Called on the window
// thread while the dialog is open.
class ClientListSource {
 public:
  virtual ~ClientListSource() = default;
  virtual ClientListRows ClientRows() = 0;
  // The Disconnect button of a row was pressed.
  virtual void DisconnectRow(int row) = 0;
};

// One local display mode.
struct DisplayMode {
  int width = 0;
  int height = 0;
  int bitsPerPixel = 32;
  int refreshHz = 60;
  // Rotation; 0 is upright. Rotated modes are never chosen.
  int orientation = 0;
  friend bool operator==(const DisplayMode&, const DisplayMode&) = default;
};

// Display change results.
enum DisplayChangeResult : int {
  kDispChangeSuccessful = 0,
  kDispChangeRestart = 1,
  kDispChangeFailed = -1,
  kDispChangeBadMode = -2,
  kDispChangeNotUpdated = -3,
  kDispChangeBadFlags = -4,
  kDispChangeBadParam = -5,
};

class Host {
 public:
  virtual ~Host() = default;

  // --- The window thread ---
  // True on the thread that owns the window.
  virtual bool IsUiThread() = 0;
  // Runs fn on the window thread and waits for it (directly when called there). Returns false when
  // the window is gone and fn did not run.
  virtual bool SendToUi(std::function<void()> fn) = 0;
  // Queues fn for the window thread and returns at once.
  virtual void PostToUi(std::function<void()> fn) = 0;

  // --- The window ---
  // Queues a repaint of r (nullptr: the whole window), erasing the background first when erase.
  // Safe from any thread.
  virtual void Invalidate(const Rect* r, bool erase) = 0;
  // Timer id fires every ms milliseconds on the window thread until stopped.
  virtual void StartTimer(int id, uint32_t ms) = 0;
  virtual void StopTimer(int id) = 0;
  // A modal message box; returns the pressed button (kIdOk ...). Callable from any thread.
  virtual int MessageBox(const std::string& text, const std::string& caption, uint32_t style) = 0;

  // --- Local display ---
  // Mode number index of the local display, false past the last one.
  virtual bool EnumDisplayMode(int index, DisplayMode* mode) = 0;
  // Switches the local display to mode; nullptr restores the mode the desktop had.
  virtual int ChangeDisplayMode(const DisplayMode* mode) = 0;

  // --- The hosting page ---
  // The location (URL) of the page that hosts the console, when there is one.
  virtual std::optional<std::string> PageLocation() = 0;

  // --- Focus, keyboard, pointer (hosts without them keep the defaults) ---
  // Gives the window the keyboard focus.
  virtual void SetFocus() {}
  // Keyboard grab while this console holds the process's keyboard hook: on at focus gain, off at
  // focus loss. False when the window system refused it (or there is none).
  virtual bool GrabKeyboard(bool grab) {
    (void)grab;
    return false;
  }
  // Shows the console's own cursor over the window.
  virtual void SetCursor() {}
  // Asks for one hover notification when the pointer comes to rest over the window.
  virtual void TrackHover() {}

  // --- The Client List dialog (modeless; hosts without it keep the defaults) ---
  // Opens it over the window with source's rows (window thread); false when there is none to
  // show. OK or the window's close command close it.
  virtual bool OpenClientList(ClientListSource* source) {
    (void)source;
    return false;
  }
  // Shows the rows again while it is open. Any thread.
  virtual void RefreshClientList() {}
  // Closes it; source is not called again afterwards. Any thread (waits for the window thread).
  virtual void CloseClientList() {}
  virtual bool ClientListOpen() { return false; }

  // --- Capture and replay dialogs (hosts without them show none) ---
  struct FileDialog {
    std::string title;
    bool save = false;  // save: asks before replacing a file; open: an existing file only
    std::vector<std::string> filters;  // "Name (*.ext)", the first one selected
    std::string defaultSuffix;
  };
  // The file the user chose, or nullopt when cancelled or no dialog can be shown. Window thread.
  virtual std::optional<std::string> ChooseFile(const FileDialog& dialog) {
    (void)dialog;
    return std::nullopt;
  }
  // Opens the modeless Replay Menu and returns at once; choice runs later on the window thread
  // with the button pressed (240 BOOT, 241 FAULT, 242 Replay file) or 0 when it was closed. False
  // when no dialog can be shown (choice never runs).
  virtual bool ShowReplayMenu(std::function<void(int choice)> choice) {
    (void)choice;
    return false;
  }

  // --- Teardown ---
  // The window is going away: from now on SendToUi from other threads returns false without
  // running, and senders already waiting for the window thread are released the same way, so the
  // window thread can wait for those threads. Window thread only; may be called repeatedly.
  virtual void CloseSends() {}
};

}  // namespace remcons
