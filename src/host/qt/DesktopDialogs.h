// The console's message boxes on the desktop: the text, its caption, the icon and buttons its
// style names, and system-modal boxes above every other window.
#pragma once

#include <QMessageBox>
#include <cstdint>
#include <string>

class QWidget;

namespace remcons {

// The icon of a style's icon bits.
QMessageBox::Icon MessageBoxIcon(uint32_t style);
// The buttons of a style's button set, and the one Enter presses.
QMessageBox::StandardButtons MessageBoxButtons(uint32_t style);
QMessageBox::StandardButton MessageBoxDefault(uint32_t style);
// The result (kIdOk ...) of a pressed button; the Escape answer when the box was closed otherwise.
int MessageBoxResult(QMessageBox::StandardButton button, uint32_t style);

// Shows the box modally over parent (window thread) and returns the pressed button as kIdOk,
// kIdCancel, kIdYes or kIdNo (kIdAccept or kIdDeny for kMbAcceptDeny). kMbSystemModal boxes are
// modal for the whole application and stay above other windows.
int ShowMessageBox(QWidget* parent, const std::string& text, const std::string& caption,
                   uint32_t style);

}  // namespace remcons
