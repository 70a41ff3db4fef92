#include "host/qt/Artwork.h"

#include <QFont>
#include <QFontMetricsF>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <algorithm>
#include <functional>
#include <string_view>

#include "host/qt/QtImage.h"
#include "host/qt/QtPainter.h"
#include "platform/Strings.h"
#include "ui/MenuBarImages.h"

namespace remcons {
namespace {

namespace mb = menubar;
namespace img = menubar::img;

// ---- Palette ----
// A dark bar with light line icons; light panels with dark text (the bar writes black entry and
// drive texts on them).
const QColor kBarTop(0x4A, 0x50, 0x5A);
const QColor kBarBottom(0x2E, 0x32, 0x3A);
const QColor kBarHighlight(0x63, 0x6A, 0x76);
const QColor kBarEdge(0x1A, 0x1D, 0x22);
const QColor kIcon(0xE3, 0xE7, 0xEC);
const QColor kIconDim(0x9A, 0xA1, 0xAC);
const QColor kAccent(0x3B, 0x82, 0xF6);
const QColor kAccentDark(0x25, 0x63, 0xC9);
const QColor kGreen(0x3D, 0xD6, 0x6F);
const QColor kRed(0xF0, 0x4A, 0x4F);
const QColor kSoftRed(0xFF, 0x85, 0x85);
const QColor kAmber(0xF5, 0xB3, 0x3B);
const QColor kPanel(0xF6, 0xF7, 0xF9);
const QColor kPanelEdge(0x8E, 0x96, 0xA2);
const QColor kPanelRule(0xDD, 0xE1, 0xE6);
const QColor kButtonFace(0xFF, 0xFF, 0xFF);
const QColor kButtonEdge(0xB4, 0xBB, 0xC5);
const QColor kPressedFace(0xD6, 0xE4, 0xFD);
const QColor kText(0x1D, 0x21, 0x29);
const QColor kSubtleText(0x4A, 0x52, 0x5E);
const QColor kTipFace(0xFF, 0xF1, 0x9C);
const QColor kTipEdge(0xA8, 0x8A, 0x1C);

// Texts may shrink to fit their place, to a pixel below this or below their size if smaller
// (pixels at scale 1).
constexpr double kMinTextPx = 8;

QString Q(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// ---- Drawing one image ----

class Artist {
 public:
  Artist(int scale, ArtworkNotes* notes) : scale_(scale), notes_(notes), ja_(JapaneseForms()) {
    QtPainter::InstallFontSubstitutions();
  }

  std::map<std::string, Surface> Draw();

 private:
  using Body = std::function<void(QPainter&, const QRectF&)>;

  // Draws an image of the catalogue's size for id, in scale-1 units.
  void Make(std::string_view id, const Body& body) {
    const mb::ImageSpec size = mb::FindImage(id);
    Surface surface(size.width * scale_, size.height * scale_, Rgb(0, 0, 0));
    {
      QImage image = ImageOf(surface);
      QPainter p(&image);
      p.setRenderHint(QPainter::Antialiasing);
      p.setRenderHint(QPainter::TextAntialiasing);
      p.scale(scale_, scale_);
      body(p, QRectF(0, 0, size.width, size.height));
    }
    out_[std::string(id)] = std::move(surface);
  }

  // A mask: white where shape covers the image, black elsewhere, without grey edges.
  void MakeMask(std::string_view id, const Body& shape) {
    Make(id, [&](QPainter& p, const QRectF& r) {
      p.fillRect(r, Qt::black);
      p.setRenderHint(QPainter::Antialiasing, false);
      p.setPen(QPen(Qt::white, 1));
      p.setBrush(Qt::white);
      shape(p, r);
    });
  }

  // Texts under 16 pixels are drawn at scale 1 in hinted monochrome, as the painter draws the
  // bar's own small texts: at that size grey edges only blur stems one pixel wide. At scale 2
  // they are smooth.
  QFont Font(double px, bool bold, bool japanese, int stretch = 100, bool smooth = false) const {
    QFont f(japanese ? QStringLiteral("MS UI Gothic") : QStringLiteral("Arial"));
    f.setPixelSize(std::max(1, static_cast<int>(px * scale_ + 0.5)));
    f.setBold(bold);
    f.setStretch(stretch);
    f.setHintingPreference(QFont::PreferFullHinting);
    const bool crisp = !smooth && scale_ == 1 && px < QtPainter::kAntialiasFromHeight;
    f.setStyleStrategy(
        crisp ? QFont::NoAntialias
              : QFont::StyleStrategy(QFont::PreferAntialias | QFont::NoSubpixelAntialias));
    return f;
  }

  // Draws text in r with flags, shrinking it from px until it fits.
  void Fitted(QPainter& p, std::string_view id, const QRectF& r, int flags, std::string_view text,
              double px, bool bold, const QColor& color, bool japanese, int stretch = 100,
              bool smooth = false) {
    const QString s = Q(text);
    const double floor = std::min(px, kMinTextPx) - 1;
    double size = px;
    for (;; size -= 0.5) {
      // Measured at the device's pixels: hinting at scale 2 differs from scale 1.
      QFont f = Font(size, bold, japanese, stretch, smooth);
      const QFontMetricsF m(f);
      const QRectF device(r.left() * scale_, r.top() * scale_, r.width() * scale_,
                          r.height() * scale_);
      const QRectF need = m.boundingRect(device, flags, s);
      const bool fits = need.width() <= device.width() + 0.01 && need.height() <= device.height();
      if (fits || size <= floor) {
        if (!fits && notes_)
          notes_->overflows.push_back(std::string(id) + ": " + std::string(text));
        if (notes_ && (notes_->smallestTextPx == 0 || size < notes_->smallestTextPx)) {
          notes_->smallestTextPx = static_cast<int>(size);
        }
        p.save();
        p.resetTransform();
        p.setFont(f);
        p.setPen(color);
        p.drawText(device, flags, s);
        p.restore();
        return;
      }
    }
  }

  // ---- Shared pieces ----

  // The bar's face for the part of the bar that r covers, r's top being barY on the bar.
  static void BarFace(QPainter& p, const QRectF& r, double barY) {
    QLinearGradient g(0, -barY, 0, mb::kBarHeight - barY);
    g.setColorAt(0, kBarTop);
    g.setColorAt(1, kBarBottom);
    p.fillRect(r, g);
    // The highlight on the bar's first row and its dark last row, where r reaches them.
    const double top = -barY;
    const double edge = mb::kBarHeight - 1 - barY;
    p.fillRect(QRectF(r.left(), top, r.width(), 1).intersected(r), kBarHighlight);
    p.fillRect(QRectF(r.left(), edge, r.width(), r.bottom() - edge).intersected(r), kBarEdge);
  }

  // A button's face on the bar: plain, or the rounded highlight of a pressed or active button.
  static void ButtonFace(QPainter& p, const QRectF& r, bool active,
                         const QColor& fill = kAccentDark) {
    BarFace(p, r, 2);
    if (!active) return;
    p.save();
    p.setPen(QPen(kAccent.lighter(125), 1));
    p.setBrush(fill);
    p.drawRoundedRect(r.adjusted(0.5, 0.5, -0.5, -0.5), 3.5, 3.5);
    p.restore();
  }

  static QPen Stroke(const QColor& c, double width = 1.6) {
    QPen pen(c, width);
    pen.setCapStyle(Qt::RoundCap);
    pen.setJoinStyle(Qt::RoundJoin);
    return pen;
  }

  // A light panel with a frame.
  static void PanelFace(QPainter& p, const QRectF& r) {
    p.fillRect(r, kPanel);
    p.save();
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setPen(QPen(kPanelEdge, 0));
    p.setBrush(Qt::NoBrush);
    p.drawRect(r.adjusted(0, 0, -1, -1));
    p.restore();
  }

  // A light push button; pressed, it turns the accent's pale tint.
  static void PushFace(QPainter& p, const QRectF& r, bool pressed, const QColor& panel = kPanel) {
    p.fillRect(r, panel);
    p.save();
    p.setPen(QPen(pressed ? kAccent : kButtonEdge, 1));
    QLinearGradient g(0, r.top(), 0, r.bottom());
    g.setColorAt(0, pressed ? kPressedFace : kButtonFace);
    g.setColorAt(1, pressed ? kPressedFace.darker(104) : QColor(0xEE, 0xF0, 0xF3));
    p.setBrush(g);
    p.drawRoundedRect(r.adjusted(0.5, 0.5, -0.5, -0.5), 3, 3);
    p.restore();
  }

  static void EntryFace(QPainter& p, const QRectF& r, bool pressed) {
    p.fillRect(r, kPanel);
    p.save();
    p.setPen(Qt::NoPen);
    QLinearGradient g(0, r.top(), 0, r.bottom());
    g.setColorAt(0, pressed ? kPressedFace : QColor(0xEC, 0xF0, 0xF5));
    g.setColorAt(1, pressed ? kPressedFace.darker(106) : QColor(0xD6, 0xDD, 0xE7));
    p.setBrush(g);
    p.drawRoundedRect(r.adjusted(0, 0, 0, -0.5), 3, 3);
    // A mark on the left: the accent when pressed.
    p.setBrush(pressed ? kAccent : QColor(0xB9, 0xC2, 0xCE));
    p.drawRoundedRect(QRectF(r.left() + 1, r.top() + 3, 2, r.height() - 6.5), 1, 1);
    p.restore();
  }

  // ---- Icons, in the box they are centred in ----

  static void PowerSymbol(QPainter& p, const QPointF& c, const QColor& color) {
    p.save();
    p.setPen(Stroke(color, 1.8));
    p.setBrush(Qt::NoBrush);
    const QRectF ring(c.x() - 5.2, c.y() - 4.6, 10.4, 10.4);
    p.drawArc(ring, 125 * 16, 290 * 16);
    p.drawLine(QPointF(c.x(), c.y() - 6.2), QPointF(c.x(), c.y() - 0.6));
    p.restore();
  }

  static void Pin(QPainter& p, const QRectF& r, bool in) {
    p.save();
    p.translate(r.center());
    if (!in) p.rotate(40);
    const QColor color = in ? Qt::white : kIcon;
    p.setPen(Qt::NoPen);
    p.setBrush(color);
    QPainterPath head;
    head.addRoundedRect(QRectF(-3.2, -7, 6.4, 2.2), 1, 1);
    p.drawPath(head);
    QPainterPath body;
    body.moveTo(-2.2, -4.8);
    body.lineTo(2.2, -4.8);
    body.lineTo(2.8, 0.4);
    body.lineTo(-2.8, 0.4);
    body.closeSubpath();
    p.drawPath(body);
    p.drawRoundedRect(QRectF(-4.8, 0.2, 9.6, 1.8), 0.9, 0.9);
    p.setPen(Stroke(color, 1.2));
    p.drawLine(QPointF(0, 2), QPointF(0, 7));
    p.restore();
  }

  static void Cross(QPainter& p, const QRectF& r, const QColor& color) {
    p.save();
    p.setPen(Stroke(color, 1.9));
    const QRectF x = r.adjusted(5, 5, -5, -5);
    p.drawLine(x.topLeft(), x.bottomRight());
    p.drawLine(x.topRight(), x.bottomLeft());
    p.restore();
  }

  static void DiscDrive(QPainter& p, const QRectF& r, bool active) {
    p.save();
    const QPointF c(r.center().x(), r.top() + 6.2);
    // The disc, half out of the drive.
    QRadialGradient shine(c, 5.5);
    shine.setColorAt(0, QColor(0xF4, 0xF6, 0xF8));
    shine.setColorAt(0.6, QColor(0xC9, 0xD3, 0xDE));
    shine.setColorAt(1, QColor(0xB6, 0xC6, 0xE0));
    p.setPen(QPen(active ? Qt::white : kIconDim, 0.8));
    p.setBrush(shine);
    p.drawEllipse(c, 5.3, 5.3);
    p.setBrush(active ? kAccentDark : kBarTop);
    p.drawEllipse(c, 1.3, 1.3);
    // The drive.
    const QRectF drive(r.left() + 2.5, r.top() + 9.5, r.width() - 5, 5.5);
    p.setPen(QPen(kBarEdge, 0.8));
    p.setBrush(active ? Qt::white : kIcon);
    p.drawRoundedRect(drive, 1.5, 1.5);
    p.setPen(QPen(QColor(0x6B, 0x72, 0x7E), 1));
    p.drawLine(QPointF(drive.left() + 3, drive.center().y()),
               QPointF(drive.right() - 6, drive.center().y()));
    p.setPen(Qt::NoPen);
    p.setBrush(kGreen.darker(110));
    p.drawEllipse(QPointF(drive.right() - 3, drive.center().y()), 1.1, 1.1);
    p.restore();
  }

  void KeyCap(QPainter& p, const QRectF& r, bool active) {
    p.save();
    const QRectF cap(r.left() + 1.5, r.top() + 1.5, r.width() - 3, 15);
    // The key's side, then its top.
    p.setPen(Qt::NoPen);
    p.setBrush(active ? kAccentDark : QColor(0xA9, 0xB1, 0xBC));
    p.drawRoundedRect(cap, 2.5, 2.5);
    QLinearGradient g(0, cap.top(), 0, cap.bottom() - 2);
    g.setColorAt(0, active ? kAccent.lighter(115) : QColor(0xF7, 0xF8, 0xFA));
    g.setColorAt(1, active ? kAccent : QColor(0xDD, 0xE1, 0xE7));
    p.setBrush(g);
    p.drawRoundedRect(cap.adjusted(1, 0.5, -1, -2.5), 2, 2);
    p.restore();
    // Three capitals in 13 pixels: a narrowed bold face stays legible where a smaller one blurs.
    Fitted(p, img::kKeys, cap.adjusted(1, 0.5, -1, -2.5), Qt::AlignCenter, "CAD", 7, true,
           active ? Qt::white : kText, false, 85);
  }

  static void Triangle(QPainter& p, const QPointF& c, double h, const QColor& color) {
    QPainterPath t;
    t.moveTo(c.x() - h * 0.42, c.y() - h / 2);
    t.lineTo(c.x() + h * 0.5, c.y());
    t.lineTo(c.x() - h * 0.42, c.y() + h / 2);
    t.closeSubpath();
    p.save();
    p.setPen(QPen(color, 0.8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(color);
    p.drawPath(t);
    p.restore();
  }

  static void ReplaySymbol(QPainter& p, const QRectF& r, const QColor& color) {
    p.save();
    const QPointF c = r.center();
    p.setPen(Stroke(color, 1.5));
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(c.x() - 5.5, c.y() - 5.5, 11, 11), 100 * 16, 300 * 16);
    // The arrow head at the arc's start.
    QPainterPath head;
    head.moveTo(c.x() - 3.6, c.y() - 7.4);
    head.lineTo(c.x() - 0.2, c.y() - 5.6);
    head.lineTo(c.x() - 3.2, c.y() - 3.2);
    p.drawPath(head);
    p.restore();
    Triangle(p, QPointF(c.x() + 0.6, c.y() + 0.3), 5, color);
  }

  static void Camera(QPainter& p, const QRectF& r, bool recording) {
    p.save();
    const QRectF body(r.left() + 2.5, r.top() + 4.5, 8.5, 7.5);
    p.setPen(QPen(kIcon, 1.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(body, 1.5, 1.5);
    QPainterPath lens;
    lens.moveTo(body.right() + 0.5, r.top() + 7.3);
    lens.lineTo(r.right() - 1.2, r.top() + 5.2);
    lens.lineTo(r.right() - 1.2, r.top() + 11.3);
    lens.lineTo(body.right() + 0.5, r.top() + 9.2);
    lens.closeSubpath();
    p.setBrush(kIcon);
    p.drawPath(lens);
    p.setPen(Qt::NoPen);
    p.setBrush(recording ? kRed : kIconDim);
    p.drawEllipse(body.center(), 2.3, 2.3);
    p.restore();
  }

  static void Pointer(QPainter& p, const QRectF& r, const QColor& fill) {
    QPainterPath a;
    const double x = r.left() + 3, y = r.top() + 1.5;
    a.moveTo(x, y);
    a.lineTo(x, y + 11.5);
    a.lineTo(x + 2.9, y + 8.9);
    a.lineTo(x + 4.9, y + 13);
    a.lineTo(x + 6.6, y + 12.2);
    a.lineTo(x + 4.7, y + 8.3);
    a.lineTo(x + 8.4, y + 8.3);
    a.closeSubpath();
    p.save();
    p.setPen(QPen(kBarEdge, 1, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(fill);
    p.drawPath(a);
    p.restore();
  }

  static void Badge(QPainter& p, const QRectF& r, const QColor& color) {
    p.save();
    p.setPen(QPen(kBarEdge, 0.8));
    p.setBrush(color);
    p.drawEllipse(QPointF(r.right() - 3.6, r.bottom() - 3.6), 3.2, 3.2);
    p.restore();
  }

  static void ListSymbol(QPainter& p, const QRectF& r, const QColor& color) {
    p.save();
    for (int i = 0; i < 3; ++i) {
      const double y = r.top() + 4 + 4 * i;
      p.setPen(Qt::NoPen);
      p.setBrush(color);
      p.drawEllipse(QPointF(r.left() + 3.5, y), 1.2, 1.2);
      p.setPen(Stroke(color, 1.4));
      p.drawLine(QPointF(r.left() + 6.5, y), QPointF(r.right() - 2.5, y));
    }
    p.restore();
  }

  static void Padlock(QPainter& p, const QRectF& r, bool locked) {
    p.save();
    const QRectF body(r.left() + 3, r.top() + 7, 10, 7.5);
    p.setPen(Stroke(kIcon, 1.5));
    p.setBrush(Qt::NoBrush);
    const double lift = locked ? 0 : 2.5;
    const QRectF shackle(body.left() + 1.8, r.top() + 2 - lift, 6.4, 9);
    if (locked) {
      p.drawArc(shackle, 0, 180 * 16);
      p.drawLine(QPointF(shackle.left(), shackle.center().y()),
                 QPointF(shackle.left(), body.top()));
    } else {
      p.drawArc(shackle.translated(2.2, 0), 0, 180 * 16);
      p.drawLine(QPointF(shackle.left() + 2.2, shackle.center().y()),
                 QPointF(shackle.left() + 2.2, body.top() - 1.5));
    }
    if (locked) {
      p.drawLine(QPointF(shackle.right(), shackle.center().y()),
                 QPointF(shackle.right(), body.top()));
    } else {
      p.drawLine(QPointF(shackle.right() + 2.2, shackle.center().y()),
                 QPointF(shackle.right() + 2.2, shackle.center().y() + 1));
    }
    p.setPen(QPen(kBarEdge, 0.8));
    p.setBrush(locked ? kAmber : kIcon);
    p.drawRoundedRect(body, 1.5, 1.5);
    p.setPen(Qt::NoPen);
    p.setBrush(kBarBottom);
    p.drawEllipse(QPointF(body.center().x(), body.center().y() - 0.4), 1.1, 1.1);
    p.restore();
  }

  // ---- Replay controls: a pill each ----

  static void ReplayPill(QPainter& p, const QRectF& r, bool pressed) {
    BarFace(p, r, 2);
    p.save();
    p.setPen(QPen(pressed ? kAccent.lighter(125) : QColor(0x6A, 0x72, 0x7F), 1));
    p.setBrush(pressed ? kAccentDark : QColor(0x3D, 0x43, 0x4C));
    p.drawRoundedRect(r.adjusted(1.5, 0.5, -1.5, -0.5), 7, 7);
    p.restore();
  }

  void FastPlay(QPainter& p, const QRectF& r, bool pressed, const char* speed) {
    ReplayPill(p, r, pressed);
    const double shift = speed ? -4.5 : 0;
    Triangle(p, QPointF(r.center().x() - 3 + shift, r.center().y()), 7, kIcon);
    Triangle(p, QPointF(r.center().x() + 2.5 + shift, r.center().y()), 7, kIcon);
    if (speed) {
      Fitted(p, speed, QRectF(r.center().x() + 3.5, r.top() + 2, 9, r.height() - 4),
             Qt::AlignCenter, speed, 8, true, kAmber, false);
    }
  }

  // ---- Drive icons and their masks ----

  static void Floppy(QPainter& p, const QRectF& r) {
    QPainterPath outline;
    outline.moveTo(r.left() + 1.5, r.top() + 1.5);
    outline.lineTo(r.right() - 4, r.top() + 1.5);
    outline.lineTo(r.right() - 1.5, r.top() + 4);
    outline.lineTo(r.right() - 1.5, r.bottom() - 1.5);
    outline.lineTo(r.left() + 1.5, r.bottom() - 1.5);
    outline.closeSubpath();
    p.save();
    p.setPen(QPen(QColor(0x1E, 0x3A, 0x6B), 1));
    p.setBrush(QColor(0x2F, 0x5C, 0xA8));
    p.drawPath(outline);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xC8, 0xD0, 0xDA));  // shutter
    p.drawRect(QRectF(r.left() + 4.5, r.top() + 2, 6, 4));
    p.setBrush(kBarBottom);
    p.drawRect(QRectF(r.left() + 8, r.top() + 2.8, 1.6, 2.4));
    p.setBrush(Qt::white);  // label
    p.drawRoundedRect(QRectF(r.left() + 3.5, r.top() + 8.5, 9, 5.5), 0.8, 0.8);
    p.restore();
  }

  static void FloppyShape(QPainter& p, const QRectF& r) { p.drawRect(r.adjusted(1, 1, -2, -2)); }

  static void Folder(QPainter& p, const QRectF& r) {
    p.save();
    p.setPen(QPen(QColor(0xB7, 0x7A, 0x12), 1));
    p.setBrush(QColor(0xF0, 0xB4, 0x3C));
    QPainterPath back;
    back.moveTo(r.left() + 1.5, r.top() + 3);
    back.lineTo(r.left() + 6, r.top() + 3);
    back.lineTo(r.left() + 7.5, r.top() + 4.5);
    back.lineTo(r.right() - 1.5, r.top() + 4.5);
    back.lineTo(r.right() - 1.5, r.bottom() - 2.5);
    back.lineTo(r.left() + 1.5, r.bottom() - 2.5);
    back.closeSubpath();
    p.drawPath(back);
    QLinearGradient g(0, r.top() + 6, 0, r.bottom() - 2);
    g.setColorAt(0, QColor(0xFF, 0xD5, 0x6B));
    g.setColorAt(1, QColor(0xF5, 0xBC, 0x45));
    p.setBrush(g);
    p.drawRoundedRect(QRectF(r.left() + 1.5, r.top() + 6.5, r.width() - 3, r.height() - 9), 1, 1);
    p.restore();
  }

  static void FolderShape(QPainter& p, const QRectF& r) {
    p.drawRect(QRectF(r.left() + 1, r.top() + 2, r.width() - 3, r.height() - 4));
  }

  static void Disc(QPainter& p, const QRectF& r) {
    p.save();
    const QPointF c = r.center();
    QRadialGradient g(c, 7);
    g.setColorAt(0, QColor(0xFD, 0xFD, 0xFE));
    g.setColorAt(0.45, QColor(0xD9, 0xE3, 0xF0));
    g.setColorAt(0.75, QColor(0xE8, 0xD9, 0xF2));
    g.setColorAt(1, QColor(0xC5, 0xD6, 0xE6));
    p.setPen(QPen(QColor(0x7C, 0x86, 0x94), 0.9));
    p.setBrush(g);
    p.drawEllipse(c, 6.8, 6.8);
    p.setBrush(QColor(0xEE, 0xF1, 0xF4));
    p.drawEllipse(c, 2.4, 2.4);
    p.setBrush(kPanel);
    p.drawEllipse(c, 1, 1);
    p.restore();
  }

  static void DiscShape(QPainter& p, const QRectF& r) { p.drawEllipse(r.center(), 7.5, 7.5); }

  static void UsbKey(QPainter& p, const QRectF& r) {
    p.save();
    p.translate(r.center());
    p.rotate(-45);
    // The connector, then the body.
    p.setPen(QPen(QColor(0x7C, 0x86, 0x94), 0.8));
    p.setBrush(QColor(0xD5, 0xDB, 0xE2));
    p.drawRect(QRectF(-2.6, -8, 5.2, 4.5));
    p.setBrush(QColor(0x5C, 0x66, 0x74));
    p.setPen(Qt::NoPen);
    p.drawRect(QRectF(-1.6, -7, 1, 1));
    p.drawRect(QRectF(0.6, -7, 1, 1));
    p.setPen(QPen(QColor(0x1F, 0x4E, 0x9A), 0.9));
    p.setBrush(kAccent);
    p.drawRoundedRect(QRectF(-3.6, -3.6, 7.2, 10.6), 1.8, 1.8);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255, 160));
    p.drawEllipse(QPointF(0, 4.2), 1, 1);
    p.restore();
  }

  static void UsbKeyShape(QPainter& p, const QRectF& r) {
    p.save();
    p.translate(r.center());
    p.rotate(-45);
    p.drawRect(QRectF(-3.2, -8.5, 6.4, 5.5));
    p.drawRect(QRectF(-4.2, -4.2, 8.4, 11.8));
    p.restore();
  }

  void Icon(std::string_view id, std::string_view maskId, const Body& icon, const Body& shape) {
    Make(id, [&](QPainter& p, const QRectF& r) {
      // The icon's own surround is the menu's face, so that its soft edges blend into it.
      p.fillRect(r, kPanel);
      icon(p, r);
    });
    MakeMask(maskId, [&](QPainter& p, const QRectF& r) { shape(p, r); });
  }

  // ---- Panels ----

  void KeysPanel();
  void PowerCompact();
  void PowerExtended();
  void DriveMenus();
  void Tooltips();
  void Bar();
  void Buttons();

  int scale_;
  ArtworkNotes* notes_;
  bool ja_;
  std::map<std::string, Surface> out_;
};

void Artist::Bar() {
  Make(img::kBar, [](QPainter& p, const QRectF& r) { BarFace(p, r, 0); });
  // The bar hangs from the top of the window: its lower corners are rounded.
  MakeMask(img::kBarMask, [](QPainter& p, const QRectF& r) {
    QPainterPath shape;
    shape.addRoundedRect(r.adjusted(0, -8, 0, 0), 6, 6);
    p.setPen(Qt::NoPen);
    p.drawPath(shape);
  });
}

void Artist::Buttons() {
  Make(img::kPinOut, [](QPainter& p, const QRectF& r) {
    ButtonFace(p, r, false);
    Pin(p, r, false);
  });
  Make(img::kPinIn, [](QPainter& p, const QRectF& r) {
    ButtonFace(p, r, true);
    Pin(p, r, true);
  });
  Make(img::kClose, [](QPainter& p, const QRectF& r) {
    ButtonFace(p, r, false);
    Cross(p, r, kSoftRed);
  });
  Make(img::kClosePressed, [](QPainter& p, const QRectF& r) {
    ButtonFace(p, r, true, kRed);
    Cross(p, r, Qt::white);
  });
  struct PowerButton {
    std::string_view id;
    bool on, pressed;
  };
  for (const PowerButton& b :
       {PowerButton{img::kPowerOff, false, false}, PowerButton{img::kPowerOffPressed, false, true},
        PowerButton{img::kPowerOn, true, false}, PowerButton{img::kPowerOnPressed, true, true}}) {
    Make(b.id, [&](QPainter& p, const QRectF& r) {
      ButtonFace(p, r, b.pressed);
      PowerSymbol(p, QPointF(r.center().x(), r.center().y() + 0.6), b.on ? kGreen : kIconDim);
    });
  }
  for (bool active : {false, true}) {
    Make(active ? img::kMediaPressed : img::kMedia, [&](QPainter& p, const QRectF& r) {
      ButtonFace(p, r, active);
      DiscDrive(p, r, active);
    });
    Make(active ? img::kKeysPressed : img::kKeys, [&](QPainter& p, const QRectF& r) {
      // Taller than the bar by one row: the bar's face and edge continue under it.
      BarFace(p, r, 2);
      p.fillRect(QRectF(r.left(), mb::kBarHeight - 2, r.width(), r.height()), kBarEdge);
      KeyCap(p, r, active);
    });
    Make(active ? img::kReplayPressed : img::kReplay, [&](QPainter& p, const QRectF& r) {
      ButtonFace(p, r, active);
      ReplaySymbol(p, r, active ? Qt::white : kIcon);
    });
    Make(active ? img::kClientListPressed : img::kClientList, [&](QPainter& p, const QRectF& r) {
      ButtonFace(p, r, active);
      ListSymbol(p, r, active ? Qt::white : kIcon);
    });
    Make(active ? img::kLockClosed : img::kLockOpen, [&](QPainter& p, const QRectF& r) {
      ButtonFace(p, r, false);
      Padlock(p, r, active);
    });
    Make(active ? img::kRecording : img::kRecordIdle, [&](QPainter& p, const QRectF& r) {
      ButtonFace(p, r, false);
      Camera(p, r, active);
    });
  }
  Make(img::kControlHeld, [](QPainter& p, const QRectF& r) {
    ButtonFace(p, r, false);
    Pointer(p, r, Qt::white);
  });
  Make(img::kControlRequested, [](QPainter& p, const QRectF& r) {
    ButtonFace(p, r, false);
    Pointer(p, r, kIconDim);
    Badge(p, r, kAmber);
  });
  Make(img::kControlNone, [](QPainter& p, const QRectF& r) {
    ButtonFace(p, r, false);
    Pointer(p, r, kIconDim);
    Badge(p, r, kRed);
    p.setPen(Stroke(Qt::white, 1.1));
    const QPointF c(r.right() - 3.6, r.bottom() - 3.6);
    p.drawLine(c + QPointF(-1.5, -1.5), c + QPointF(1.5, 1.5));
  });
  for (bool pressed : {false, true}) {
    Make(pressed ? img::kPlayPressed : img::kPlay, [&](QPainter& p, const QRectF& r) {
      ReplayPill(p, r, pressed);
      Triangle(p, QPointF(r.center().x() + 0.8, r.center().y()), 8, kIcon);
    });
    Make(pressed ? img::kPausePressed : img::kPause, [&](QPainter& p, const QRectF& r) {
      ReplayPill(p, r, pressed);
      p.setPen(Qt::NoPen);
      p.setBrush(kIcon);
      p.drawRoundedRect(QRectF(r.center().x() - 3.5, r.center().y() - 4, 2.6, 8), 0.8, 0.8);
      p.drawRoundedRect(QRectF(r.center().x() + 0.9, r.center().y() - 4, 2.6, 8), 0.8, 0.8);
    });
    Make(pressed ? img::kStopPressed : img::kStop, [&](QPainter& p, const QRectF& r) {
      ReplayPill(p, r, pressed);
      p.setPen(Qt::NoPen);
      p.setBrush(kIcon);
      p.drawRoundedRect(QRectF(r.center().x() - 3.5, r.center().y() - 3.5, 7, 7), 1, 1);
    });
    // Speed indexes 0 and 1 share the plain picture; 4x and 8x say so.
    Make(pressed ? "315" : "316",
         [&](QPainter& p, const QRectF& r) { FastPlay(p, r, pressed, nullptr); });
    Make(pressed ? "327" : "325",
         [&](QPainter& p, const QRectF& r) { FastPlay(p, r, pressed, "4x"); });
    Make(pressed ? "328" : "326",
         [&](QPainter& p, const QRectF& r) { FastPlay(p, r, pressed, "8x"); });
  }
}

void Artist::Tooltips() {
  for (const mb::TooltipText& tip : mb::kTooltipTexts) {
    Make(tip.id, [&](QPainter& p, const QRectF& r) {
      p.fillRect(r, kTipFace);
      p.save();
      p.setRenderHint(QPainter::Antialiasing, false);
      p.setPen(QPen(kTipEdge, 0));
      p.drawLine(QPointF(r.left(), r.top()), QPointF(r.left(), r.bottom() - 1));
      p.drawLine(QPointF(r.right() - 1, r.top()), QPointF(r.right() - 1, r.bottom() - 1));
      p.restore();
      // Capitals seven pixels tall keep their shapes only with grey edges.
      Fitted(p, tip.id, r.adjusted(2, 0, -2, 0), Qt::AlignCenter, tip.text, 9, true, Qt::black,
             false, 100, true);
    });
  }
}

void Artist::KeysPanel() {
  Make(img::kKeysPanel, [&](QPainter& p, const QRectF& r) {
    PanelFace(p, r);
    const auto& rows = ja_ ? mb::kKeyRowsJa : mb::kKeyRows;
    for (int k = 0; k < 7; ++k) {
      // The row's click area: x 4 to 76, y 5 + 18k to 20 + 18k.
      const QRectF row(4, 5 + 18 * k, 72, 15);
      PushFace(p, row, false);
      Fitted(p, img::kKeysPanel, row.adjusted(2, 0, -2, 0), Qt::AlignCenter, rows[k], ja_ ? 10 : 11,
             k == 0, kText, ja_);
    }
  });
}

void Artist::PowerCompact() {
  Make(img::kPowerCompact, [&](QPainter& p, const QRectF& r) {
    PanelFace(p, r);
    // The title runs above the first entry (at y 12); a power glyph marks the panel.
    const QRectF band(1, 1, r.width() - 2, 10.5);
    QLinearGradient g(0, band.top(), 0, band.bottom());
    g.setColorAt(0, QColor(0xE4, 0xE9, 0xF1));
    g.setColorAt(1, QColor(0xD7, 0xDE, 0xE8));
    p.fillRect(band, g);
    Fitted(p, img::kPowerCompact, band.adjusted(3, -1, -2, 1), Qt::AlignCenter,
           ja_ ? mb::kPowerTitleJa : mb::kPowerTitle, 10, true, kText, ja_);
    // A rule between the four buttons and the link to the extended menu.
    p.fillRect(QRectF(6, 90.5, r.width() - 12, 1), kPanelRule);
  });
}

void Artist::PowerExtended() {
  Make(img::kPowerExtended, [&](QPainter& p, const QRectF& r) {
    PanelFace(p, r);
    const QRectF band(1, 1, r.width() - 2, 24);
    QLinearGradient g(0, band.top(), 0, band.bottom());
    g.setColorAt(0, QColor(0xE4, 0xE9, 0xF1));
    g.setColorAt(1, QColor(0xD4, 0xDC, 0xE7));
    p.fillRect(band, g);
    PowerSymbol(p, QPointF(15.5, 13.5), QColor(0x2E, 0x9E, 0x55));
    Fitted(p, img::kPowerExtended, QRectF(28, 2, r.width() - 34, 22),
           Qt::AlignVCenter | Qt::AlignLeft, ja_ ? mb::kPowerTitleJa : mb::kPowerTitle, 14, true,
           kText, ja_);
    Fitted(p, img::kPowerExtended, QRectF(15, 32, r.width() - 30, 28),
           Qt::AlignLeft | Qt::AlignVCenter | Qt::TextWordWrap,
           ja_ ? mb::kPowerIntroJa : mb::kPowerIntro, 12, false, kSubtleText, ja_);
    // Each entry (drawn by the bar at x 15, 89 wide) with its explanation to its right, down to
    // the next entry.
    const int tops[4] = {68, 152, 206, 258};
    const int bottoms[4] = {148, 202, 254, 285};
    const auto& texts = ja_ ? mb::kPowerExplanationsJa : mb::kPowerExplanations;
    for (int i = 0; i < 4; ++i) {
      if (i > 0) p.fillRect(QRectF(15, tops[i] - 3.5, r.width() - 30, 1), kPanelRule);
      Fitted(p, img::kPowerExtended,
             QRectF(112, tops[i] - 1, r.width() - 112 - 10, bottoms[i] - tops[i] + 1),
             Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, texts[i], 12, false, kText, ja_);
    }
    p.fillRect(QRectF(15, 62.5, r.width() - 30, 1), kPanelRule);
  });
}

void Artist::DriveMenus() {
  for (int n = 1; n <= 9; ++n) {
    Make(img::kDriveMenu[n - 1], [&](QPainter& p, const QRectF& r) {
      PanelFace(p, r);
      // Rules between the rows (row k spans 4 + 21k to 20 + 21k).
      for (int k = 0; k + 1 < n; ++k) {
        p.fillRect(QRectF(5, 22 + 21 * k, r.width() - 10, 1), kPanelRule);
      }
    });
  }
  for (bool mounted : {false, true}) {
    Make(mounted ? img::kUnmount : img::kMount, [&](QPainter& p, const QRectF& r) {
      p.fillRect(r, kPanel);
      p.save();
      QLinearGradient g(0, r.top(), 0, r.bottom());
      g.setColorAt(0, mounted ? kAccent.lighter(110) : kButtonFace);
      g.setColorAt(1, mounted ? kAccentDark : QColor(0xEA, 0xED, 0xF1));
      p.setPen(QPen(mounted ? kAccentDark.darker(120) : kButtonEdge, 1));
      p.setBrush(g);
      p.drawRoundedRect(r.adjusted(0.5, 0.5, -0.5, -0.5), 3, 3);
      p.restore();
      const std::string_view text = mounted ? (ja_ ? mb::kUnmountTextJa : mb::kUnmountText)
                                            : (ja_ ? mb::kMountTextJa : mb::kMountText);
      Fitted(p, mounted ? img::kUnmount : img::kMount, r.adjusted(2, 0, -2, 0), Qt::AlignCenter,
             text, 10.5, false, mounted ? Qt::white : kText, ja_);
    });
  }
  Icon(img::kIconFloppy, img::kIconFloppyMask, Floppy, FloppyShape);
  Icon(img::kIconFolder, img::kIconFolderMask, Folder, FolderShape);
  Icon(img::kIconCdrom, img::kIconCdromMask, Disc, DiscShape);
  Icon(img::kIconUsb, img::kIconUsbMask, UsbKey, UsbKeyShape);
}

std::map<std::string, Surface> Artist::Draw() {
  Bar();
  Buttons();
  Tooltips();
  KeysPanel();
  PowerCompact();
  PowerExtended();
  DriveMenus();
  // The power menu's entries: the bar writes their texts at (5, 2), and a long one runs to the
  // right edge, so they are flat tiles without a frame.
  Make(img::kEntry, [](QPainter& p, const QRectF& r) { EntryFace(p, r, false); });
  Make(img::kEntryPressed, [](QPainter& p, const QRectF& r) { EntryFace(p, r, true); });
  return std::move(out_);
}

}  // namespace

std::map<std::string, Surface> DrawMenuBarArtwork(int scale, ArtworkNotes* notes) {
  return Artist(std::max(scale, 1), notes).Draw();
}

void RegisterMenuBarArtwork(QtPainter& painter) {
  for (auto& [id, image] : DrawMenuBarArtwork(1)) painter.RegisterImage(id, std::move(image));
  for (auto& [id, image] : DrawMenuBarArtwork(2)) {
    painter.RegisterImage(id + kArtwork2xSuffix, std::move(image));
  }
}

}  // namespace remcons
