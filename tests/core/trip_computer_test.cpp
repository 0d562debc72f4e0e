#include "trip/trip_computer.h"

#include <gtest/gtest.h>

namespace tarvex::trip {
namespace {

const auto seconds = [](double s) { return Micros(static_cast<Micros::rep>(s * 1e6)); };

// A minute, a sample a second. Petrol: 20 g/s x 3600 / 14.7 / 745 g/L = 6.574442 L/h; diesel:
// 20 x 3600 / 14.5 / 832 = 5.968170 L/h; a fuel rate of 8 L/h at 80 km/h is 10 L/100 km, air flow ignored.
TEST(TripComputer, SteadyCruiseFromAirFlowAndFromFuelRate) {
  // Fuel, air flow, fuel rate, speed, then the litres an hour and per 100 km expected.
  const std::tuple<Fuel, double, double, double, double, double> cases[] = {
      {Fuel::kPetrol, 20, 0, 100, 6.574442, 6.574442},
      {Fuel::kDiesel, 20, 0, 100, 5.968170, 5.968170},
      {Fuel::kPetrol, 20, 8, 80, 8, 10}};
  for (const auto& [fuel, airFlow, fuelRate, speed, perHour, per100Km] : cases) {
    SCOPED_TRACE(perHour);
    TripComputer trip(fuel);
    for (int s = 0; s <= 60; ++s) {
      if (fuelRate > 0) trip.addFuelRate(seconds(s), fuelRate);
      trip.addAirFlow(seconds(s), airFlow);
      trip.addSpeed(seconds(s), speed);
    }
    EXPECT_NEAR(trip.fuelLitres(), perHour / 60.0, 1e-6);  // a minute is 1/60 h
    EXPECT_NEAR(trip.distanceKm(), speed / 60.0, 1e-9);
    EXPECT_NEAR(trip.litresPerHour().value(), perHour, 1e-6);
    EXPECT_NEAR(trip.litresPer100Km().value(), per100Km, 1e-6);
    EXPECT_NEAR(trip.averageLitresPer100Km().value(), per100Km, 1e-6);
  }
}

TEST(TripComputer, UnevenSamplesAndAGapThatAddsNothing) {
  TripComputer trip;
  // Trapezoids in km/h x s: 18 + 108 + 36 + 216, the 7.5-20 s gap nothing, + 36 = 414 = 0.115 km.
  const std::pair<double, double> speeds[] = {{0, 0},    {1, 36},  {3, 72}, {3.5, 72},
                                              {7.5, 36}, {20, 36}, {21, 36}};
  for (const auto& [at, kmh] : speeds) trip.addSpeed(seconds(at), kmh);
  EXPECT_NEAR(trip.distanceKm(), 0.115, 1e-9);

  // 3.6 L/h is 0.001 L/s: 0-4 s 0.004 L, 4-64 s a gap, 64-65 s 0.001 L; 0.005 L / 0.115 km.
  for (double at : {0.0, 2.0, 4.0, 64.0, 65.0}) trip.addFuelRate(seconds(at), 3.6);
  EXPECT_NEAR(trip.fuelLitres(), 0.005, 1e-9);
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
  EXPECT_FALSE(trip.litresPer100Km() || trip.averageLitresPer100Km());
  trip.addAirFlow(seconds(1), 1.47);   // 0.483221 / 3600 L
  trip.addFuelRate(seconds(2), 36.0);  // takes over; the step from the air flow adds nothing
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
  // Pump 41.3 L, trip 39.0 L: 1.058974; next, pump 40.0 L, trip 40.8 L: 1.058974 x 40 / 40.8 = 1.038210.
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
  EXPECT_EQ(std::pair(trip.fuelLitres(), trip.calibration()), std::pair(0.0, first));
}

}  // namespace
}  // namespace tarvex::trip
