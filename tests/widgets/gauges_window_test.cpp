#include "gauges/gauges_window.h"

#include <gtest/gtest.h>

#include <QImage>
#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

#include "gauges/dial_face.h"
#include "tests/support/layout_check.h"

namespace tarvex {
namespace {

TEST(DialBitmap, ScaleMarksLieWhereTheNeedlePoints) {
  // The needle for 0, 3000, 7000 rpm, 15, 65, 125 mph, 100, 200 km/h (degrees clockwise from left).
  // The dial, the needle's angle, the mark's radius, the arc searched either side, yellow (km/h) or dark.
  const std::tuple<Dial, double, double, double, bool> cases[] = {
      {Dial::kTachometer, -31.37, 61.5, 10, false},    {Dial::kTachometer, 72.664, 61.5, 10, false},
      {Dial::kTachometer, 211.376, 61.5, 10, false},   {Dial::kSpeedometer, 2.30992, 87.5, 5, false},
      {Dial::kSpeedometer, 111.34297, 87.5, 5, false}, {Dial::kSpeedometer, 242.18264, 87.5, 5, false},
      {Dial::kSpeedometer, 105.1, 60, 5, true},        {Dial::kSpeedometer, 240.6, 60, 5, true},
  };
  for (const auto& [dial, angle, radius, span, yellow] : cases) {
    // Centred where the window puts the needle; the mark: the lowest run on the arc.
    const bool tach = dial == Dial::kTachometer;
    const NeedleGeometry& needle = tach ? kTachGeometry : kSpeedoGeometry;
    const QImage image = QImage::fromData(dialBitmap(dial), "BMP");
    const double cx = (needle.centreX - (tach ? 3120 : 120)) / 15,
                 cy = (needle.centreY - (tach ? 480 : 120)) / 15;
    std::vector<std::pair<int, double>> arc;
    for (double a = angle - span; a <= angle + span; a += 0.1) {
      const double rad = a * std::numbers::pi / 180;
      const QRgb p = image.pixel(int(std::lround(cx - radius * std::cos(rad))),
                                 int(std::lround(cy - radius * std::sin(rad))));
      arc.emplace_back(yellow ? qBlue(p) * 3 - qRed(p) - qGreen(p) : qRed(p) + qGreen(p) + qBlue(p), a);
    }
    const int lowest = std::min_element(arc.begin(), arc.end())->first;
    auto inMark = [&](const auto& sample) { return sample.first <= lowest + 30; };
    const double first = std::find_if(arc.begin(), arc.end(), inMark)->second;
    const double last = std::find_if(arc.rbegin(), arc.rend(), inMark)->second;
    EXPECT_NEAR((first + last) / 2, angle, 1.0);
  }
}

TEST(GaugesWindow, IsBuiltFromItsLayoutAndEachUpdateMovesOnlyItsOwnTip) {
  Gauges gauges;
  testing::expectBuiltFromLayout(gauges, gaugesLayout());
  const NeedleLine tachAtStart{4200, 1560, 3600, 1920};
  EXPECT_EQ(gauges.speedoNeedle(), (NeedleLine{1590, 1635, 1590, 2640}));
  EXPECT_EQ(gauges.tachNeedle(), tachAtStart);
  auto tipNear = [](const NeedleLine& needle, float x1, float y1, double x2, double y2) {
    return needle.x1 == x1 && needle.y1 == y1 && std::abs(needle.x2 - x2) < 0.05 &&
           std::abs(needle.y2 - y2) < 0.05;
  };
  gauges.UpdateSpeed(100);
  EXPECT_TRUE(tipNear(gauges.speedoNeedle(), 1590, 1635, 1853.11, 664.87));
  EXPECT_EQ(gauges.tachNeedle(), tachAtStart);
  gauges.UpdateTach(3500);
  EXPECT_TRUE(tipNear(gauges.tachNeedle(), 4200, 1560, 4200.0, 840.0));
  EXPECT_TRUE(tipNear(gauges.speedoNeedle(), 1590, 1635, 1853.11, 664.87));
}

}  // namespace
}  // namespace tarvex
