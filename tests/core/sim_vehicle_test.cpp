#include <gtest/gtest.h>

#include "sim/vehicle.h"

namespace tarvex {
namespace {

using sim::Vehicle;

// The car's own figures agree with its speed integrated every 10 ms, and hit the marks.
TEST(SimVehicle, LaunchHitsItsMarks) {
  Vehicle v;
  const Millis t0 = v.launchStart(6);
  double km = 0, prev = v.stateAt(t0).speedKmh, t100 = 0, quarter = 0, trap = 0;
  EXPECT_EQ(prev, 0);
  for (int i = 1; i <= 20'000 && quarter == 0; ++i) {
    const double kmh = v.stateAt(t0 + Millis{i * 10}).speedKmh;
    km += (prev + kmh) / 2 * 0.01 / 3600;
    if (t100 == 0 && kmh >= 100) t100 = i * 0.01;
    if (km >= kQuarterMileKm) quarter = i * 0.01, trap = kmh;
    prev = kmh;
  }
  const sim::LaunchFigures f = v.launchFigures();
  EXPECT_NEAR(f.zeroTo100Seconds, 7.0, 0.5);
  EXPECT_NEAR(f.quarterMileSeconds, 15.0, 0.5);
  EXPECT_NEAR(f.trapSpeedKmh, 150, 6);
  EXPECT_NEAR(f.zeroTo100Seconds, t100, 0.02);
  EXPECT_NEAR(f.quarterMileSeconds, quarter, 0.02);
  EXPECT_NEAR(f.trapSpeedKmh, trap, 0.5);
}

}  // namespace
}  // namespace tarvex
