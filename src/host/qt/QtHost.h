// The Host seam on Qt's event loop: the window thread is the thread that made the QtHost (the
// application's thread). Sends from other threads are blocking queued calls, posts are queued
// calls, timers are QTimers. What a window does with repaints and message boxes is the window's:
// the host hands them on through callbacks, so the same host serves the headless console and the
// desktop window.
#pragma once

#include <QObject>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/Host.h"

namespace remcons {

// How message boxes are answered when nobody is there to press a button: a rule per caption
// ("Network Status=OK", "New User=Accept"), else the box's default button.
class DialogPolicy {
 public:
  // One "CAPTION=BUTTON" rule (the button OK, Cancel, Yes, No, Accept or Deny, in any case); false
  // with a reason for a rule without '=' or with another button. A later rule for a caption
  // replaces an earlier.
  bool AddRule(std::string_view rule, std::string* error);
  // The button pressed on a box of that caption and style, and its name. A rule naming a button
  // the box does not have falls back to the default button.
  std::pair<int, std::string> Answer(const std::string& caption, uint32_t style) const;

  // The default button of a style: the first of its set, the second with kMbDefaultButton2.
  static int DefaultButton(uint32_t style);
  static bool HasButton(uint32_t style, int button);
  static const char* ButtonName(int button);

 private:
  std::map<std::string, int> rules_;
};

class QtHost : public Host {
 public:
  struct Callbacks {
    // Timer id fired (window thread).
    std::function<void(int id)> timer;
    // A repaint request (any thread): nullptr for the whole window.
    std::function<void(const Rect* rect, bool erase)> invalidate;
    // A message box (window thread): the button pressed.
    std::function<int(const std::string& text, const std::string& caption, uint32_t style)>
        messageBox;
    // The Client List dialog (window thread): the rows to show, nullptr when it is to close.
    std::function<void(const ClientListRows* rows)> clientList;
  };

  // Made on the window thread, after the application object.
  QtHost();
  ~QtHost() override;
  QtHost(const QtHost&) = delete;
  QtHost& operator=(const QtHost&) = delete;

  void SetCallbacks(Callbacks callbacks) { callbacks_ = std::move(callbacks); }
  void SetPageLocation(std::optional<std::string> location) { pageLocation_ = std::move(location); }

  bool IsUiThread() override;
  // Directly on the window thread; from another thread a blocking queued call, whose result says
  // whether it ran: false once CloseSends has been called or when it was released unrun.
  bool SendToUi(std::function<void()> fn) override;
  void PostToUi(std::function<void()> fn) override;
  void Invalidate(const Rect* r, bool erase) override;
  // Any thread; the QTimer lives on the window thread.
  void StartTimer(int id, uint32_t ms) override;
  void StopTimer(int id) override;
  // Any thread: shown on the window thread (the caller waits), answered by the callback; without
  // a callback or a window thread to show it on, the default button.
  int MessageBox(const std::string& text, const std::string& caption, uint32_t style) override;
  // No display modes: a console without a desktop display switches nothing.
  bool EnumDisplayMode(int index, DisplayMode* mode) override;
  int ChangeDisplayMode(const DisplayMode* mode) override;
  std::optional<std::string> PageLocation() override { return pageLocation_; }
  // The Client List dialog through the clientList callback; without one there is none.
  bool OpenClientList(ClientListSource* source) override;
  void RefreshClientList() override;
  void CloseClientList() override;
  bool ClientListOpen() override { return clientList_.load() != nullptr; }
  // From the window's dialog (window thread): a row's Disconnect button, and the dialog's close.
  void ClientListDisconnect(int row);
  void ClientListClosed() { clientList_ = nullptr; }
  void SetFocus() override { focusRequests_++; }
  // Nothing to grab without a desktop keyboard.
  bool GrabKeyboard(bool grab) override;
  // Without a display no dialog shows: a box says what a script does instead.
  std::optional<std::string> ChooseFile(const FileDialog& dialog) override;
  bool ShowReplayMenu(std::function<void(int choice)> choice) override;
  void CloseSends() override;

  bool TimerRunning(int id) const;
  int focusRequests() const { return focusRequests_.load(); }
  bool sendsClosed() const { return sendsClosed_.load(); }

 private:
  void StartTimerHere(int id, uint32_t ms);
  void ShowClientRows();
  void StopTimerHere(int id);

  QThread* uiThread_;
  // Sends and posts go through two receivers, so that releasing the waiting senders leaves the
  // posted calls in the queue.
  std::unique_ptr<QObject> sendBridge_;
  std::unique_ptr<QObject> postBridge_;
  std::atomic<bool> sendsClosed_{false};
  Callbacks callbacks_;
  std::optional<std::string> pageLocation_;
  mutable std::mutex timersMutex_;
  std::map<int, std::unique_ptr<QTimer>> timers_;
  std::atomic<int> focusRequests_{0};
  std::atomic<ClientListSource*> clientList_{nullptr};
};

}  // namespace remcons
