#include "gauges/gauges_window.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QtEndian>
#include <algorithm>
#include <cmath>
#include <numbers>
#include <utility>
#include <vector>

#include "gauges/dial_face.h"

namespace tarvex {
namespace {

std::uint32_t le32(const QByteArray& bytes, int at) {
  return qFromLittleEndian<quint32>(reinterpret_cast<const uchar*>(bytes.constData()) + at);
}
std::uint16_t le16(const QByteArray& bytes, int at) {
  return qFromLittleEndian<quint16>(reinterpret_cast<const uchar*>(bytes.constData()) + at);
}

TEST(DialBitmap, IsAnUncompressed24BitBmpAt96Dpi) {
  const struct {
    Dial dial;
    int width, height;
  } cases[] = {{Dial::kSpeedometer, 196, 199}, {Dial::kTachometer, 150, 151}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.width);
    const QByteArray bmp = dialBitmap(c.dial);
    ASSERT_GE(bmp.size(), 54);
    EXPECT_EQ(bmp.left(2), "BM");
    EXPECT_EQ(le32(bmp, 2), static_cast<std::uint32_t>(bmp.size()));
    EXPECT_EQ(le32(bmp, 14), 40u);  // BITMAPINFOHEADER
    EXPECT_EQ(static_cast<int>(le32(bmp, 18)), c.width);
    EXPECT_EQ(static_cast<int>(le32(bmp, 22)), c.height);  // positive: bottom-up rows
    EXPECT_EQ(le16(bmp, 26), 1);                           // planes
    EXPECT_EQ(le16(bmp, 28), 24);                          // bits per pixel
    EXPECT_EQ(le32(bmp, 30), 0u);                          // BI_RGB
    EXPECT_EQ(le32(bmp, 38), 3780u);
    EXPECT_EQ(le32(bmp, 42), 3780u);
    const int stride = (c.width * 3 + 3) / 4 * 4;
    EXPECT_EQ(static_cast<int>(le32(bmp, 10)) + stride * c.height, bmp.size());
  }
}

QImage dialImage(Dial dial) {
  return QImage::fromData(dialBitmap(dial), "BMP");
}

// The angle (in needle degrees) of the mark on an arc around the face's
// centre, searched within `span` degrees of `expected`: the middle of the run
// of pixels that score lowest (a mark is a few pixels wide).
double markAngle(const QImage& image, QPointF centre, double expected, double span, double radius,
                 int (*score)(QRgb)) {
  std::vector<std::pair<double, int>> samples;
  int lowest = 1 << 30;
  for (double a = expected - span; a <= expected + span; a += 0.1) {
    const double rad = a * std::numbers::pi / 180;
    const int x = static_cast<int>(std::lround(centre.x() - radius * std::cos(rad)));
    const int y = static_cast<int>(std::lround(centre.y() - radius * std::sin(rad)));
    samples.emplace_back(a, score(image.pixel(x, y)));
    lowest = std::min(lowest, samples.back().second);
  }
  double first = 0, last = 0;
  bool found = false;
  for (const auto& [angle, s] : samples) {
    if (s > lowest + 30) continue;
    if (!found) first = angle;
    last = angle;
    found = true;
  }
  return (first + last) / 2;
}

int darkness(QRgb p) {
  return qRed(p) + qGreen(p) + qBlue(p);
}
int blueness(QRgb p) {
  return qBlue(p) * 3 - qRed(p) - qGreen(p);
}  // lowest on yellow

TEST(DialBitmap, ScaleMarksLieWhereTheNeedlePoints) {
  const QImage speedo = dialImage(Dial::kSpeedometer);
  const QImage tach = dialImage(Dial::kTachometer);
  ASSERT_FALSE(speedo.isNull());
  ASSERT_FALSE(tach.isNull());
  // The needle centres in picture pixels, as the window places the pictures.
  const QPointF speedoCentre((1590 - 120) / 15.0, (1640 - 120) / 15.0);
  const QPointF tachCentre((4200 - 3120) / 15.0, (1560 - 480) / 15.0);
  const double speedoMarks = (speedoFace().markInner + speedoFace().markOuter) / 2;
  const double tachMarks = (tachFace().markInner + tachFace().markOuter) / 2;
  const struct {
    const char* name;
    const QImage& image;
    QPointF centre;
    const NeedleGeometry& needle;
    double value, radius, span;
    int (*score)(QRgb);
  } cases[] = {
      {"tach 0", tach, tachCentre, kTachGeometry, 0, tachMarks, 10, darkness},
      {"tach 3000", tach, tachCentre, kTachGeometry, 3000, tachMarks, 10, darkness},
      {"tach 7000", tach, tachCentre, kTachGeometry, 7000, tachMarks, 10, darkness},
      {"mph 15", speedo, speedoCentre, kSpeedoGeometry, 15 * kKmPerMile, speedoMarks, 5, darkness},
      {"mph 65", speedo, speedoCentre, kSpeedoGeometry, 65 * kKmPerMile, speedoMarks, 5, darkness},
      {"mph 125", speedo, speedoCentre, kSpeedoGeometry, 125 * kKmPerMile, speedoMarks, 5, darkness},
      {"km/h 100", speedo, speedoCentre, kSpeedoGeometry, 100, 60, 5, blueness},
      {"km/h 200", speedo, speedoCentre, kSpeedoGeometry, 200, 60, 5, blueness},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const double expected = needleAngle(c.needle, c.value);
    EXPECT_NEAR(markAngle(c.image, c.centre, expected, c.span, c.radius, c.score), expected, 1.0);
  }
  // The ground is white away from the scales.
  EXPECT_EQ(speedo.pixel(1, 1), qRgb(255, 255, 255));
  EXPECT_EQ(tach.pixel(148, 1), qRgb(255, 255, 255));
}

TEST(GaugesWindow, IsBuiltFromItsLayout) {
  Gauges gauges;
  EXPECT_EQ(gauges.windowTitle(), "Gauges");
  EXPECT_EQ(gauges.size(), QSize(360, 213));
  EXPECT_EQ(gauges.palette().color(QPalette::Window), QColor(255, 255, 255));
  EXPECT_TRUE(gauges.autoFillBackground());
  const struct {
    const char* name;
    QRect geometry;
  } pictures[] = {{"Image1", QRect(8, 8, 196, 199)}, {"Image2", QRect(208, 32, 150, 151)}};
  for (const auto& p : pictures) {
    SCOPED_TRACE(p.name);
    auto* label = gauges.controls().get<QLabel>(p.name);
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->geometry(), p.geometry);
    EXPECT_EQ(label->pixmap().size(), p.geometry.size());  // natural size, nothing stretched
  }
}

TEST(GaugesWindow, NeedlesStartWhereTheLayoutPutsThem) {
  Gauges gauges;
  EXPECT_EQ(gauges.speedoNeedle(), (NeedleLine{1590, 1635, 1590, 2640}));
  EXPECT_EQ(gauges.tachNeedle(), (NeedleLine{4200, 1560, 3600, 1920}));
}

TEST(GaugesWindow, EachUpdateMovesOnlyItsOwnTip) {
  Gauges gauges;
  const NeedleLine speedoBefore = gauges.speedoNeedle();
  const NeedleLine tachBefore = gauges.tachNeedle();

  gauges.UpdateSpeed(100);
  const NeedleTip speedTip = needleTip(kSpeedoGeometry, 100);
  EXPECT_EQ(gauges.speedoNeedle(), (NeedleLine{1590, 1635, speedTip.x, speedTip.y}));
  EXPECT_EQ(gauges.tachNeedle(), tachBefore);

  gauges.UpdateTach(3500);
  const NeedleTip tachTip = needleTip(kTachGeometry, 3500);
  EXPECT_EQ(gauges.tachNeedle(), (NeedleLine{4200, 1560, tachTip.x, tachTip.y}));
  EXPECT_EQ(gauges.speedoNeedle(), (NeedleLine{1590, 1635, speedTip.x, speedTip.y}));
  EXPECT_NE(gauges.speedoNeedle(), speedoBefore);

  const NeedleLine once = gauges.tachNeedle();
  gauges.UpdateTach(3500);
  EXPECT_EQ(gauges.tachNeedle(), once);
}

TEST(GaugesWindow, NeedlesAreDrawnOverTheDials) {
  Gauges gauges;
  gauges.UpdateSpeed(100);  // up and slightly right, across the km/h scale
  gauges.UpdateTach(0);
  const QImage shot = gauges.grab().toImage();
  const auto isRed = [&](double twipsX, double twipsY) {
    const QColor c = shot.pixelColor(static_cast<int>(twipsX / 15), static_cast<int>(twipsY / 15));
    return c.red() > 200 && c.green() < 90 && c.blue() < 90;
  };
  // Points along each needle, well inside the dial pictures.
  for (double f : {0.3, 0.6, 0.9}) {
    const NeedleLine s = gauges.speedoNeedle();
    EXPECT_TRUE(isRed(s.x1 + (s.x2 - s.x1) * f, s.y1 + (s.y2 - s.y1) * f)) << "speedo " << f;
    const NeedleLine t = gauges.tachNeedle();
    EXPECT_TRUE(isRed(t.x1 + (t.x2 - t.x1) * f, t.y1 + (t.y2 - t.y1) * f)) << "tach " << f;
  }
}

TEST(GaugesWindow, ClosedWindowCountsAsNotVisible) {
  Gauges gauges;
  EXPECT_FALSE(gauges.gaugesVisible());
  gauges.show();
  EXPECT_TRUE(gauges.gaugesVisible());
  gauges.close();
  EXPECT_FALSE(gauges.gaugesVisible());
}

}  // namespace
}  // namespace tarvex
