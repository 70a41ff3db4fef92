#include "host/qt/QtPainter.h"

#include <QFontMetrics>
#include <QImage>
#include <QPainter>
#include <QString>
#include <algorithm>

#include "host/qt/QtImage.h"

namespace remcons {
namespace {

QString FromUtf8(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QColor ColorOf(Pixel p) {
  return QColor(RedOf(p), GreenOf(p), BlueOf(p));
}

}  // namespace

QtPainter::QtPainter() {
  InstallFontSubstitutions();
}

void QtPainter::InstallFontSubstitutions() {
  static std::once_flag once;
  std::call_once(once, [] {
    QFont::insertSubstitutions(QStringLiteral("Arial"),
                               {QStringLiteral("Liberation Sans"), QStringLiteral("Arimo")});
    QFont::insertSubstitutions(QStringLiteral("MS UI Gothic"),
                               {QStringLiteral("IPAGothic"), QStringLiteral("IPAPGothic"),
                                QStringLiteral("Noto Sans CJK JP")});
  });
}

QFont QtPainter::FontFor(const FontSpec& wanted) {
  const int height = std::max(wanted.pixelHeight, 1);
  std::lock_guard lock(mutex_);
  FontKey key{wanted.face, height, wanted.bold};
  if (auto it = fonts_.find(key); it != fonts_.end()) return it->second;

  QFont font(QString::fromStdString(wanted.face));
  font.setBold(wanted.bold);
  // Small texts (the menu bar's 10- and 12-pixel entries) are drawn in hinted monochrome: at that
  // size grey edges only soften stems one or two pixels wide, and the menu artwork is pixel art
  // drawn without smoothing. Larger texts, the 24-pixel status lines above all, get greyscale
  // antialiasing with full hinting: stems stay on whole pixels, curves are smooth. Never subpixel
  // (LCD) rendering: its colour fringes belong to one display's pixel order, and the frame is also
  // shown scaled, captured and saved as PNG, where they smear into coloured halos.
  font.setStyleStrategy(
      height < kAntialiasFromHeight
          ? QFont::NoAntialias
          : QFont::StyleStrategy(QFont::PreferAntialias | QFont::NoSubpixelAntialias));
  font.setHintingPreference(QFont::PreferFullHinting);
  // The height names the character cell (ascent plus descent), as the system's font requests do;
  // Qt sizes the em square. Take the largest em whose cell fits.
  int size = height;
  font.setPixelSize(size);
  while (size > 1 && QFontMetrics(font).height() > height) font.setPixelSize(--size);
  fonts_.emplace(key, font);
  return font;
}

void QtPainter::DrawText(Surface& target, int x, int y, std::string_view text, const FontSpec& font,
                         Pixel color, std::optional<Pixel> background) {
  if (target.width() <= 0 || target.height() <= 0 || text.empty()) return;
  const QFont qfont = FontFor(font);
  const QFontMetrics metrics(qfont);
  const QString string = FromUtf8(text);
  QImage image = ImageOf(target);
  QPainter painter(&image);
  if (background) {
    painter.fillRect(QRect(x, y, metrics.horizontalAdvance(string), std::max(font.pixelHeight, 1)),
                     ColorOf(*background));
  }
  painter.setFont(qfont);
  painter.setPen(ColorOf(color));
  painter.drawText(QPoint(x, y + metrics.ascent()), string);
}

int QtPainter::TextWidth(std::string_view text, const FontSpec& font) {
  return QFontMetrics(FontFor(font)).horizontalAdvance(FromUtf8(text));
}

const Surface* QtPainter::Image(std::string_view id) {
  std::lock_guard lock(mutex_);
  auto it = images_.find(id);
  return it == images_.end() ? nullptr : &it->second;
}

void QtPainter::RegisterImage(std::string id, Surface image) {
  std::lock_guard lock(mutex_);
  auto it = images_.find(id);
  if (it == images_.end()) {
    images_.emplace(std::move(id), std::move(image));
  } else {
    it->second = std::move(image);
  }
}

}  // namespace remcons
