#include "gauges/needle.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>

#include "gauges/dial_face.h"

namespace tarvex {
namespace {

TEST(NeedleTip, MatchesTheTipTableToOneDecimal) {
  const struct {
    const char* name;
    const NeedleGeometry& geometry;
    std::int16_t value;
    double angle, x, y;
  } cases[] = {
      {"speed 0", kSpeedoGeometry, 0, -30.4, 718.9, 2151.1},
      {"speed 100", kSpeedoGeometry, 100, 105.1, 1853.1, 664.9},
      {"speed 200", kSpeedoGeometry, 200, 240.6, 2085.8, 2519.9},
      {"speed -10", kSpeedoGeometry, -10, -43.95, 862.9, 2341.0},
      {"rpm 0", kTachGeometry, 0, -31.37, 3585.2, 1934.8},
      {"rpm 3500", kTachGeometry, 3500, 90.003, 4200.0, 840.0},
      {"rpm 7000", kTachGeometry, 7000, 211.376, 4814.7, 1934.9},
      {"rpm 8000", kTachGeometry, 8000, 246.054, 4492.2, 2218.0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_NEAR(needleAngle(c.geometry, c.value), c.angle, 1e-9);
    const NeedleTip tip = needleTip(c.geometry, c.value);
    EXPECT_NEAR(tip.x, c.x, 0.05);
    EXPECT_NEAR(tip.y, c.y, 0.05);
  }
}

TEST(NeedleTip, RoundsTheDoubleResultToSinglePrecision) {
  // Computed here the long way: double arithmetic, 8-decimal pi, then float.
  for (std::int16_t value : {std::int16_t{0}, std::int16_t{37}, std::int16_t{255}, std::int16_t{-1234}}) {
    const double radians = (value * 1.355 + -30.4) * 3.14159265 / 180;
    const NeedleTip tip = needleTip(kSpeedoGeometry, value);
    EXPECT_EQ(tip.x, static_cast<float>(1590 - 1010 * std::cos(radians))) << value;
    EXPECT_EQ(tip.y, static_cast<float>(1640 - 1010 * std::sin(radians))) << value;
  }
}

TEST(NeedleTip, StaysInsideItsBoxForEverySixteenBitValue) {
  const struct {
    const char* name;
    const NeedleGeometry& geometry;
    float left, right, top, bottom;
  } boxes[] = {
      {"speedometer", kSpeedoGeometry, 580, 2600, 630, 2650},
      {"tachometer", kTachGeometry, 3480, 4920, 840, 2280},
  };
  for (const auto& box : boxes) {
    SCOPED_TRACE(box.name);
    int outside = 0;
    for (int v = std::numeric_limits<std::int16_t>::min(); v <= std::numeric_limits<std::int16_t>::max();
         ++v) {
      const NeedleTip tip = needleTip(box.geometry, static_cast<std::int16_t>(v));
      const bool inside = std::isfinite(tip.x) && std::isfinite(tip.y) && tip.x >= box.left &&
                          tip.x <= box.right && tip.y >= box.top && tip.y <= box.bottom;
      if (!inside && outside++ < 3) ADD_FAILURE() << "value " << v << " tip " << tip.x << ", " << tip.y;
    }
    EXPECT_EQ(outside, 0);
  }
}

TEST(NeedleTip, LargestInputTurnsManyCirclesAndStaysOnTheCircle) {
  EXPECT_NEAR(needleAngle(kSpeedoGeometry, 32767), 44368.885, 1e-6);
  const NeedleTip tip = needleTip(kSpeedoGeometry, 32767);
  EXPECT_NEAR(std::hypot(tip.x - 1590.0, tip.y - 1640.0), 1010.0, 0.01);
}

TEST(DialFace, CentresAreThePivotPixelsOfThePictures) {
  EXPECT_DOUBLE_EQ(speedoFace().centreX(), 98);
  EXPECT_NEAR(speedoFace().centreY(), 101 + 1.0 / 3, 1e-12);
  EXPECT_DOUBLE_EQ(tachFace().centreX(), 72);
  EXPECT_DOUBLE_EQ(tachFace().centreY(), 72);
}

TEST(DialFace, MarksFollowTheNeedleDirections) {
  const struct {
    const char* name;
    const DialFace& face;
    double value, radius;
    double x, y;
  } cases[] = {
      // 3500 rpm straight up; 0 and 7000 mirror each other about the vertical.
      {"tach 3500", tachFace(), 3500, 60, 72.0, 12.0},
      {"tach 0", tachFace(), 0, 60, 72 - 60 * std::cos(31.37 * std::numbers::pi / 180),
       72 + 60 * std::sin(31.37 * std::numbers::pi / 180)},
      {"tach 7000", tachFace(), 7000, 60, 72 + 60 * std::cos(31.376 * std::numbers::pi / 180),
       72 + 60 * std::sin(31.376 * std::numbers::pi / 180)},
      // 100 km/h at 105.1 degrees, just right of the top.
      {"speed 100", speedoFace(), 100, 60, 98 + 60 * std::cos(74.9 * std::numbers::pi / 180),
       101 + 1.0 / 3 - 60 * std::sin(74.9 * std::numbers::pi / 180)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_NEAR(c.face.pointX(c.value, c.radius), c.x, 0.01);
    EXPECT_NEAR(c.face.pointY(c.value, c.radius), c.y, 0.01);
  }
}

TEST(DialFace, NeedleTipInPixelsLiesOnTheDialDirection) {
  // The window draws the needle in twips; the face prints marks in pixels.
  // Both must meet: the tip for a value, taken into picture pixels, is the
  // dial point for that value at the needle's length.
  const struct {
    const DialFace& face;
    const NeedleGeometry& geometry;
    double left, top;
    std::int16_t value;
  } cases[] = {
      {speedoFace(), kSpeedoGeometry, 120, 120, 60},
      {speedoFace(), kSpeedoGeometry, 120, 120, 180},
      {tachFace(), kTachGeometry, 3120, 480, 2500},
      {tachFace(), kTachGeometry, 3120, 480, 6500},
  };
  for (const auto& c : cases) {
    const NeedleTip tip = needleTip(c.geometry, c.value);
    const double radius = c.geometry.length / 15;
    EXPECT_NEAR((tip.x - c.left) / 15, c.face.pointX(c.value, radius), 0.01) << c.value;
    EXPECT_NEAR((tip.y - c.top) / 15, c.face.pointY(c.value, radius), 0.01) << c.value;
  }
}

}  // namespace
}  // namespace tarvex
