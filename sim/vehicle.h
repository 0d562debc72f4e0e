#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>
#include <vector>

#include "core/clock.h"
#include "core/units.h"

namespace tarvex::sim {

// Which car is on the other end of the adapter: a GM with one engine controller on J1850 VPW
// (before about 2008), or a later car on ISO 15765-4 CAN (11-bit, 500 kbit/s) with an engine
// and a transmission controller. Both drive the same model.
enum class Car { GmVpw, Can };

// The controllers that answer standard requests: the engine, and on CAN the transmission.
enum class Ecu { Engine, Transmission };

// Trouble-code lists of a controller, by the service that reads them.
enum class CodeList { Stored, Pending, Permanent };

// What the simulated car does over time. Everything except the stored trouble
// codes is a pure function of the seed and the time since engine start, so a
// test can ask for any moment in any order.
struct VehicleConfig {
  std::uint64_t seed = 1;
  // Parked idle after the cold start, before the first drive cycle begins.
  Millis idleBeforeDrive{30'000};
  // Standing in gear at the start of every drive cycle, before the launch.
  Millis standStill{10'000};
  Car car = Car::GmVpw;
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
  double ambientC = 0;
  double catalystC = 0;  // bank 1, sensor 1
  double purgePct = 0;   // commanded evaporative purge
  double fuelLevelPct = 0;
  double distanceKm = 0;  // driven since engine start
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

  // The data bytes after "41 pid" from one controller, support bitmaps (00, 20, 40 ...) included;
  // nullopt when it does not serve the PID. The GM car has only its engine controller.
  std::optional<QByteArray> serviceOneData(Ecu ecu, std::uint8_t pid, Millis sinceStart) const;
  // The data bytes after "42 pid frame" of the freeze frame (frame 0); PID 02 is the code that
  // stored it, PID 00 the PIDs it holds. nullopt when there is none or it lacks the PID.
  std::optional<QByteArray> freezeFrameData(std::uint8_t pid) const;
  // Service 09 items as the controller holds them (VIN, calibration IDs of 16 bytes each, ECU
  // name of 20); empty when it has no such item. PID 00 is the support bitmap.
  QByteArray vehicleInfo(Ecu ecu, std::uint8_t pid) const;
  // How many items the controller holds for a service 09 PID (2 calibration IDs ...).
  int vehicleInfoCount(Ecu ecu, std::uint8_t pid) const;

  // Trouble codes, two bytes each as the services carry them.
  const std::vector<std::uint16_t>& codes(Ecu ecu, CodeList list) const;
  const std::vector<std::uint16_t>& storedCodes() const { return codes(Ecu::Engine, CodeList::Stored); }
  bool milOn() const { return !storedCodes().empty(); }
  // Service 04 at a moment: stored and pending codes and the freeze frame go, the readiness
  // monitors and the counters since clearing start again; only the car clears permanent codes.
  void clearCodes(Millis at);
  // The readiness bytes (A-D after "41 01") of a controller at a moment: lamp and count, then
  // each monitor supported and still incomplete. Monitors complete over the drive cycles
  // driven since the codes were cleared (or since the start).
  QByteArray readiness(Ecu ecu, Millis sinceStart) const;

  // Service 06 on CAN, the bytes after "46": for a bitmap (00, 20 ...) the bitmap's ID and
  // the four bytes naming the monitors; for a monitor its tests, nine bytes each (the monitor,
  // the test, the unit-and-scaling ID, value, minimum and maximum). A monitor that has not
  // completed since the codes were cleared reports its tests as zeros. nullopt when the
  // controller lacks it (the transmission has none).
  std::optional<QByteArray> monitorTests(Ecu ecu, std::uint8_t mid, Millis sinceStart) const;
  // The older form on J1850, the bytes after "46" of each line: for test 00 (20 ...) the
  // bitmap of tests; else a line a component: the test, the component (its top bit set when the
  // limit is a minimum), value and limit in GM's own scaling. Empty when there is no such test.
  std::vector<QByteArray> legacyTests(std::uint8_t tid) const;

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
  double distanceMetres(std::int64_t ms) const;
  // Drive cycles whose cruise ended after `fromMs` and by `toMs`.
  int cruisesBetween(std::int64_t fromMs, std::int64_t toMs) const;
  bool serves(Ecu ecu, std::uint8_t pid) const;
  std::optional<QByteArray> pidData(std::uint8_t pid, const VehicleState& s, Millis sinceStart) const;

  VehicleConfig config_;
  double ambientC_;
  std::vector<Sample> launch_;       // every 10 ms of the launch phase
  std::vector<float> launchMetres_;  // distance at each launch sample
  double cruiseEndSpeed_ = 0;
  double brakeSeconds_ = 0;
  Millis cycleLength_{0};
  double cycleMetres_ = 0;
  // Indexed by Ecu, then by CodeList.
  std::vector<std::uint16_t> codes_[2][3];
  std::optional<Millis> clearedAt_;  // nullopt: not since the start
  std::optional<Millis> frozenAt_;   // the moment whose state the freeze frame holds
  std::uint16_t frozenCode_ = 0;
};

}  // namespace tarvex::sim
