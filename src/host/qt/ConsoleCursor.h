// The console's own pointer over the picture: a 32 x 32 arrow outline with its hot spot at the
// tip (0, 0). The system's cursor inverts the picture under its outline; X11 cursors cannot invert,
// so the outline is black with a white rim on both sides, which shows on dark and light pictures.
#pragma once

#include <QBitmap>
#include <QCursor>

namespace remcons {

inline constexpr int kConsoleCursorSize = 32;

// The cursor's bitmap and mask as QCursor takes them: bitmap 1 and mask 1 is black, bitmap 0 and
// mask 1 white, mask 0 transparent.
void ConsoleCursorBitmaps(QBitmap* bitmap, QBitmap* mask);
// The cursor itself (needs a QGuiApplication).
QCursor ConsoleCursor();

}  // namespace remcons
