// Draws the desktop front's pictures with QPainter and saves them as PNG:
// the program mark in the sizes a notification area asks for, the six menu
// images and the splash picture. The mark is a white "V" inside a fan of
// sound waves on a blue-to-teal tile.
#include <QDir>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <cmath>
#include <cstdio>
#include <functional>

namespace {

const QColor kNavy(0x12, 0x2b, 0x52);
const QColor kBlue(0x1f, 0x5f, 0xa8);
const QColor kTeal(0x12, 0x9e, 0x98);
const QColor kMint(0x6b, 0xe0, 0xd2);
const QColor kInk(0x33, 0x3d, 0x4a);

// Paints into a square image of `size` pixels with a 16- or 64-unit canvas.
QImage Draw(int size, double units, const std::function<void(QPainter&)>& paint) {
  QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.scale(size / units, size / units);
  paint(painter);
  return image;
}

QPen Stroke(const QColor& color, double width) {
  return QPen(color, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

// The program mark on a 64-unit canvas; `waves` adds the sound fan, which
// only reads at 32 pixels and more.
void PaintMark(QPainter& p, bool waves) {
  QLinearGradient tile(0, 0, 64, 64);
  tile.setColorAt(0, kBlue);
  tile.setColorAt(1, kTeal);
  p.setPen(Qt::NoPen);
  p.setBrush(tile);
  p.drawRoundedRect(QRectF(2, 2, 60, 60), 14, 14);

  const QPointF tip(32, 50);
  if (waves) {
    p.setBrush(Qt::NoBrush);
    for (int i = 0; i < 2; ++i) {
      const double r = 30 + 8 * i;
      p.setPen(Stroke(QColor(255, 255, 255, 110 - 40 * i), 3));
      p.drawArc(QRectF(tip.x() - r, tip.y() - r, 2 * r, 2 * r), 55 * 16, 70 * 16);
    }
  }
  p.setPen(Stroke(Qt::white, waves ? 8 : 10));
  QPainterPath v;
  v.moveTo(17, 17);
  v.lineTo(tip);
  v.lineTo(47, 17);
  p.drawPath(v);
}

// Menu images on a 16-unit canvas, by their index in the menu.
void PaintAdministration(QPainter& p) {  // a web page
  p.setPen(Stroke(kInk, 1));
  p.setBrush(Qt::white);
  p.drawRoundedRect(QRectF(1.5, 2.5, 13, 11), 1.5, 1.5);
  p.setPen(Qt::NoPen);
  p.setBrush(kBlue);
  p.drawRect(QRectF(2, 3, 12, 3));
  p.setPen(Stroke(kTeal, 1.2));
  p.drawLine(QPointF(4, 8.5), QPointF(12, 8.5));
  p.drawLine(QPointF(4, 11), QPointF(9.5, 11));
}

void PaintExit(QPainter& p) {  // a power symbol
  p.setBrush(Qt::NoBrush);
  p.setPen(Stroke(QColor(0xc6, 0x28, 0x28), 2));
  p.drawArc(QRectF(2.5, 3, 11, 11), 125 * 16, 290 * 16);
  p.drawLine(QPointF(8, 1.5), QPointF(8, 7.5));
}

void PaintUpdate(QPainter& p) {  // a circular arrow
  const QColor green(0x2e, 0x8b, 0x3a);
  p.setBrush(Qt::NoBrush);
  p.setPen(Stroke(green, 1.8));
  p.drawArc(QRectF(2.5, 2.5, 11, 11), 100 * 16, 280 * 16);
  QPainterPath head;
  head.moveTo(9.2, 0.6);
  head.lineTo(9.2, 6.0);
  head.lineTo(5.0, 3.1);
  head.closeSubpath();
  p.setPen(Qt::NoPen);
  p.setBrush(green);
  p.drawPath(head);
}

void PaintLocalAddress(QPainter& p) {  // a computer screen
  p.setPen(Stroke(kInk, 1));
  p.setBrush(kBlue);
  p.drawRoundedRect(QRectF(1.5, 2.5, 13, 9), 1, 1);
  p.setBrush(Qt::NoBrush);
  p.setPen(Stroke(kMint, 1));
  p.drawLine(QPointF(4, 5.5), QPointF(9, 5.5));
  p.setPen(Stroke(kInk, 1.5));
  p.drawLine(QPointF(8, 12), QPointF(8, 13.5));
  p.drawLine(QPointF(5, 14), QPointF(11, 14));
}

void PaintExternalAddress(QPainter& p) {  // a globe
  p.setPen(Stroke(kBlue, 1.2));
  p.setBrush(QColor(0xdc, 0xee, 0xfb));
  p.drawEllipse(QRectF(1.5, 1.5, 13, 13));
  p.setBrush(Qt::NoBrush);
  p.drawEllipse(QRectF(5, 1.5, 6, 13));
  p.drawLine(QPointF(1.5, 8), QPointF(14.5, 8));
  p.drawLine(QPointF(3, 4.5), QPointF(13, 4.5));
  p.drawLine(QPointF(3, 11.5), QPointF(13, 11.5));
}

void PaintAddresses(QPainter& p) {  // three joined network nodes
  const QPointF a(8, 3), b(3, 13), c(13, 13);
  p.setPen(Stroke(kInk, 1.2));
  p.drawLine(a, b);
  p.drawLine(a, c);
  p.drawLine(b, c);
  p.setPen(Qt::NoPen);
  p.setBrush(kTeal);
  for (const QPointF& node : {a, b, c}) p.drawEllipse(node, 2.4, 2.4);
}

// The splash picture, 250 by 200. The window writes the version text at
// (195, 138), right-aligned, so that corner stays plain.
QImage Splash() {
  QImage image(250, 200, QImage::Format_ARGB32_Premultiplied);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::TextAntialiasing);

  QLinearGradient sky(0, 0, 0, 200);
  sky.setColorAt(0, QColor(0x0e, 0x1c, 0x38));
  sky.setColorAt(1, QColor(0x10, 0x3c, 0x5c));
  p.fillRect(image.rect(), sky);
  QRadialGradient glow(QPointF(60, 60), 150);
  glow.setColorAt(0, QColor(0x2a, 0x7f, 0xc0, 90));
  glow.setColorAt(1, QColor(0x2a, 0x7f, 0xc0, 0));
  p.fillRect(image.rect(), glow);

  // Sound waves spreading from the mark.
  p.setBrush(Qt::NoBrush);
  for (int i = 0; i < 5; ++i) {
    p.setPen(Stroke(QColor(0x6b, 0xe0, 0xd2, 46 - 8 * i), 2));
    const double r = 60 + 26 * i;
    p.drawEllipse(QPointF(50, 56), r, r);
  }

  p.save();
  p.translate(18, 24);
  PaintMark(p, true);
  p.restore();

  QFont title("DejaVu Sans");
  title.setPixelSize(30);
  title.setBold(true);
  p.setFont(title);
  p.setPen(Qt::white);
  p.drawText(QPointF(94, 58), "Voxhall");
  QFont second("DejaVu Sans");
  second.setPixelSize(21);
  p.setFont(second);
  p.setPen(kMint);
  p.drawText(QPointF(95, 84), "Server");

  QFont tagline("DejaVu Sans");
  tagline.setPixelSize(11);
  p.setFont(tagline);
  p.setPen(QColor(0xb4, 0xc8, 0xdf));
  p.drawText(QPointF(20, 116), "Voice conference server");

  // A voice level meter along the foot of the picture.
  const int bars = 29;
  for (int i = 0; i < bars; ++i) {
    const double level = 0.5 + 0.5 * std::sin(i * 0.7) * std::cos(i * 0.23);
    const double height = 6 + 22 * level;
    QColor color = kMint;
    color.setAlpha(90 + static_cast<int>(120 * level));
    p.fillRect(QRectF(12 + i * 7.9, 192 - height, 5, height), color);
  }
  p.setPen(QPen(QColor(0x6b, 0xe0, 0xd2, 120), 1));
  p.drawLine(QPointF(12, 160), QPointF(238, 160));
  return image;
}

bool Save(const QImage& image, const QString& path) {
  if (image.save(path, "PNG")) return true;
  std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  QGuiApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <folder>\n", argv[0]);
    return 2;
  }
  const QDir folder(QString::fromLocal8Bit(argv[1]));
  bool ok = true;
  for (int size : {16, 22, 24, 32, 48, 64, 128}) {
    ok &= Save(Draw(size, 64, [size](QPainter& p) { PaintMark(p, size >= 32); }),
               folder.filePath(QString("voxhall-%1.png").arg(size)));
  }
  const struct {
    const char* name;
    void (*paint)(QPainter&);
  } menu_images[] = {
      {"administration", PaintAdministration}, {"exit", PaintExit},
      {"update", PaintUpdate},                 {"local-ip", PaintLocalAddress},
      {"external-ip", PaintExternalAddress},   {"addresses", PaintAddresses},
  };
  for (const auto& image : menu_images) {
    for (int size : {16, 32}) {
      const QString suffix = size == 16 ? "" : "@2x";
      ok &= Save(Draw(size, 16, image.paint), folder.filePath(QString(image.name) + suffix + ".png"));
    }
  }
  ok &= Save(Splash(), folder.filePath("splash.png"));
  return ok ? 0 : 1;
}
