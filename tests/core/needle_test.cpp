#include "gauges/needle.h"

#include <gtest/gtest.h>

namespace tarvex {
namespace {

TEST(NeedleTip, MatchesTheTipTableToOneDecimal) {
  const std::tuple<const NeedleGeometry&, std::int16_t, double, double> cases[] = {
      {kSpeedoGeometry, 0, 718.9, 2151.1},    {kSpeedoGeometry, 100, 1853.1, 664.9},
      {kSpeedoGeometry, 200, 2085.8, 2519.9}, {kSpeedoGeometry, -10, 862.9, 2341.0},
      {kTachGeometry, 0, 3585.2, 1934.8},     {kTachGeometry, 3500, 4200.0, 840.0},
      {kTachGeometry, 7000, 4814.7, 1934.9},  {kTachGeometry, 8000, 4492.2, 2218.0},
  };
  for (const auto& [geometry, value, x, y] : cases) {
    const NeedleTip tip = needleTip(geometry, value);
    EXPECT_TRUE(std::abs(tip.x - x) <= 0.05 && std::abs(tip.y - y) <= 0.05)
        << value << ": " << tip.x << "," << tip.y;
  }
}

}  // namespace
}  // namespace tarvex
