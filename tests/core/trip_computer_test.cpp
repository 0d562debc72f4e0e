#include "trip/trip_computer.h"

#include <gtest/gtest.h>

namespace tarvex::trip {
namespace {

Micros seconds(double s) {
  return Micros(static_cast<Micros::rep>(s * 1e6));
}

struct CruiseCase {
  const char* what;
  Fuel fuel;
  double airFlow;   // g/s, fed every second
  double fuelRate;  // L/h, fed every second when above 0
  double speed;     // km/h
  double litresPerHour;
  double litresPer100Km;
};

// A minute at steady speed, a sample a second. By hand:
// petrol: 20 g/s x 3600 / 14.7 = 4897.96 g/h; / 745 g/L = 6.574442 L/h;
//   at 100 km/h that is 6.574442 L/100 km.
// diesel: 20 x 3600 / 14.5 / 832 = 5.968170 L/h.
// fuel rate 8 L/h at 80 km/h: 8 / 80 x 100 = 10 L/100 km; the air flow, fed
//   too, no longer counts.
const CruiseCase kCruises[] = {
    {"petrol from the air flow", Fuel::kPetrol, 20.0, 0.0, 100.0, 6.574442, 6.574442},
    {"diesel from the air flow", Fuel::kDiesel, 20.0, 0.0, 100.0, 5.968170, 5.968170},
    {"fuel rate where the car has it", Fuel::kPetrol, 20.0, 8.0, 80.0, 8.0, 10.0},
};

TEST(TripComputer, SteadyCruiseFromAirFlowAndFromFuelRate) {
  for (const CruiseCase& c : kCruises) {
    SCOPED_TRACE(c.what);
    TripComputer trip(c.fuel);
    for (int s = 0; s <= 60; ++s) {
      if (c.fuelRate > 0) trip.addFuelRate(seconds(s), c.fuelRate);
      trip.addAirFlow(seconds(s), c.airFlow);
      trip.addSpeed(seconds(s), c.speed);
    }
    // A minute is 1/60 h.
    EXPECT_NEAR(trip.fuelLitres(), c.litresPerHour / 60.0, 1e-6);
    EXPECT_NEAR(trip.distanceKm(), c.speed / 60.0, 1e-9);
    EXPECT_NEAR(trip.litresPerHour().value(), c.litresPerHour, 1e-6);
    EXPECT_NEAR(trip.litresPer100Km().value(), c.litresPer100Km, 1e-6);
    EXPECT_NEAR(trip.averageLitresPer100Km().value(), c.litresPer100Km, 1e-6);
  }
}

TEST(TripComputer, UnevenSamplesAndAGapThatAddsNothing) {
  TripComputer trip;
  // Speed by the trapezoid rule, in km/h x s:
  // 0-1 s (0+36)/2 x 1 = 18; 1-3 s (36+72)/2 x 2 = 108; 3-3.5 s 72 x 0.5 = 36;
  // 3.5-7.5 s (72+36)/2 x 4 = 216; 7.5-20 s a gap: nothing; 20-21 s 36 x 1 = 36.
  // 414 km/h x s / 3600 = 0.115 km.
  const std::pair<double, double> speeds[] = {{0, 0},    {1, 36},  {3, 72}, {3.5, 72},
                                              {7.5, 36}, {20, 36}, {21, 36}};
  for (const auto& [at, kmh] : speeds) trip.addSpeed(seconds(at), kmh);
  EXPECT_NEAR(trip.distanceKm(), 0.115, 1e-9);

  // 3.6 L/h is 0.001 L a second: 0-4 s 0.004 L; 4-64 s a gap; 64-65 s 0.001 L.
  for (double at : {0.0, 2.0, 4.0, 64.0, 65.0}) trip.addFuelRate(seconds(at), 3.6);
  EXPECT_NEAR(trip.fuelLitres(), 0.005, 1e-9);
  // 0.005 L over 0.115 km: 4.347826 L/100 km.
  EXPECT_NEAR(trip.averageLitresPer100Km().value(), 4.347826, 1e-6);

  // A clock put back takes no negative step.
  trip.addFuelRate(seconds(30), 3.6);
  EXPECT_NEAR(trip.fuelLitres(), 0.005, 1e-9);
}

TEST(TripComputer, StandingStillAndTheSwitchToFuelRate) {
  TripComputer trip;
  // Idling: 1.47 g/s is 1.47 x 3600 / 14.7 / 745 = 0.483221 L/h.
  trip.addAirFlow(seconds(0), 1.47);
  trip.addSpeed(seconds(0), 3.0);
  EXPECT_NEAR(trip.litresPerHour().value(), 0.483221, 1e-6);
  EXPECT_FALSE(trip.litresPer100Km().has_value());
  EXPECT_FALSE(trip.averageLitresPer100Km().has_value());
  trip.addAirFlow(seconds(1), 1.47);  // 0.483221 / 3600 L
  // The fuel rate takes over; the step from the air flow to it adds nothing.
  trip.addFuelRate(seconds(2), 36.0);
  trip.addFuelRate(seconds(3), 36.0);  // 0.01 L
  trip.addAirFlow(seconds(4), 100.0);  // no longer counts
  EXPECT_TRUE(trip.usesFuelRate());
  EXPECT_NEAR(trip.fuelLitres(), 0.483221 / 3600 + 0.01, 1e-9);
  // Speed measured long before the flow: no economy from the two.
  trip.addSpeed(seconds(2), 50.0);
  trip.addFuelRate(seconds(9), 5.0);
  EXPECT_FALSE(trip.litresPer100Km().has_value());
}

TEST(TripComputer, CalibrationFromAFillUp) {
  // The pump said 41.3 L, the trip 39.0 L: 41.3 / 39.0 = 1.058974. At the
  // next fill-up, with that factor, the pump said 40.0 L and the trip 40.8 L:
  // 1.058974 x 40.0 / 40.8 = 1.038210.
  const double first = calibrationFromFillUp(41.3, 39.0).value();
  EXPECT_NEAR(first, 1.058974, 1e-6);
  EXPECT_NEAR(calibrationFromFillUp(40.0, 40.8, first).value(), 1.038210, 1e-6);
  EXPECT_FALSE(calibrationFromFillUp(40.0, 0.0).has_value());

  TripComputer trip;
  trip.addFuelRate(seconds(0), 7.2);
  trip.addFuelRate(seconds(5), 7.2);  // 7.2 L/h x 5 s = 0.01 L
  trip.setCalibration(first);
  EXPECT_NEAR(trip.fuelLitres(), 0.01 * 1.058974, 1e-8);
  EXPECT_NEAR(trip.litresPerHour().value(), 7.2 * 1.058974, 1e-5);
  trip.reset();
  EXPECT_EQ(trip.fuelLitres(), 0.0);
  EXPECT_EQ(trip.calibration(), first);
}

}  // namespace
}  // namespace tarvex::trip
