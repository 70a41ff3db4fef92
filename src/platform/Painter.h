// The drawing seam: what the core needs beyond plain pixel copies (Surface does those) — text in
// a named font and the menu bar's images. The desktop implements it with QPainter.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/Surface.h"

namespace remcons {

struct FontSpec {
  std::string face;     // "Arial", "MS UI Gothic"; the implementation substitutes installed fonts
  int pixelHeight = 0;  // character cell height in pixels
  bool bold = false;
};

class Painter {
 public:
  virtual ~Painter() = default;
  // Draws UTF-8 text with the top-left of its cell at (x, y), clipped to the surface; with an
  // opaque background of bg's colour behind the text cells when bg is given.
  virtual void DrawText(Surface& target, int x, int y, std::string_view text, const FontSpec& font,
                        Pixel color, std::optional<Pixel> background) = 0;
  // Advance width of text in pixels.
  virtual int TextWidth(std::string_view text, const FontSpec& font) = 0;
  // An image by identifier (menu bar artwork); nullptr when there is none of that name.
  virtual const Surface* Image(std::string_view id) = 0;
};

}  // namespace remcons
