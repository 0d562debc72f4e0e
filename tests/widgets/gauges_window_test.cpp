#include "gauges/gauges_window.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QtEndian>
#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

#include "gauges/dial_face.h"
#include "tests/support/layout_check.h"

namespace tarvex {
namespace {

TEST(DialBitmap, IsAnUncompressed24BitBmpAt96Dpi) {
  for (const auto& [dial, width, height] :
       {std::tuple{Dial::kSpeedometer, 196, 199}, {Dial::kTachometer, 150, 151}}) {
    const QByteArray bmp = dialBitmap(dial);
    ASSERT_GE(bmp.size(), 54);
    auto le32 = [&](int at) { return int(qFromLittleEndian<qint32>(bmp.constData() + at)); };
    EXPECT_EQ(bmp.left(2), "BM");
    // File size; info header size, width, height (positive: bottom-up), one
    // plane and 24 bits per pixel, BI_RGB; 3780 pixels per metre both ways.
    EXPECT_EQ((std::vector{le32(2), le32(14), le32(18), le32(22), le32(26), le32(30), le32(38), le32(42)}),
              (std::vector{int(bmp.size()), 40, width, height, 1 | (24 << 16), 0, 3780, 3780}));
    EXPECT_EQ(le32(10) + (width * 3 + 3) / 4 * 4 * height, bmp.size());
  }
}

TEST(DialBitmap, ScaleMarksLieWhereTheNeedlePoints) {
  const double speedoMarks = (speedoFace().markInner + speedoFace().markOuter) / 2;
  const double tachMarks = (tachFace().markInner + tachFace().markOuter) / 2;
  const struct {
    Dial dial;
    double value, radius, span;
    bool yellow;  // the km/h marks are yellow, the others dark
  } cases[] = {
      {Dial::kTachometer, 0, tachMarks, 10, false},
      {Dial::kTachometer, 3000, tachMarks, 10, false},
      {Dial::kTachometer, 7000, tachMarks, 10, false},
      {Dial::kSpeedometer, 15 * kKmPerMile, speedoMarks, 5, false},
      {Dial::kSpeedometer, 65 * kKmPerMile, speedoMarks, 5, false},
      {Dial::kSpeedometer, 125 * kKmPerMile, speedoMarks, 5, false},
      {Dial::kSpeedometer, 100, 60, 5, true},
      {Dial::kSpeedometer, 200, 60, 5, true},
  };
  for (const auto& c : cases) {
    // Centred where the window puts the needle; the mark: the lowest run on the arc.
    const bool tach = c.dial == Dial::kTachometer;
    const NeedleGeometry& needle = tach ? kTachGeometry : kSpeedoGeometry;
    const QImage image = QImage::fromData(dialBitmap(c.dial), "BMP");
    const double cx = (needle.centreX - (tach ? 3120 : 120)) / 15,
                 cy = (needle.centreY - (tach ? 480 : 120)) / 15;
    const double expected = needleAngle(needle, c.value);
    std::vector<std::pair<int, double>> arc;
    for (double a = expected - c.span; a <= expected + c.span; a += 0.1) {
      const double rad = a * std::numbers::pi / 180;
      const QRgb p = image.pixel(int(std::lround(cx - c.radius * std::cos(rad))),
                                 int(std::lround(cy - c.radius * std::sin(rad))));
      arc.emplace_back(c.yellow ? qBlue(p) * 3 - qRed(p) - qGreen(p) : qRed(p) + qGreen(p) + qBlue(p), a);
    }
    const int lowest = std::min_element(arc.begin(), arc.end())->first;
    auto inMark = [&](const auto& sample) { return sample.first <= lowest + 30; };
    const double first = std::find_if(arc.begin(), arc.end(), inMark)->second;
    const double last = std::find_if(arc.rbegin(), arc.rend(), inMark)->second;
    EXPECT_NEAR((first + last) / 2, expected, 1.0) << c.value;
  }
}

TEST(GaugesWindow, IsBuiltFromItsLayoutAndEachUpdateMovesOnlyItsOwnTip) {
  Gauges gauges;
  testing::expectBuiltFromLayout(gauges, gaugesLayout());
  const NeedleLine tachAtStart{4200, 1560, 3600, 1920};
  EXPECT_EQ(gauges.speedoNeedle(), (NeedleLine{1590, 1635, 1590, 2640}));
  EXPECT_EQ(gauges.tachNeedle(), tachAtStart);
  gauges.UpdateSpeed(100);
  const NeedleLine speedo{1590, 1635, needleTip(kSpeedoGeometry, 100).x, needleTip(kSpeedoGeometry, 100).y};
  EXPECT_EQ(gauges.speedoNeedle(), speedo);
  EXPECT_EQ(gauges.tachNeedle(), tachAtStart);
  gauges.UpdateTach(3500);
  EXPECT_EQ(gauges.tachNeedle(),
            (NeedleLine{4200, 1560, needleTip(kTachGeometry, 3500).x, needleTip(kTachGeometry, 3500).y}));
  EXPECT_EQ(gauges.speedoNeedle(), speedo);
}

}  // namespace
}  // namespace tarvex
