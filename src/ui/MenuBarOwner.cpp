#include "ui/MenuBarOwner.h"

#include "platform/Trace.h"

namespace remcons {

// Defaults for an owner without capture, replay or a multi-user session.

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

void MenuBarOwner::RequestControl() {
  RC_TRACE("CMenuBar: multi-user control is not available yet\n");
}

void MenuBarOwner::RelinquishControl() {
  RC_TRACE("CMenuBar: multi-user control is not available yet\n");
}

void MenuBarOwner::ShowClientList() {
  RC_TRACE("CMenuBar: the client list is not available yet\n");
}

void MenuBarOwner::SetAccepting(bool accepting) {
  RC_TRACE("CMenuBar: multi-user sessions are not available yet (accepting %d)\n",
           accepting ? 1 : 0);
}

}  // namespace remcons
