#pragma once

#include <optional>

#include "core/clock.h"

// A trip computer: fuel used, distance and economy from the engine's fuel
// rate (PID 5E) or its air flow (PID 10), and road speed (PID 0D).
namespace tarvex::trip {

enum class Fuel { kPetrol, kDiesel };

struct FuelFacts {
  double stoichiometricAirFuel;  // kilograms of air that burn one of fuel
  double densityKgPerLitre;
};
FuelFacts fuelFacts(Fuel fuel);

// Fuel flow in L/h from mass air flow in g/s, the engine at the stoichiometric
// mixture. A diesel runs lean of it nearly always, so there this is a ceiling:
// its fuel rate (5E), where the car has it, is what counts.
double fuelFromAirFlow(double gramsPerSecond, Fuel fuel);

// The calibration a fill-up gives: the pump's litres over what the trip
// showed, times the factor the trip showed it with ("the pump said 41.3 L, the
// trip said 39.0 L" at factor 1: 1.059). Nothing for a reading of zero or less.
std::optional<double> calibrationFromFillUp(double pumpLitres, double tripLitres, double factorUsed = 1.0);

// Integrates what the car reports over a trip. Each quantity keeps its own
// last sample and is integrated by the trapezoid rule between it and the
// next, so samples may come unevenly and at different times. A step longer
// than longestStep() (the adapter lost, the car off) adds nothing: fuel and
// distance are never made up for time nobody measured.
class TripComputer {
 public:
  // Below this speed there is no L/100 km to tell: L/h is what counts.
  static constexpr double kMovingKmh = 5.0;
  // An average over less than this distance says nothing yet.
  static constexpr double kShortestAverageKm = 0.1;
  static constexpr Micros kDefaultLongestStep{5'000'000};

  explicit TripComputer(Fuel fuel = Fuel::kPetrol, double calibration = 1.0);

  Fuel fuel() const { return fuel_; }
  void setFuel(Fuel fuel) { fuel_ = fuel; }
  // Multiplies every fuel figure, past and future, of the trip.
  double calibration() const { return calibration_; }
  void setCalibration(double factor) { calibration_ = factor; }
  Micros longestStep() const { return longestStep_; }
  void setLongestStep(Micros step) { longestStep_ = step; }

  void addSpeed(Micros at, double kmh);               // 0D
  void addFuelRate(Micros at, double litresPerHour);  // 5E
  void addAirFlow(Micros at, double gramsPerSecond);  // 10, while no 5E came
  // A new trip; fuel, calibration and the longest step stay.
  void reset();

  // True once a fuel rate came: the air flow no longer counts.
  bool usesFuelRate() const { return usesFuelRate_; }
  double distanceKm() const { return distanceKm_; }
  double fuelLitres() const { return fuelLitres_ * calibration_; }
  std::optional<double> averageLitresPer100Km() const;
  // The latest fuel flow.
  std::optional<double> litresPerHour() const;
  // The latest economy: nothing while standing or slower than kMovingKmh, or
  // when speed and flow were not measured within one step of each other.
  std::optional<double> litresPer100Km() const;

 private:
  struct Track {
    std::optional<Micros> at;
    double value = 0;
    // Adds the step's area in value-hours to `sum` and moves on to (at, value).
    void step(Micros next, double nextValue, Micros longest, double& sum);
  };

  Fuel fuel_;
  double calibration_;
  Micros longestStep_ = kDefaultLongestStep;
  Track speed_;
  Track flow_;  // L/h before calibration, from 5E or the air flow
  bool usesFuelRate_ = false;
  double distanceKm_ = 0;
  double fuelLitres_ = 0;  // before calibration
};

}  // namespace tarvex::trip
