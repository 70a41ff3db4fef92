#include "input/Mouse.h"

#include <algorithm>

#include "platform/Trace.h"

namespace remcons {
namespace {

constexpr int kDefaultRemoteWidth = 1280;
constexpr int kDefaultRemoteHeight = 1024;

int8_t Step(int64_t delta) {
  return static_cast<int8_t>(std::clamp<int64_t>(delta, -127, 127));
}

// Position on the grid. A pointer outside the picture (dragged past the window's edge, or over a
// window larger than the remote screen) counts as the nearest pixel of the picture, so the value
// stays on the grid instead of wrapping round the 16 bits.
uint16_t GridPosition(int v, int size) {
  size = std::max(size, 1);
  const int64_t clamped = std::clamp<int64_t>(v, 0, size - 1);
  return static_cast<uint16_t>(clamped * CMouse::kGrid / size);
}

}  // namespace

CMouse::CMouse(InputWriter connection) : connection_(std::move(connection)) {}

void CMouse::Send(const uint8_t* data, size_t size) {
  // A refused write (no control right, connection closed) is dropped.
  if (connection_) connection_(data, size);
}

void CMouse::Move(int x, int y, int width, int height) {
  if (!enabled()) return;
  const int8_t dx = Step(int64_t{x} - lastX_);
  const int8_t dy = Step(int64_t{lastY_} - y);
  lastX_ = x;
  lastY_ = y;
  if (dx == 0 && dy == 0) return;
  const uint16_t gx = GridPosition(x, width);
  const uint16_t gy = GridPosition(y, height);
  const uint8_t packet[8] = {0xFF,
                             0xD0,
                             static_cast<uint8_t>(dx),
                             static_cast<uint8_t>(dy),
                             static_cast<uint8_t>(gx >> 8),
                             static_cast<uint8_t>(gx),
                             static_cast<uint8_t>(gy >> 8),
                             static_cast<uint8_t>(gy)};
  Send(packet, sizeof packet);
}

void CMouse::SetPosition(int x, int y) {
  lastX_ = x;
  lastY_ = y;
}

void CMouse::Press(uint8_t button) {
  if (!enabled()) return;
  const uint8_t packet[3] = {0xFF, 0xD1, button};
  Send(packet, sizeof packet);
}

void CMouse::Release(uint8_t button) {
  if (!enabled()) return;
  const uint8_t packet[3] = {0xFF, 0xD2, button};
  Send(packet, sizeof packet);
}

void CMouse::Click(uint8_t button, int clicks) {
  RC_TRACE("Mouse clicks: %d\n", clicks);
  if (!enabled()) return;
  const uint8_t packet[4] = {0xFF, 0xD3, button,
                             static_cast<uint8_t>(std::clamp(clicks, 1, 256) - 1)};
  Send(packet, sizeof packet);
}

MouseMessages::MouseMessages(CMouse& mouse, MouseWindow window, MenuBarMouse* menuBar)
    : mouse_(mouse), window_(std::move(window)), menuBar_(menuBar) {}

void MouseMessages::OnMove(int x, int y, bool controlHeld) {
  Call(window_.setCursor);
  Call(window_.restartIdleCountdown);
  if (menuBar_ && menuBar_->HitTest(x, y)) {
    menuBar_->Show();
  } else {
    if (menuBar_) menuBar_->Hide();
    if (controlHeld) {
      mouse_.SetPosition(x, y);
    } else {
      auto [width, height] = window_.remoteScreenSize
                                 ? window_.remoteScreenSize()
                                 : std::pair{kDefaultRemoteWidth, kDefaultRemoteHeight};
      mouse_.Move(x, y, width, height);
    }
  }
  Call(window_.trackHover);
  Call(window_.markActivity);
}

void MouseMessages::OnHover(int x, int y) {
  Call(window_.setCursor);
  Call(window_.restartIdleCountdown);
  if (menuBar_) menuBar_->OnMouseMove(x, y);
  Call(window_.markActivity);
}

void MouseMessages::OnButton(MenuBarMouse::Event event, int x, int y) {
  using E = MenuBarMouse;
  if (event == E::kLeftDown) Call(window_.takeFocus);
  Call(window_.restartIdleCountdown);
  const bool consumed = menuBar_ && menuBar_->OnMouseButton(event, x, y);
  if (!consumed) {
    // Codes 0 to 2 are the left button's down, up and double click; 3 to 5 the right one's.
    const uint8_t button = event <= E::kLeftDoubleClick ? kMouseLeft : kMouseRight;
    switch (event % 3) {
      case 0:
        mouse_.Press(button);
        break;
      case 1:
        mouse_.Release(button);
        break;
      default:
        mouse_.Click(button, 2);
        break;
    }
  }
  // A right button release is not counted as activity.
  if (event != E::kRightUp) Call(window_.markActivity);
}

}  // namespace remcons
