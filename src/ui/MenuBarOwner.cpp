#include "ui/MenuBarOwner.h"

#include "platform/Trace.h"

namespace remcons {

// Placeholders until capture and replay exist.

bool MenuBarOwner::StartCapture() {
  RC_TRACE("CMenuBar: capture is not available yet\n");
  return false;
}

void MenuBarOwner::StopCapture() {
  RC_TRACE("CMenuBar: capture is not available yet\n");
}

void MenuBarOwner::OpenReplayMenu() {
  RC_TRACE("CMenuBar: replay is not available yet\n");
}

void MenuBarOwner::LeaveReplay() {
  RC_TRACE("CMenuBar: replay is not available yet\n");
}

}  // namespace remcons
