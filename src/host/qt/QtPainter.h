// The drawing seam on Qt: text through QPainter straight into a Surface's pixels, the system's font
// names resolved to installed fonts, and the menu bar's images by identifier.
#pragma once

#include <QFont>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <tuple>

#include "platform/Painter.h"

namespace remcons {

class QtPainter : public Painter {
 public:
  // Needs a QGuiApplication. Installs the font substitutions on first use.
  QtPainter();

  void DrawText(Surface& target, int x, int y, std::string_view text, const FontSpec& font,
                Pixel color, std::optional<Pixel> background) override;
  int TextWidth(std::string_view text, const FontSpec& font) override;
  const Surface* Image(std::string_view id) override;

  // Adds an image under id, or replaces the pixels of the one already there (pointers that Image
  // returned stay valid and show the new pixels).
  void RegisterImage(std::string id, Surface image);

  // The Qt font for wanted: the face (after substitution) at the pixel size whose cell, ascent
  // plus descent, is at most wanted.pixelHeight, as tall as possible.
  QFont FontFor(const FontSpec& wanted);

  // "Arial" → Liberation Sans, "MS UI Gothic" → IPAGothic. Safe to call more than once.
  static void InstallFontSubstitutions();

  // Cells below this height are drawn without antialiasing.
  static constexpr int kAntialiasFromHeight = 16;

 private:
  using FontKey = std::tuple<std::string, int, bool>;

  std::mutex mutex_;
  std::map<FontKey, QFont> fonts_;
  std::map<std::string, Surface, std::less<>> images_;
};

}  // namespace remcons
