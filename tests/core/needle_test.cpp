#include "gauges/needle.h"

#include <gtest/gtest.h>

namespace tarvex {
namespace {

TEST(NeedleTip, MatchesTheTipTableToOneDecimal) {
  const struct {
    const NeedleGeometry& geometry;
    std::int16_t value;
    double x, y;
  } cases[] = {
      {kSpeedoGeometry, 0, 718.9, 2151.1},    {kSpeedoGeometry, 100, 1853.1, 664.9},
      {kSpeedoGeometry, 200, 2085.8, 2519.9}, {kSpeedoGeometry, -10, 862.9, 2341.0},
      {kTachGeometry, 0, 3585.2, 1934.8},     {kTachGeometry, 3500, 4200.0, 840.0},
      {kTachGeometry, 7000, 4814.7, 1934.9},  {kTachGeometry, 8000, 4492.2, 2218.0},
  };
  for (const auto& c : cases) {
    const NeedleTip tip = needleTip(c.geometry, c.value);
    EXPECT_TRUE(std::abs(tip.x - c.x) <= 0.05 && std::abs(tip.y - c.y) <= 0.05)
        << c.value << ": " << tip.x << "," << tip.y;
  }
}

}  // namespace
}  // namespace tarvex
