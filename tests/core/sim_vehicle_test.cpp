#include <gtest/gtest.h>

#include "sim/vehicle.h"

namespace tarvex {
namespace {

using sim::Vehicle;
using sim::VehicleState;

TEST(SimVehicle, WarmsUpFromAColdStart) {
  Vehicle v;
  const VehicleState cold = v.stateAt(Millis{0});
  EXPECT_LT(cold.coolantC, 30);
  EXPECT_EQ(cold.fuelStatus[0], sim::kOpenLoop);
  double coolant = cold.coolantC;
  for (int s = 1; s <= 1800; ++s) {
    ASSERT_GE(v.stateAt(Millis{s * 1000}).coolantC, coolant) << s;
    coolant = v.stateAt(Millis{s * 1000}).coolantC;
  }
  EXPECT_NEAR(coolant, 90, 5);
  const VehicleState warm = v.stateAt(v.launchStart(6) - Millis{1000});
  EXPECT_GT(cold.rpm, warm.rpm + 200);  // cold idle runs faster
  EXPECT_EQ(warm.fuelStatus[0], sim::kClosedLoop);
}

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

TEST(SimVehicle, StandardPidsCarryTheEnhancedValues) {
  Vehicle v;
  const std::pair<std::uint8_t, std::uint16_t> same[] = {{0x0C, 0x000C}, {0x0D, 0x000D}, {0x05, 0x0005},
                                                         {0x0F, 0x000F}, {0x10, 0x0010}, {0x11, 0x0011}};
  for (std::int64_t t = 0; t < 200'000; t += 313) {
    for (auto [pid, id] : same)
      EXPECT_EQ(v.obdData(pid, Millis{t}), v.enhancedData(id, Millis{t})) << int(pid);
    EXPECT_NEAR(std::uint8_t(v.obdData(0x0D, Millis{t})->at(0)), v.stateAt(Millis{t}).speedKmh, 0.5) << t;
  }
}

}  // namespace
}  // namespace tarvex
