// Draws the two dial faces of the gauge window and writes them as 24-bit BMP
// files. Run at build time; the pictures are then compiled into the program.

#include <QColor>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QString>
#include <cstdio>

#include "gauges/dial_face.h"
#include "ui/layouts.h"

namespace tarvex {
namespace {

constexpr int kDotsPerMetre = 3780;  // 96 dpi
const QColor kInk(0, 0, 0);
const QColor kKmhYellow(232, 186, 0);  // plain yellow would vanish on white
const QColor kBezel(90, 90, 90);

QPointF at(const DialFace& face, double value, double radius) {
  return {face.pointX(value, radius), face.pointY(value, radius)};
}

void mark(QPainter& p, const DialFace& face, double value, double inner, double outer, const QColor& colour,
          double width) {
  p.setPen(QPen(colour, width, Qt::SolidLine, Qt::FlatCap));
  p.drawLine(at(face, value, inner), at(face, value, outer));
}

void number(QPainter& p, const DialFace& face, double value, double radius, const QString& text) {
  const QPointF c = at(face, value, radius);
  const QRectF box(c.x() - 20, c.y() - 10, 40, 20);
  p.drawText(box, Qt::AlignCenter, text);
}

// Arc along the scale from value `from` to value `to`, drawn as short chords
// so that it follows the needle's mapping exactly.
void scaleArc(QPainter& p, const DialFace& face, double from, double to, double radius, const QPen& pen) {
  QPainterPath path(at(face, from, radius));
  const int steps = 200;
  for (int i = 1; i <= steps; ++i) path.lineTo(at(face, from + (to - from) * i / steps, radius));
  p.setPen(pen);
  p.setBrush(Qt::NoBrush);
  p.drawPath(path);
}

QImage blankFace(const DialFace& face) {
  QImage image(face.width, face.height, QImage::Format_RGB32);
  image.fill(Qt::white);
  image.setDotsPerMeterX(kDotsPerMetre);
  image.setDotsPerMeterY(kDotsPerMetre);
  return image;
}

QFont dialFont(int pixels, bool bold) {
  QFont font(QStringLiteral("DejaVu Sans"));
  font.setPixelSize(pixels);
  font.setBold(bold);
  return font;
}

// Smooth drawing, and the rim of the face; returns the pivot.
QPointF bezel(QPainter& p, const DialFace& face, double radius) {
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::TextAntialiasing);
  const QPointF centre(face.centreX(), face.centreY());
  p.setPen(QPen(kBezel, 1.5));
  p.setBrush(Qt::NoBrush);
  p.drawEllipse(centre, radius, radius);
  return centre;
}

void hub(QPainter& p, const DialFace& face, double radius) {
  p.setPen(Qt::NoPen);
  p.setBrush(kInk);
  p.drawEllipse(QPointF(face.centreX(), face.centreY()), radius, radius);
}

// Each face is drawn for the place the gauge window gives its picture.
DialFace faceAt(DialFace (*face)(int, int), std::string_view picture) {
  const ControlSpec* at = gaugesLayout().control(picture);
  return face(at->left, at->top);
}

QImage drawSpeedometer() {
  const DialFace face = faceAt(&speedoFace, "Image1");
  QImage image = blankFace(face);
  QPainter p(&image);
  bezel(p, face, 95.5);

  // Outer scale: mph, black, numbered every 10 from 15 to 125.
  scaleArc(p, face, 15 * kKmPerMile, 125 * kKmPerMile, face.markOuter, QPen(kInk, 1));
  p.setFont(dialFont(9, true));
  for (int mph = 15; mph <= 125; mph += 10) {
    mark(p, face, mph * kKmPerMile, face.markInner, face.markOuter, kInk, 2.2);
    p.setPen(kInk);
    number(p, face, mph * kKmPerMile, 71, QString::number(mph));
  }
  for (int mph = 20; mph <= 120; mph += 10) mark(p, face, mph * kKmPerMile, 87, face.markOuter, kInk, 1);

  // Inner scale: km/h, yellow, numbered every 20 from 20 to 200.
  scaleArc(p, face, 20, 200, 64, QPen(kKmhYellow, 1));
  p.setFont(dialFont(8, true));
  for (int kmh = 20; kmh <= 200; kmh += 20) {
    mark(p, face, kmh, 56, 64, kKmhYellow, 2);
    p.setPen(kKmhYellow);
    number(p, face, kmh, 47, QString::number(kmh));
  }
  for (int kmh = 30; kmh <= 190; kmh += 20) mark(p, face, kmh, 60, 64, kKmhYellow, 1);

  // Legends at the lower left, km/h above mph.
  p.setFont(dialFont(10, true));
  p.setPen(kKmhYellow);
  p.drawText(QRectF(24, 140, 50, 14), Qt::AlignCenter, QStringLiteral("km/h"));
  p.setPen(kInk);
  p.drawText(QRectF(24, 154, 50, 14), Qt::AlignCenter, QStringLiteral("mph"));

  hub(p, face, 6);
  return image;
}

QColor tachBandColour(double rpm) {
  if (rpm >= 6000) return QColor(255, 128, 0);
  const float t = static_cast<float>((rpm - 1000) / 5000);
  const QColor green(20, 170, 40), yellow(245, 215, 0);
  return QColor::fromRgbF(green.redF() + (yellow.redF() - green.redF()) * t,
                          green.greenF() + (yellow.greenF() - green.greenF()) * t,
                          green.blueF() + (yellow.blueF() - green.blueF()) * t);
}

QImage drawTachometer() {
  const DialFace face = faceAt(&tachFace, "Image2");
  QImage image = blankFace(face);
  QPainter p(&image);
  const QPointF centre = bezel(p, face, 70.5);

  // Coloured band from 1000 to 7000 rpm, in short overlapping pieces.
  const int step = 50;
  for (int rpm = 1000; rpm < 7000; rpm += step) {
    QPen pen(tachBandColour(rpm + step / 2.0), 6, Qt::SolidLine, Qt::FlatCap);
    scaleArc(p, face, rpm, std::min(rpm + step * 1.5, 7000.0), 63, pen);
  }

  p.setFont(dialFont(12, true));
  for (int thousand = 0; thousand <= 7; ++thousand) {
    mark(p, face, thousand * 1000, face.markInner, face.markOuter, kInk, 2.5);
    p.setPen(kInk);
    number(p, face, thousand * 1000, 44, QString::number(thousand));
  }
  p.setPen(Qt::NoPen);
  p.setBrush(kInk);
  for (int rpm = 500; rpm < 7000; rpm += 1000) p.drawEllipse(at(face, rpm, 63), 1.8, 1.8);

  p.setFont(dialFont(8, false));
  p.setPen(kInk);
  p.drawText(QRectF(centre.x() - 30, 44, 60, 12), Qt::AlignCenter, QStringLiteral("x1000 rpm"));

  hub(p, face, 5);
  return image;
}

}  // namespace
}  // namespace tarvex

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s SPEEDOMETER.bmp TACHOMETER.bmp\n", argv[0]);
    return 2;
  }
  QGuiApplication app(argc, argv);
  const bool ok = tarvex::drawSpeedometer().save(QString::fromLocal8Bit(argv[1]), "BMP") &&
                  tarvex::drawTachometer().save(QString::fromLocal8Bit(argv[2]), "BMP");
  if (!ok) {
    std::fprintf(stderr, "%s: cannot write the dial pictures\n", argv[0]);
    return 1;
  }
  return 0;
}
