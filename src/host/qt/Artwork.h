// The menu bar's images, drawn with QPainter at start-up from vector shapes and real fonts (in
// Japanese where the Japanese forms apply), and registered with the painter under the bar's
// identifiers. Drawn, not loaded: nothing to ship or keep in step with the texts, the language
// follows the desktop at run time, and any scale comes out sharp.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "platform/Surface.h"

namespace remcons {

class QtPainter;

// What drawing the artwork found worth knowing.
struct ArtworkNotes {
  // The smallest text size used, in pixels at scale 1, after shrinking texts to fit their place.
  int smallestTextPx = 0;
  // Texts that did not fit even at the smallest size allowed, as "id: text".
  std::vector<std::string> overflows;
};

// Every menu bar image by identifier at a scale: 1 for the sizes the bar lays out, 2 for twice
// the pixels each way (the same drawing at device pixel ratio 2). Needs a QGuiApplication.
std::map<std::string, Surface> DrawMenuBarArtwork(int scale = 1, ArtworkNotes* notes = nullptr);

// Suffix of the scale-2 variants.
inline constexpr const char* kArtwork2xSuffix = "@2x";

// Registers the scale-1 images under their identifiers, which the bar draws from, and the
// scale-2 images under identifier + "@2x" for a window that composes at device pixel ratio 2.
void RegisterMenuBarArtwork(QtPainter& painter);

}  // namespace remcons
