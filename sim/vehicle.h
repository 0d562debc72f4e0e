#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>
#include <vector>

#include "link/clock.h"
#include "link/units.h"

namespace tarvex::sim {

// What the simulated car does over time. Everything except the stored trouble
// codes is a pure function of the seed and the time since engine start, so a
// test can ask for any moment in any order.
struct VehicleConfig {
  std::uint64_t seed = 1;
  // Parked idle after the cold start, before the first drive cycle begins.
  Millis idleBeforeDrive{30'000};
  // Standing in gear at the start of every drive cycle, before the launch.
  Millis standStill{10'000};
};

enum class DrivePhase {
  Parked,  // warm-up idle after the start, gear lever in park
  Stand,   // in gear, foot on the brake
  Launch,  // full throttle from standstill through the quarter mile
  Cruise,  // part throttle after the lift, easing off
  Brake,   // throttle closed, braking to a stop
};

// Fuel system status codes as the engine controller reports them.
enum FuelStatus : int {
  kOpenLoop = 1,
  kClosedLoop = 2,
  kOpenLoopDriving = 4,
  kOpenLoopFault = 8,
  kClosedLoopFault = 16,
};

// Engineering values at one moment.
struct VehicleState {
  DrivePhase phase = DrivePhase::Parked;
  double rpm = 0;
  double speedKmh = 0;
  double intakeAirC = 0;
  double coolantC = 0;
  double throttlePct = 0;
  double loadPct = 0;
  double mafGramsPerSec = 0;
  double mapKpa = 0;
  double timingDeg = 0;
  double knockRetardDeg = 0;
  double shortTrimPct[2] = {0, 0};  // bank 1, bank 2
  double longTrimPct[2] = {0, 0};
  // Oxygen sensors in the order bank 1 sensor 1, B1S2, B2S1, B2S2.
  double o2Volts[4] = {0, 0, 0, 0};
  int fuelStatus[2] = {kOpenLoop, kOpenLoop};
  double egrDesiredPct = 0;
  double egrActualPct = 0;
  double egrDutyPct = 0;
  double batteryVolts = 0;
  double airFuelRatio = 0;
  int gear = 0;
  int runSeconds = 0;
};

// The model's own figures of one launch, from its speed integrated over time.
struct LaunchFigures {
  double zeroTo100Seconds = 0;
  double quarterMileSeconds = 0;
  double trapSpeedKmh = 0;
};

class Vehicle {
 public:
  explicit Vehicle(VehicleConfig config = {});

  const VehicleConfig& config() const { return config_; }
  VehicleState stateAt(Millis sinceStart) const;

  // The data bytes of the answer to service $22 for an identifier, encoded so
  // that the scan's conversions give stateAt()'s values; nullopt when this
  // car has no such identifier.
  std::optional<QByteArray> enhancedData(std::uint16_t identifier, Millis sinceStart) const;
  // The data bytes after "41 pid" for a service 01 PID; nullopt if unsupported.
  std::optional<QByteArray> obdData(std::uint8_t pid, Millis sinceStart) const;

  // Stored trouble codes, two bytes each as service 03 carries them.
  const std::vector<std::uint16_t>& storedCodes() const { return codes_; }
  bool milOn() const { return !codes_.empty(); }
  void clearCodes() { codes_.clear(); }

  LaunchFigures launchFigures() const;

 private:
  struct Sample {
    float speed;    // m/s
    float gearPos;  // 1.0 .. 4.0, fractional while shifting
  };
  struct Motion {
    DrivePhase phase;
    double speed;  // m/s
    double gearPos;
    double sincePhase;  // seconds
  };
  Motion motionAt(std::int64_t ms) const;
  double noise(int channel, double t, double period) const;

  VehicleConfig config_;
  double ambientC_;
  std::vector<Sample> launch_;  // every 10 ms of the launch phase
  double cruiseEndSpeed_ = 0;
  double brakeSeconds_ = 0;
  Millis cycleLength_{0};
  std::vector<std::uint16_t> codes_;
};

}  // namespace tarvex::sim
