#include <gtest/gtest.h>

#include <cmath>
#include <set>

#include "sim/vehicle.h"

namespace tarvex {
namespace {

using sim::DrivePhase;
using sim::Vehicle;
using sim::VehicleState;

Millis ms(double seconds) {
  return Millis{std::int64_t(std::llround(seconds * 1000))};
}

// The first launch starts cold; a later one has the engine warm.
Millis warmLaunch(const Vehicle& v) {
  return v.launchStart(6);
}

TEST(SimVehicle, WarmsUpFromColdStart) {
  Vehicle v;
  const VehicleState start = v.stateAt(Millis{0});
  EXPECT_LT(start.coolantC, 30);
  EXPECT_EQ(start.fuelStatus[0], sim::kOpenLoop);
  double coolant = start.coolantC;
  for (int s = 1; s <= 1800; ++s) {
    const double c = v.stateAt(Millis{s * 1000}).coolantC;
    ASSERT_GE(c, coolant) << s;
    coolant = c;
  }
  EXPECT_GT(coolant, 85);
  EXPECT_LT(coolant, 95);
  // Parked, the intake air only heats up.
  double iat = start.intakeAirC;
  for (Millis t{0}; t < v.config().idleBeforeDrive; t += Millis{500}) {
    const double a = v.stateAt(t).intakeAirC;
    ASSERT_GE(a, iat);
    iat = a;
  }
  // Cold idle runs faster than warm idle.
  EXPECT_GT(start.rpm, v.stateAt(warmLaunch(v) - Millis{1000}).rpm + 200);
}

// The car's own drag strip figures, from its speed integrated every 10 ms.
TEST(SimVehicle, LaunchHitsItsMarks) {
  Vehicle v;
  const Millis t0 = warmLaunch(v);
  double distanceKm = 0;
  double prev = v.stateAt(t0).speedKmh;
  EXPECT_EQ(prev, 0);
  double t100 = 0;
  double quarter = 0;
  double trap = 0;
  for (int i = 1; i <= 20'000 && quarter == 0; ++i) {
    const double kmh = v.stateAt(t0 + Millis{i * 10}).speedKmh;
    distanceKm += (prev + kmh) / 2 * 0.01 / 3600;
    if (t100 == 0 && kmh >= 100) t100 = i * 0.01;
    if (distanceKm >= sim::kQuarterMileKm) {
      quarter = i * 0.01;
      trap = kmh;
    }
    prev = kmh;
  }
  EXPECT_NEAR(t100, 7.0, 0.5);
  EXPECT_NEAR(quarter, 15.0, 0.5);
  EXPECT_NEAR(trap, 150, 6);

  const sim::LaunchFigures f = v.launchFigures();
  EXPECT_NEAR(f.zeroTo100Seconds, t100, 0.02);
  EXPECT_NEAR(f.quarterMileSeconds, quarter, 0.02);
  EXPECT_NEAR(f.trapSpeedKmh, trap, 0.5);
}

TEST(SimVehicle, DriveCycleRepeatsAndShiftsThroughTheGears) {
  Vehicle v;
  EXPECT_EQ(v.launchStart(1) - v.launchStart(0), v.cycleLength());
  std::vector<int> gears;
  int rpmDrops = 0;
  for (int i = 0; i < 1600; ++i) {
    const Millis at = v.launchStart(2) + Millis{i * 10};
    const VehicleState s = v.stateAt(at);
    ASSERT_EQ(s.phase, DrivePhase::Launch);
    EXPECT_DOUBLE_EQ(s.speedKmh, v.stateAt(v.launchStart(4) + Millis{i * 10}).speedKmh);
    if (!gears.empty() && gears.back() != s.gear) {
      // Each upshift pulls the engine speed down by a gear ratio step.
      const double before = v.stateAt(at - Millis{400}).rpm;
      const double after = v.stateAt(at + Millis{400}).rpm;
      if (after < before - 1000) ++rpmDrops;
    }
    if (gears.empty() || gears.back() != s.gear) gears.push_back(s.gear);
    EXPECT_GT(s.throttlePct, i > 20 ? 95 : 0);
    EXPECT_LE(s.rpm, 6000);
  }
  EXPECT_EQ(gears, (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(rpmDrops, 2);

  // Before the launch it stands still in gear; after it, it comes to a stop.
  EXPECT_EQ(v.stateAt(v.launchStart(2) - Millis{100}).phase, DrivePhase::Stand);
  EXPECT_EQ(v.stateAt(v.launchStart(2) - Millis{100}).speedKmh, 0);
  EXPECT_EQ(v.stateAt(v.launchStart(3) - v.config().standStill + Millis{10}).speedKmh, 0);
  EXPECT_EQ(v.stateAt(Millis{1000}).gear, 0);
}

TEST(SimVehicle, SignalsMoveAsOnARunningEngine) {
  Vehicle v;
  const Millis stand = warmLaunch(v) - v.config().standStill;
  double o2Min = 9, o2Max = 0, trimMin = 99, trimMax = -99;
  for (int i = 0; i < 300; ++i) {
    const VehicleState s = v.stateAt(stand + Millis{i * 20});
    ASSERT_EQ(s.fuelStatus[0], sim::kClosedLoop);
    o2Min = std::min(o2Min, s.o2Volts[0]);
    o2Max = std::max(o2Max, s.o2Volts[0]);
    trimMin = std::min(trimMin, s.shortTrimPct[0]);
    trimMax = std::max(trimMax, s.shortTrimPct[0]);
    EXPECT_NEAR(s.batteryVolts, 14.2, 0.3);
    EXPECT_NEAR(s.airFuelRatio, 14.7, 0.4);
  }
  EXPECT_LT(o2Min, 0.2);
  EXPECT_GT(o2Max, 0.8);
  EXPECT_LT(trimMin, -1);
  EXPECT_GT(trimMax, 1);
  EXPECT_GT(trimMax - trimMin, 2);
  EXPECT_LT(trimMax - trimMin, 12);

  // The exhaust gas valve works while cruising, and follows its command late.
  std::set<int> egr;
  const Millis cruise = warmLaunch(v) + Millis{16'500};
  for (int i = 0; i < 60; ++i) {
    const VehicleState s = v.stateAt(cruise + Millis{i * 100});
    ASSERT_EQ(s.phase, DrivePhase::Cruise);
    egr.insert(int(s.egrActualPct));
    if (i > 10) {
      EXPECT_GT(s.egrDesiredPct, 5);
    }
  }
  EXPECT_GT(egr.size(), 5u);
  EXPECT_EQ(v.stateAt(warmLaunch(v) + Millis{5000}).egrDesiredPct, 0);

  // Full throttle enriches; knock retard shows somewhere in the pull.
  const VehicleState wot = v.stateAt(warmLaunch(v) + Millis{5000});
  EXPECT_EQ(wot.fuelStatus[0], sim::kOpenLoopDriving);
  EXPECT_GT(wot.o2Volts[0], 0.8);
  EXPECT_GT(wot.mapKpa, 90);
  EXPECT_GT(wot.loadPct, 85);
  double kr = 0;
  for (int i = 0; i < 1600; ++i) kr = std::max(kr, v.stateAt(warmLaunch(v) + Millis{i * 10}).knockRetardDeg);
  EXPECT_GT(kr, 0);
}

// The data bytes decoded as the program decodes them give the model's values.
TEST(SimVehicle, DataBytesDecodeToTheModelsValues) {
  struct Case {
    std::uint16_t id;
    std::function<double(const QByteArray&)> decode;
    std::function<double(const VehicleState&)> value;
    double tolerance;
  };
  auto n = [](const QByteArray& b) {
    double v = 0;
    for (char c : b) v = v * 256 + std::uint8_t(c);
    return v;
  };
  auto a = [](const QByteArray& b) { return double(std::uint8_t(b[0])); };
  auto bb = [](const QByteArray& b) { return double(std::uint8_t(b[1])); };
  const Case cases[] = {
      {0x000C, [&](auto& b) { return n(b) / 4; }, [](auto& s) { return s.rpm; }, 0.125},
      {0x000D, n, [](auto& s) { return s.speedKmh; }, 0.5},
      {0x000F, [&](auto& b) { return n(b) - 40; }, [](auto& s) { return s.intakeAirC; }, 0.5},
      {0x0011, [&](auto& b) { return n(b) / 2.55; }, [](auto& s) { return s.throttlePct; }, 0.2},
      {0x0004, [&](auto& b) { return n(b) / 2.55; }, [](auto& s) { return s.loadPct; }, 0.2},
      {0x0010, [&](auto& b) { return n(b) / 100; }, [](auto& s) { return s.mafGramsPerSec; }, 0.005},
      {0x0005, [&](auto& b) { return n(b) - 40; }, [](auto& s) { return s.coolantC; }, 0.5},
      {0x0006, [&](auto& b) { return n(b) / 1.28 - 100; }, [](auto& s) { return s.shortTrimPct[0]; }, 0.4},
      {0x0007, [&](auto& b) { return n(b) / 1.28 - 100; }, [](auto& s) { return s.longTrimPct[0]; }, 0.4},
      {0x0008, [&](auto& b) { return n(b) / 1.28 - 100; }, [](auto& s) { return s.shortTrimPct[1]; }, 0.4},
      {0x0009, [&](auto& b) { return n(b) / 1.28 - 100; }, [](auto& s) { return s.longTrimPct[1]; }, 0.4},
      {0x11A1, n, [](auto& s) { return s.runSeconds; }, 0},
      {0x000B, n, [](auto& s) { return s.mapKpa; }, 0.5},
      {0x000E, [&](auto& b) { return n(b) / 2 - 64; }, [](auto& s) { return s.timingDeg; }, 0.25},
      {0x125D, n, [](auto& s) { return s.knockRetardDeg; }, 0.5},
      {0x19F5, n, [](auto& s) { return s.gear; }, 0},
      {0x1141, [&](auto& b) { return n(b) / 10; }, [](auto& s) { return s.batteryVolts; }, 0.05},
      {0x119E, [&](auto& b) { return n(b) / 10; }, [](auto& s) { return s.airFuelRatio; }, 0.05},
      {0x0014, [&](auto& b) { return a(b) / 200; }, [](auto& s) { return s.o2Volts[0]; }, 0.0025},
      {0x0014, [&](auto& b) { return bb(b) * 100 / 128 - 100; }, [](auto& s) { return s.shortTrimPct[0]; },
       0.4},
      {0x0015, [&](auto& b) { return a(b) / 200; }, [](auto& s) { return s.o2Volts[1]; }, 0.0025},
      {0x0018, [&](auto& b) { return a(b) / 200; }, [](auto& s) { return s.o2Volts[2]; }, 0.0025},
      {0x0018, [&](auto& b) { return bb(b) * 100 / 128 - 100; }, [](auto& s) { return s.shortTrimPct[1]; },
       0.4},
      {0x0019, [&](auto& b) { return a(b) / 200; }, [](auto& s) { return s.o2Volts[3]; }, 0.0025},
      {0x0003, a, [](auto& s) { return s.fuelStatus[0]; }, 0},
      {0x0003, bb, [](auto& s) { return s.fuelStatus[1]; }, 0},
      {0x119B, [&](auto& b) { return n(b) / 2.55; }, [](auto& s) { return s.egrDesiredPct; }, 0.2},
      {0x1152, [&](auto& b) { return n(b) / 2.55; }, [](auto& s) { return s.egrActualPct; }, 0.2},
      {0x1171, [&](auto& b) { return n(b) / 2.55; }, [](auto& s) { return s.egrDutyPct; }, 0.2},
  };
  Vehicle v;
  std::set<std::uint16_t> covered;
  for (std::int64_t t = 0; t < 300'000; t += 997) {
    const VehicleState s = v.stateAt(Millis{t});
    for (const Case& c : cases) {
      const auto bytes = v.enhancedData(c.id, Millis{t});
      ASSERT_TRUE(bytes.has_value()) << c.id;
      EXPECT_NEAR(c.decode(*bytes), c.value(s), c.tolerance + 1e-9)
          << std::hex << c.id << " at " << std::dec << t;
      covered.insert(c.id);
    }
  }
  // Every identifier but the trouble-code count (below) is checked here.
  EXPECT_EQ(covered.size() + 1, Vehicle::enhancedIdentifiers().size());
}

TEST(SimVehicle, StoredCodesAndLamp) {
  Vehicle v;
  EXPECT_EQ(v.storedCodes(), (std::vector<std::uint16_t>{0x0171, 0x0300}));
  EXPECT_EQ(Vehicle::codeText(0x0171), "P0171");
  EXPECT_EQ(Vehicle::codeText(0x0300), "P0300");
  EXPECT_EQ(Vehicle::codeText(0xC123), "U0123");
  EXPECT_EQ(*v.enhancedData(0x0001, Millis{0}), QByteArray(1, char(0x82)));
  v.clearCodes();
  EXPECT_FALSE(v.milOn());
  EXPECT_EQ(*v.enhancedData(0x0001, Millis{0}), QByteArray(1, char(0x00)));
  EXPECT_EQ(v.obdData(0x01, Millis{0})->at(0), char(0x00));
}

TEST(SimVehicle, StandardPidsMatchTheEnhancedOnesAndTheSupportMask) {
  Vehicle v;
  const std::pair<std::uint8_t, std::uint16_t> same[] = {{0x0C, 0x000C}, {0x0D, 0x000D}, {0x05, 0x0005},
                                                         {0x0F, 0x000F}, {0x10, 0x0010}, {0x11, 0x0011}};
  for (std::int64_t t = 0; t < 200'000; t += 313) {
    for (auto [pid, id] : same)
      EXPECT_EQ(v.obdData(pid, Millis{t}), v.enhancedData(id, Millis{t})) << int(pid);
  }
  const QByteArray mask = *v.obdData(0x00, Millis{0});
  ASSERT_EQ(mask.size(), 4);
  for (int pid = 1; pid <= 0x20; ++pid) {
    const bool flagged = std::uint8_t(mask[(pid - 1) / 8]) & (0x80 >> ((pid - 1) % 8));
    EXPECT_EQ(flagged, v.obdData(std::uint8_t(pid), Millis{0}).has_value()) << pid;
  }
  EXPECT_FALSE(v.enhancedData(0x1234, Millis{0}));
}

TEST(SimVehicle, DeterministicFromTheSeed) {
  Vehicle a(sim::VehicleConfig{.seed = 5});
  Vehicle b(sim::VehicleConfig{.seed = 5});
  Vehicle c(sim::VehicleConfig{.seed = 6});
  bool differs = false;
  for (std::int64_t t = 0; t < 120'000; t += 777) {
    for (std::uint16_t id : Vehicle::enhancedIdentifiers()) {
      EXPECT_EQ(a.enhancedData(id, Millis{t}), b.enhancedData(id, Millis{t}));
      differs = differs || a.enhancedData(id, Millis{t}) != c.enhancedData(id, Millis{t});
    }
  }
  EXPECT_TRUE(differs);
  // Asking again, or in another order, gives the same answer.
  EXPECT_EQ(a.enhancedData(0x000C, ms(61.5)), a.enhancedData(0x000C, ms(61.5)));
}

}  // namespace
}  // namespace tarvex
