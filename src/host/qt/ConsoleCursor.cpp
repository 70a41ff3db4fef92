#include "host/qt/ConsoleCursor.h"

#include <QImage>
#include <QPainter>
#include <QPolygon>

namespace remcons {
namespace {

constexpr int kSize = kConsoleCursorSize;

// The arrow: tip at the hot spot, a stem to the lower right.
QPolygon Arrow() {
  return QPolygon({QPoint(0, 0), QPoint(0, 21), QPoint(5, 16), QPoint(9, 25), QPoint(12, 24),
                   QPoint(8, 15), QPoint(15, 15)});
}

QImage MonoImage() {
  QImage image(kSize, kSize, QImage::Format_Mono);
  // Index 1 is colour 1 of a bitmap.
  image.setColorTable({qRgb(255, 255, 255), qRgb(0, 0, 0)});
  image.fill(0);
  return image;
}

}  // namespace

void ConsoleCursorBitmaps(QBitmap* bitmap, QBitmap* mask) {
  // The outline, one pixel wide, without smoothing.
  QImage outline(kSize, kSize, QImage::Format_RGB32);
  outline.fill(Qt::white);
  {
    QPainter painter(&outline);
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(QPen(Qt::black, 0));
    painter.setBrush(Qt::NoBrush);
    painter.drawPolygon(Arrow());
  }
  auto onOutline = [&](int x, int y) {
    return x >= 0 && y >= 0 && x < kSize && y < kSize && qGray(outline.pixel(x, y)) < 128;
  };

  QImage bits = MonoImage();
  QImage shape = MonoImage();
  for (int y = 0; y < kSize; ++y) {
    for (int x = 0; x < kSize; ++x) {
      if (onOutline(x, y)) {
        bits.setPixel(x, y, 1);
        shape.setPixel(x, y, 1);
      } else if (onOutline(x - 1, y) || onOutline(x + 1, y) || onOutline(x, y - 1) ||
                 onOutline(x, y + 1)) {
        shape.setPixel(x, y, 1);  // the white rim
      }
    }
  }
  *bitmap = QBitmap::fromImage(bits);
  *mask = QBitmap::fromImage(shape);
}

QCursor ConsoleCursor() {
  QBitmap bitmap, mask;
  ConsoleCursorBitmaps(&bitmap, &mask);
  return QCursor(bitmap, mask, 0, 0);
}

}  // namespace remcons
