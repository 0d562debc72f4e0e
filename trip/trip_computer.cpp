#include "trip/trip_computer.h"

#include <chrono>

namespace tarvex::trip {
namespace {

constexpr double kSecondsPerHour = 3600.0;
constexpr double kGramsPerKg = 1000.0;

}  // namespace

FuelFacts fuelFacts(Fuel fuel) {
  // Stoichiometric air-fuel ratios by mass as commonly quoted: 14.7 for
  // petrol, 14.5 for diesel. Densities at 15 °C within the European fuel
  // standards' limits: EN 228 petrol 720-775 kg/m³ (0.745 a typical summer
  // grade), EN 590 diesel 820-845 kg/m³ (0.832 near the middle).
  switch (fuel) {
    case Fuel::kDiesel:
      return {14.5, 0.832};
    case Fuel::kPetrol:
      break;
  }
  return {14.7, 0.745};
}

double fuelFromAirFlow(double gramsPerSecond, Fuel fuel) {
  const FuelFacts facts = fuelFacts(fuel);
  const double fuelGramsPerHour = gramsPerSecond * kSecondsPerHour / facts.stoichiometricAirFuel;
  return fuelGramsPerHour / (facts.densityKgPerLitre * kGramsPerKg);
}

std::optional<double> calibrationFromFillUp(double pumpLitres, double tripLitres, double factorUsed) {
  if (!(pumpLitres > 0) || !(tripLitres > 0) || !(factorUsed > 0)) return std::nullopt;
  return factorUsed * pumpLitres / tripLitres;
}

// A clock put back, or a gap, starts the track again at the new sample.
void TripComputer::Track::step(Micros next, double nextValue, Micros longest, double& sum) {
  if (at && next > *at && next - *at <= longest) {
    const double hours = std::chrono::duration<double>(next - *at).count() / kSecondsPerHour;
    sum += (value + nextValue) / 2.0 * hours;
  }
  at = next;
  value = nextValue;
}

TripComputer::TripComputer(Fuel fuel, double calibration) : fuel_(fuel), calibration_(calibration) {}

void TripComputer::addSpeed(Micros at, double kmh) {
  speed_.step(at, kmh, longestStep_, distanceKm_);
}

void TripComputer::addFuelRate(Micros at, double litresPerHour) {
  if (!usesFuelRate_) {
    // No step from an air-flow figure to a fuel-rate one: the two overlap.
    usesFuelRate_ = true;
    flow_ = Track{};
  }
  flow_.step(at, litresPerHour, longestStep_, fuelLitres_);
}

void TripComputer::addAirFlow(Micros at, double gramsPerSecond) {
  if (usesFuelRate_) return;
  flow_.step(at, fuelFromAirFlow(gramsPerSecond, fuel_), longestStep_, fuelLitres_);
}

void TripComputer::reset() {
  speed_ = Track{};
  flow_ = Track{};
  usesFuelRate_ = false;
  distanceKm_ = 0;
  fuelLitres_ = 0;
}

std::optional<double> TripComputer::averageLitresPer100Km() const {
  if (distanceKm_ < kShortestAverageKm) return std::nullopt;
  return fuelLitres() / distanceKm_ * 100.0;
}

std::optional<double> TripComputer::litresPerHour() const {
  if (!flow_.at) return std::nullopt;
  return flow_.value * calibration_;
}

std::optional<double> TripComputer::litresPer100Km() const {
  const auto flow = litresPerHour();
  if (!flow || !speed_.at || speed_.value < kMovingKmh) return std::nullopt;
  const Micros apart = *speed_.at > *flow_.at ? *speed_.at - *flow_.at : *flow_.at - *speed_.at;
  if (apart > longestStep_) return std::nullopt;
  return *flow / speed_.value * 100.0;
}

}  // namespace tarvex::trip
