#include "sim/vehicle.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <numbers>
#include <span>

#include "obd/formulas.h"

namespace tarvex::sim {

namespace {

// Whole milliseconds as seconds; a drive is far shorter than the 2^53 ms a
// double holds exactly.
double seconds(std::int64_t ms) {
  return static_cast<double>(ms) / 1000.0;
}

// The car: a 5.7 l V8 with a four-speed automatic, about 1600 kg with driver.
constexpr double kGearRatios[] = {3.06, 1.63, 1.00, 0.70};
constexpr double kFinalDrive = 3.42;
constexpr double kTyreRadiusM = 0.33;
constexpr double kDisplacementL = 5.7;
constexpr double kAirDensityGPerL = 1.18;
constexpr double kShiftRpm = 5600;
constexpr double kStallRpm = 2800;
constexpr double kRedlineRpm = 5900;
constexpr double kBaroKpa = 100;

// Launch dynamics: acceleration falls off linearly with speed towards a top
// speed, and dips while a gear change takes place. Tuned so that 100 km/h
// comes in about 7 s and the quarter mile in about 15 s near 150 km/h.
constexpr double kTopSpeedMs = 52.0;
constexpr double kSpeedTimeConstantS = 8.85;
constexpr double kShiftSeconds = 0.35;
constexpr double kShiftPull = 0.35;  // share of drive left during a shift
constexpr double kSampleSeconds = 0.01;
constexpr double kStepSeconds = 0.001;

constexpr double kLaunchSeconds = 16.5;
constexpr double kCruiseSeconds = 6.0;
constexpr double kCruiseDecel = 0.8;  // m/s^2
constexpr double kBrakeDecel = 4.0;
constexpr double kCruiseUpshiftSeconds = 0.6;

// The codes each car starts with. The GM car: lean bank 1 and random misfire. The CAN car
// adds a small evaporative leak, a catalyst pending on bank 1 and, in the transmission, a
// converter clutch that may be stuck off; permanent are the codes that lit the lamp.
constexpr std::uint16_t kLean = 0x0171, kMisfire = 0x0300, kEvapLeak = 0x0442, kCatalyst = 0x0420,
                        kConverter = 0x0741;

// Before this run the codes were cleared and the car driven a little: these counters went on
// from there.
constexpr double kKmSinceClearBefore = 18;
constexpr double kMinutesSinceClearBefore = 25;
constexpr double kKmWithMilBefore = 6;
constexpr double kMinutesWithMilBefore = 9;
constexpr int kWarmUpsBefore = 1;
constexpr double kFuelAtStartPct = 62;
constexpr double kLitresPerKm = 0.14;
constexpr double kTankLitres = 70;

const char kVpwVin[] = "2G1FP22G6W2112345";  // a 1998 Camaro Z28 (its check digit holds)
const char kCanVin[] = "2G1FK1EJ2A9134567";  // a 2010 Camaro SS

std::uint64_t mix(std::uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

double unitFromHash(std::uint64_t h) {
  return double(h >> 11) / double(1ull << 53);
}

double rpmPerMs(int gearIndex) {
  return 60.0 / (2 * std::numbers::pi * kTyreRadiusM) * kGearRatios[gearIndex] * kFinalDrive;
}

double clamp01(double x) {
  return std::clamp(x, 0.0, 1.0);
}

char byteOf(double x) {
  return char(std::clamp<long>(std::lround(x), 0, 255));
}

QByteArray one(double x) {
  return QByteArray(1, byteOf(x));
}

QByteArray two(double x) {
  const long n = std::clamp<long>(std::lround(x), 0, 65535);
  QByteArray b;
  b.append(char(n >> 8));
  b.append(char(n & 0xFF));
  return b;
}

QByteArray pair(double a, double b) {
  return one(a) + one(b);
}

double trimByte(double pct) {
  return (pct + obd::kTrimOffset) * obd::kCountsPerTrimPercent;
}

}  // namespace

Vehicle::Vehicle(VehicleConfig config) : config_(config) {
  ambientC_ = 8 + 14 * unitFromHash(mix(config_.seed ^ 0xA3B1));
  auto& engine = codes_[int(Ecu::Engine)];
  if (config_.car == Car::GmVpw) {
    engine[int(CodeList::Stored)] = {kLean, kMisfire};
  } else {
    engine[int(CodeList::Stored)] = {kLean, kMisfire, kEvapLeak};
    engine[int(CodeList::Pending)] = {kCatalyst};
    engine[int(CodeList::Permanent)] = {kLean, kMisfire};
    codes_[int(Ecu::Transmission)][int(CodeList::Pending)] = {kConverter};
  }

  // Integrate the launch once; the timeline then reads the samples.
  double v = 0;
  int gear = 0;
  double shiftLeft = 0;
  const int steps = int(std::lround(kLaunchSeconds / kStepSeconds));
  const int perSample = int(std::lround(kSampleSeconds / kStepSeconds));
  launch_.reserve(std::size_t(steps / perSample + 2));
  for (int i = 0; i <= steps; ++i) {
    double gearPos = gear + 1;
    if (shiftLeft > 0) gearPos += 1 - shiftLeft / kShiftSeconds;
    if (i % perSample == 0) launch_.push_back({float(v), float(gearPos)});
    double pull = shiftLeft > 0 ? kShiftPull : 1.0;
    v += pull * (kTopSpeedMs - v) / kSpeedTimeConstantS * kStepSeconds;
    if (shiftLeft > 0) {
      shiftLeft -= kStepSeconds;
      if (shiftLeft <= 0) {
        shiftLeft = 0;
        ++gear;
      }
    } else if (gear < 2 && v * rpmPerMs(gear) >= kShiftRpm) {
      shiftLeft = kShiftSeconds;
    }
  }
  cruiseEndSpeed_ = std::max(0.0, launch_.back().speed - kCruiseDecel * kCruiseSeconds);
  brakeSeconds_ = cruiseEndSpeed_ / kBrakeDecel;
  const double cycle = seconds(config_.standStill.count()) + kLaunchSeconds + kCruiseSeconds + brakeSeconds_;
  cycleLength_ = Millis{std::int64_t(std::ceil(cycle * 1000))};

  launchMetres_.reserve(launch_.size());
  double metres = 0;
  for (std::size_t i = 0; i < launch_.size(); ++i) {
    if (i > 0) metres += (launch_[i - 1].speed + launch_[i].speed) / 2 * kSampleSeconds;
    launchMetres_.push_back(float(metres));
  }
  const double launchEnd = launch_.back().speed;
  cycleMetres_ = metres + launchEnd * kCruiseSeconds - kCruiseDecel * kCruiseSeconds * kCruiseSeconds / 2 +
                 cruiseEndSpeed_ * cruiseEndSpeed_ / (2 * kBrakeDecel);

  // The freeze frame: idling warm in gear at the first stop after ten minutes.
  const std::int64_t idle = config_.idleBeforeDrive.count();
  const std::int64_t cycles = std::max<std::int64_t>(0, (600'000 - idle) / cycleLength_.count() + 1);
  frozenAt_ = Millis{idle + cycles * cycleLength_.count() + config_.standStill.count() / 2};
  frozenCode_ = kLean;
}

double Vehicle::distanceMetres(std::int64_t tMs) const {
  const std::int64_t idle = config_.idleBeforeDrive.count();
  if (tMs < idle) return 0;
  const std::int64_t full = (tMs - idle) / cycleLength_.count();
  const std::int64_t um = (tMs - idle) % cycleLength_.count();
  double metres = double(full) * cycleMetres_;
  const std::int64_t stand = config_.standStill.count();
  if (um < stand) return metres;
  double u = seconds(um - stand);
  if (u < kLaunchSeconds) {
    const double pos = double(um - stand) / (kSampleSeconds * 1000);
    const std::size_t i = std::min<std::size_t>(std::size_t(pos), launch_.size() - 2);
    const double f = std::min(1.0, pos - double(i));
    return metres + launchMetres_[i] + (launchMetres_[i + 1] - launchMetres_[i]) * f;
  }
  metres += launchMetres_.back();
  u -= kLaunchSeconds;
  const double launchEnd = launch_.back().speed;
  if (u < kCruiseSeconds) return metres + launchEnd * u - kCruiseDecel * u * u / 2;
  metres += launchEnd * kCruiseSeconds - kCruiseDecel * kCruiseSeconds * kCruiseSeconds / 2;
  u = std::min(u - kCruiseSeconds, brakeSeconds_);
  return metres + cruiseEndSpeed_ * u - kBrakeDecel * u * u / 2;
}

int Vehicle::cruisesBetween(std::int64_t fromMs, std::int64_t toMs) const {
  const std::int64_t first = config_.idleBeforeDrive.count() + config_.standStill.count() +
                             std::int64_t(std::lround((kLaunchSeconds + kCruiseSeconds) * 1000));
  auto upTo = [&](std::int64_t t) { return t < first ? 0 : int((t - first) / cycleLength_.count()) + 1; };
  return std::max(0, upTo(toMs) - upTo(fromMs));
}

Vehicle::Motion Vehicle::motionAt(std::int64_t tMs) const {
  // Whole milliseconds, so that every cycle repeats exactly.
  const std::int64_t idle = config_.idleBeforeDrive.count();
  if (tMs < idle) return {DrivePhase::Parked, 0, 0, seconds(tMs)};
  const std::int64_t um = (tMs - idle) % cycleLength_.count();
  const std::int64_t stand = config_.standStill.count();
  if (um < stand) return {DrivePhase::Stand, 0, 1, seconds(um)};
  double u = seconds(um - stand);
  if (u < kLaunchSeconds) {
    const double pos = double(um - stand) / (kSampleSeconds * 1000);
    const std::size_t i = std::min<std::size_t>(std::size_t(pos), launch_.size() - 2);
    const double f = std::min(1.0, pos - double(i));
    const Sample& a = launch_[i];
    const Sample& b = launch_[i + 1];
    // A shift completes between two samples: take the gear from the nearer one.
    double gearPos = std::floor(b.gearPos) != std::floor(a.gearPos) ? (f < 0.5 ? a.gearPos : b.gearPos)
                                                                    : a.gearPos + (b.gearPos - a.gearPos) * f;
    return {DrivePhase::Launch, a.speed + (b.speed - a.speed) * f, gearPos, u};
  }
  u -= kLaunchSeconds;
  const double launchEnd = launch_.back().speed;
  if (u < kCruiseSeconds) {
    const double gearPos = 3 + clamp01(u / kCruiseUpshiftSeconds);
    return {DrivePhase::Cruise, launchEnd - kCruiseDecel * u, gearPos, u};
  }
  u -= kCruiseSeconds;
  const double v = std::max(0.0, cruiseEndSpeed_ - kBrakeDecel * u);
  const double kmh = v * 3.6;
  const double gearPos = kmh > 70 ? 4 : kmh > 40 ? 3 : kmh > 15 ? 2 : 1;
  return {DrivePhase::Brake, v, gearPos, u};
}

// Smooth deterministic noise in [-1, 1]: hashed values every period, blended.
double Vehicle::noise(int channel, double t, double period) const {
  const double x = t / period;
  const double k = std::floor(x);
  const double f = x - k;
  auto at = [&](double kk) {
    const std::uint64_t h = mix(config_.seed * 0x100000001B3ull + std::uint64_t(channel) * 0x9E37ull +
                                std::uint64_t(std::int64_t(kk)));
    return unitFromHash(h) * 2 - 1;
  };
  const double w = (1 - std::cos(f * std::numbers::pi)) / 2;
  return at(k) * (1 - w) + at(k + 1) * w;
}

VehicleState Vehicle::stateAt(Millis sinceStart) const {
  const std::int64_t tMs = std::max<std::int64_t>(0, sinceStart.count());
  const double t = seconds(tMs);
  const Motion m = motionAt(tMs);
  VehicleState s;
  s.phase = m.phase;
  s.speedKmh = m.speed * 3.6;
  s.runSeconds = int(std::min(65535.0, std::floor(t)));

  s.coolantC = 91 - (91 - ambientC_) * std::exp(-t / 200);
  s.intakeAirC = ambientC_ + 12 * (1 - std::exp(-t / 400)) - 6 * clamp01(m.speed / 30);
  const double coldness = clamp01((60 - s.coolantC) / 60);
  const double idleRpm = 650 + 500 * coldness;

  // Engine speed from road speed and gear; the converter slips at launch.
  const int gearLow = std::clamp(int(std::floor(m.gearPos)), 1, 4) - 1;
  const int gearHigh = std::min(gearLow + 1, 3);
  const double shiftFrac = m.gearPos - std::floor(m.gearPos);
  const double geared = m.speed * (rpmPerMs(gearLow) * (1 - shiftFrac) + rpmPerMs(gearHigh) * shiftFrac);
  s.gear = m.phase == DrivePhase::Parked ? 0 : std::clamp(int(std::lround(m.gearPos)), 1, 4);
  if (m.phase == DrivePhase::Launch && shiftFrac > 0) s.gear = gearLow + 1 + (shiftFrac >= 0.5 ? 1 : 0);

  const bool warmSensors = t >= 20;
  const bool coldOpen = s.coolantC < 38 || !warmSensors;
  bool fuelCut = false;
  switch (m.phase) {
    case DrivePhase::Parked:
    case DrivePhase::Stand: {
      s.rpm = idleRpm - (m.phase == DrivePhase::Stand ? 40 : 0) + 8 * noise(1, t, 0.7);
      s.throttlePct = 0.8;
      s.mapKpa = (m.phase == DrivePhase::Stand ? 36 : 32) + 8 * coldness + noise(2, t, 0.9);
      s.timingDeg = 14 + 4 * coldness + noise(3, t, 1.1);
      break;
    }
    case DrivePhase::Launch: {
      const double spool = clamp01(m.sincePhase / 0.3);
      s.rpm = std::max(geared * 1.03, idleRpm + (kStallRpm - idleRpm) * spool);
      s.rpm = std::min(s.rpm, kRedlineRpm);
      s.throttlePct = 0.8 + 98.4 * clamp01(m.sincePhase / 0.15);
      s.mapKpa = 36 + (kBaroKpa - 3 - 36) * clamp01(m.sincePhase / 0.2);
      if (s.rpm > 3200 && s.rpm < 5300) {
        s.knockRetardDeg = std::floor(std::max(0.0, 4 * noise(4, t, 0.4) - 1));
      }
      s.timingDeg = 26 - (s.rpm < 3000 ? 4 : 0) - s.knockRetardDeg;
      break;
    }
    case DrivePhase::Cruise: {
      s.rpm = std::max(idleRpm, geared * 1.05);
      s.throttlePct = 15 + 3 * noise(5, t, 1.3);
      s.mapKpa = 48 + 3 * noise(6, t, 1.0);
      s.timingDeg = 34 + noise(3, t, 1.1);
      break;
    }
    case DrivePhase::Brake: {
      s.rpm = std::max(idleRpm, geared * 1.02);
      s.throttlePct = 0.8;
      fuelCut = s.rpm > idleRpm + 300;
      s.mapKpa = fuelCut ? 24 : 34;
      s.timingDeg = 20 + noise(3, t, 1.1);
      break;
    }
  }
  s.loadPct = std::clamp((s.mapKpa - 10) / (kBaroKpa - 10) * 100, 0.0, 100.0);
  const double ve = 0.55 + 0.35 * clamp01(s.rpm / 4000);
  s.mafGramsPerSec = kDisplacementL / 120 * s.rpm * kAirDensityGPerL * s.mapKpa / kBaroKpa * ve;
  if (fuelCut) s.mafGramsPerSec *= 0.8;

  const bool powerEnrich = m.phase == DrivePhase::Launch && m.sincePhase > 0.2;
  int status = kClosedLoop;
  if (coldOpen) {
    status = kOpenLoop;
  } else if (powerEnrich || fuelCut) {
    status = kOpenLoopDriving;
  }
  s.fuelStatus[0] = s.fuelStatus[1] = status;

  // Long-term trims: bank 1 leans out a little, the cause of its stored code.
  s.longTrimPct[0] = 4.7;
  s.longTrimPct[1] = 1.6;
  constexpr double kO2Period = 1.2;
  constexpr double kBankOffset[2] = {0.0, 0.37};
  for (int bank = 0; bank < 2; ++bank) {
    const double phase = 2 * std::numbers::pi * (t + kBankOffset[bank]) / kO2Period;
    double& front = s.o2Volts[bank * 2];
    double& rear = s.o2Volts[bank * 2 + 1];
    if (status == kClosedLoop) {
      front = 0.5 + 0.4 * std::tanh(4 * std::sin(phase)) + 0.02 * noise(10 + bank, t, 0.15);
      rear = 0.62 + 0.05 * noise(12 + bank, t, 3.0);
      s.shortTrimPct[bank] = -2.5 * std::sin(phase - 0.6) + 1.0 * noise(14 + bank, t, 0.5);
    } else if (!warmSensors) {
      front = rear = 0.45;
    } else if (fuelCut) {
      front = 0.06;
      rear = 0.12;
    } else if (powerEnrich) {
      front = 0.88 + 0.01 * noise(10 + bank, t, 0.2);
      rear = 0.8;
    } else {
      front = 0.45 + 0.3 * noise(10 + bank, t, 0.6);
      rear = 0.5;
    }
  }

  auto egrDesired = [&](const Motion& mm) {
    if (mm.phase != DrivePhase::Cruise) return 0.0;
    return clamp01(mm.sincePhase / 0.5) * (18 + 8 * std::sin(2 * std::numbers::pi * mm.sincePhase / 2.2));
  };
  s.egrDesiredPct = egrDesired(m);
  // The valve lags its command by a few hundred milliseconds.
  s.egrActualPct = std::max(0.0, egrDesired(motionAt(std::max<std::int64_t>(0, tMs - 300))) * 0.95);
  if (s.egrActualPct > 0) s.egrActualPct = std::max(0.0, s.egrActualPct + 0.5 * noise(16, t, 0.3));
  s.egrDutyPct = s.egrDesiredPct > 0 ? std::min(100.0, s.egrDesiredPct * 1.2 + 6) : 0;

  s.batteryVolts = t < 5 ? 14.6 : (powerEnrich ? 14.0 : 14.2) + 0.1 * noise(17, t, 2.0);
  if (fuelCut) {
    s.airFuelRatio = 20.0;
  } else if (powerEnrich) {
    s.airFuelRatio = 12.6;
  } else if (coldOpen) {
    s.airFuelRatio = 13.6;
  } else {
    s.airFuelRatio = 14.7 + 0.2 * noise(18, t, 0.8);
  }

  s.ambientC = ambientC_;
  // The converter heats over the first minutes, hotter the more air goes through.
  const double catWarm = 1 - std::exp(-t / 90);
  s.catalystC = ambientC_ + catWarm * (380 + 1.6 * s.mafGramsPerSec) + 5 * noise(19, t, 4.0);
  s.purgePct = status == kClosedLoop ? (m.phase == DrivePhase::Cruise ? 24 : 9) + 2 * noise(20, t, 2.0) : 0;
  s.distanceKm = distanceMetres(tMs) / 1000;
  s.fuelLevelPct = kFuelAtStartPct - s.distanceKm * kLitresPerKm / kTankLitres * 100;
  return s;
}

std::optional<QByteArray> Vehicle::enhancedData(std::uint16_t identifier, Millis sinceStart) const {
  const VehicleState s = stateAt(sinceStart);
  // Downstream sensors take no part in the trim: the controller reports FF.
  auto o2 = [&](int sensor) {
    const double trim = sensor % 2 == 0 ? trimByte(s.shortTrimPct[sensor / 2]) : 255.0;
    return pair(s.o2Volts[sensor] * obd::kCountsPerOxygenVolt, trim);
  };
  switch (identifier) {
    case 0x000C:
      return two(s.rpm * obd::kCountsPerRpm);
    case 0x000D:
      return one(s.speedKmh);
    case 0x000F:
      return one(s.intakeAirC + obd::kTemperatureOffset);
    case 0x0011:
      return one(s.throttlePct * obd::kCountsPerPercent);
    case 0x0004:
      return one(s.loadPct * obd::kCountsPerPercent);
    case 0x0010:
      return two(s.mafGramsPerSec * obd::kCountsPerGramPerSecond);
    case 0x0005:
      return one(s.coolantC + obd::kTemperatureOffset);
    case 0x0006:
      return one(trimByte(s.shortTrimPct[0]));
    case 0x0007:
      return one(trimByte(s.longTrimPct[0]));
    case 0x0008:
      return one(trimByte(s.shortTrimPct[1]));
    case 0x0009:
      return one(trimByte(s.longTrimPct[1]));
    case 0x11A1:
      return two(s.runSeconds);
    case 0x000B:
      return one(s.mapKpa);
    case 0x000E:
      return one((s.timingDeg + obd::kTimingOffset) * obd::kCountsPerDegree);
    case 0x125D:
      return one(s.knockRetardDeg);
    case 0x0001:
      return one(double(std::min<std::size_t>(storedCodes().size(), 127) | (milOn() ? obd::kLampBit : 0)));
    case 0x19F5:
      return one(s.gear);
    case 0x1141:
      return one(s.batteryVolts * obd::kCountsPerTenth);
    case 0x119E:
      return one(s.airFuelRatio * obd::kCountsPerTenth);
    case 0x0014:
      return o2(0);
    case 0x0015:
      return o2(1);
    case 0x0018:
      return o2(2);
    case 0x0019:
      return o2(3);
    case 0x0003:
      return pair(s.fuelStatus[0], s.fuelStatus[1]);
    case 0x119B:
      return one(s.egrDesiredPct * obd::kCountsPerPercent);
    case 0x1152:
      return one(s.egrActualPct * obd::kCountsPerPercent);
    case 0x1171:
      return one(s.egrDutyPct * obd::kCountsPerPercent);
    default:
      return std::nullopt;
  }
}

namespace {

// The service 01 PIDs each controller serves, bitmaps aside. The GM car has the PIDs of the
// late nineties; the CAN car those of a petrol car of about 2010; its transmission few.
constexpr std::uint8_t kVpwPids[] = {0x01, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0B, 0x0C, 0x0D,
                                     0x0E, 0x0F, 0x10, 0x11, 0x13, 0x14, 0x15, 0x18, 0x19, 0x1C, 0x1F};
constexpr std::uint8_t kCanEnginePids[] = {0x01, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0B, 0x0C, 0x0D,
                                           0x0E, 0x0F, 0x10, 0x11, 0x13, 0x14, 0x15, 0x18, 0x19, 0x1C, 0x1F,
                                           0x21, 0x2E, 0x2F, 0x30, 0x31, 0x33, 0x3C, 0x42, 0x43, 0x44, 0x45,
                                           0x46, 0x47, 0x49, 0x4A, 0x4C, 0x4D, 0x4E, 0x51};
constexpr std::uint8_t kCanTransmissionPids[] = {0x01, 0x0C, 0x0D, 0x1C};
// What the freeze frame holds besides the code that stored it.
constexpr std::uint8_t kFrozenPids[] = {0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09,
                                        0x0B, 0x0C, 0x0D, 0x0E, 0x0F, 0x10, 0x11};

std::span<const std::uint8_t> pidList(Car car, Ecu ecu) {
  if (car == Car::GmVpw)
    return ecu == Ecu::Engine ? std::span<const std::uint8_t>(kVpwPids) : std::span<const std::uint8_t>();
  return ecu == Ecu::Engine ? std::span<const std::uint8_t>(kCanEnginePids)
                            : std::span<const std::uint8_t>(kCanTransmissionPids);
}

// The four bytes of a support bitmap for the 32 PIDs after `base`.
QByteArray bitmap(std::uint8_t base, const std::function<bool(int)>& has) {
  std::uint32_t mask = 0;
  for (int p = base + 1; p <= base + 32; ++p)
    if (has(p)) mask |= 1u << (base + 32 - p);
  QByteArray b;
  for (int shift = 24; shift >= 0; shift -= 8) b.append(char((mask >> shift) & 0xFF));
  return b;
}

// An item of text padded with zeros to its fixed size.
QByteArray padded(const char* text, qsizetype size) {
  QByteArray b(text);
  b.append(QByteArray(size - b.size(), '\0'));
  return b;
}

}  // namespace

bool Vehicle::serves(Ecu ecu, std::uint8_t pid) const {
  const auto list = pidList(config_.car, ecu);
  if (pid % 0x20 == 0)  // a bitmap is there when a PID lies beyond it
    return !list.empty() &&
           (pid == 0 || std::any_of(list.begin(), list.end(), [&](int p) { return p > pid; }));
  return std::find(list.begin(), list.end(), pid) != list.end();
}

std::optional<QByteArray> Vehicle::serviceOneData(Ecu ecu, std::uint8_t pid, Millis sinceStart) const {
  if (!serves(ecu, pid)) return std::nullopt;
  if (pid % 0x20 == 0) return bitmap(pid, [&](int p) { return p < 256 && serves(ecu, std::uint8_t(p)); });
  if (pid == 0x01) return readiness(ecu, sinceStart);
  return pidData(pid, stateAt(sinceStart), sinceStart);
}

std::optional<QByteArray> Vehicle::freezeFrameData(std::uint8_t pid) const {
  if (!frozenAt_) return std::nullopt;
  const auto has = [](int p) {
    return p == 0x02 || std::find(std::begin(kFrozenPids), std::end(kFrozenPids), p) != std::end(kFrozenPids);
  };
  if (pid == 0x00) return bitmap(0, has);
  if (pid == 0x02) return two(frozenCode_);
  if (!has(pid)) return std::nullopt;
  return pidData(pid, stateAt(*frozenAt_), *frozenAt_);
}

std::optional<QByteArray> Vehicle::pidData(std::uint8_t pid, const VehicleState& s, Millis sinceStart) const {
  const std::int64_t t = std::max<std::int64_t>(0, sinceStart.count());
  const std::optional<std::int64_t> cleared =
      clearedAt_ ? std::optional(std::min(t, clearedAt_->count())) : std::nullopt;
  const double minutes = double(t) / 60'000;
  const double kmSinceClear =
      cleared ? s.distanceKm - distanceMetres(*cleared) / 1000 : kKmSinceClearBefore + s.distanceKm;
  switch (pid) {
    case 0x13:
      return one(0x33);  // two sensors on each bank
    case 0x1C:
      return one(0x01);  // OBD-II as defined by CARB
    case 0x1F:
      return enhancedData(0x11A1, sinceStart);
    case 0x21:
      return two(milOn() ? kKmWithMilBefore + s.distanceKm : 0);
    case 0x2E:
      return one(s.purgePct * obd::kCountsPerPercent);
    case 0x2F:
      return one(s.fuelLevelPct * obd::kCountsPerPercent);
    case 0x30: {
      // A warm-up: the coolant up to 70 degrees from a cold start, counted since clearing.
      const bool warmedUp = s.coolantC >= 70 && (!cleared || stateAt(Millis{*cleared}).coolantC < 70);
      return one((cleared ? 0 : kWarmUpsBefore) + (warmedUp ? 1 : 0));
    }
    case 0x31:
      return two(kmSinceClear);
    case 0x33:
      return one(kBaroKpa);
    case 0x3C:
      return two((s.catalystC + obd::kTemperatureOffset) * obd::kCountsPerTenth);
    case 0x42:
      return two(s.batteryVolts * 1000);
    case 0x43:
      return two(s.loadPct * 0.92 * obd::kCountsPerPercent);
    case 0x44:
      return two(14.7 / s.airFuelRatio * 32768);
    case 0x45:
      return one(std::clamp((s.throttlePct - 0.8) / 0.95, 0.0, 100.0) * obd::kCountsPerPercent);
    case 0x46:
      return one(s.ambientC + obd::kTemperatureOffset);
    case 0x47:
      return one(std::min(100.0, 14 + s.throttlePct * 0.85) * obd::kCountsPerPercent);
    case 0x49:
      return one(std::min(100.0, 15 + s.throttlePct * 0.7) * obd::kCountsPerPercent);
    case 0x4A:
      return one(std::min(100.0, 7.5 + s.throttlePct * 0.35) * obd::kCountsPerPercent);
    case 0x4C:
      return one(s.throttlePct * obd::kCountsPerPercent);
    case 0x4D:
      return two(milOn() ? kMinutesWithMilBefore + minutes : 0);
    case 0x4E:
      return two(cleared ? double(t - *cleared) / 60'000 : kMinutesSinceClearBefore + minutes);
    case 0x51:
      return one(0x01);  // petrol
    default:
      // The rest are the enhanced identifiers of the same number.
      if (pid >= 0x03 && pid <= 0x19) return enhancedData(pid, sinceStart);
      return std::nullopt;
  }
}

const std::vector<std::uint16_t>& Vehicle::codes(Ecu ecu, CodeList list) const {
  return codes_[int(ecu)][int(list)];
}

void Vehicle::clearCodes(Millis at) {
  for (auto& lists : codes_) {
    lists[int(CodeList::Stored)].clear();
    lists[int(CodeList::Pending)].clear();
  }
  frozenAt_.reset();
  clearedAt_ = at;
}

QByteArray Vehicle::readiness(Ecu ecu, Millis sinceStart) const {
  const auto& stored = codes(ecu, CodeList::Stored);
  const bool lamp = ecu == Ecu::Engine && milOn();
  QByteArray b = one(double(std::min<std::size_t>(stored.size(), 127) | (lamp ? obd::kLampBit : 0)));
  if (ecu == Ecu::Transmission) return b + QByteArray::fromHex("040000");  // components only, done
  // Spark ignition; misfire and components are checked all the time, the fuel system once it
  // ran closed loop on a drive. The others need drive cycles since clearing.
  const int cruises = cruisesBetween(clearedAt_ ? clearedAt_->count() : 0, sinceStart.count());
  struct Rule {
    std::uint8_t bit;
    int cruises;
  };
  constexpr Rule kRules[] = {{0x01, 3}, {0x04, 4}, {0x20, 2}, {0x40, 1}, {0x80, 2}};  // catalyst .. EGR
  const std::uint8_t supported = config_.car == Car::GmVpw ? 0x65 : 0xE5;
  std::uint8_t incomplete = 0;
  for (const Rule& r : kRules)
    if ((supported & r.bit) && cruises < r.cruises) incomplete |= r.bit;
  b.append(char(0x07 | (cruises < 1 ? 0x20 : 0)));
  b.append(char(supported));
  b.append(char(incomplete));
  return b;
}

namespace {

// The CAN engine's on-board tests as its last completed runs left them (words as sent; the
// values worked out from the steps of their unit-and-scaling IDs). `cruises`: the drive cycles
// after a clear the monitor needs to run again, as its readiness does; the small-leak test
// needs a cold soak the demo's drive never gives.
struct MonitorTest {
  std::uint8_t mid, tid, scaling;
  std::uint16_t value, minimum, maximum;
  int cruises;
};
constexpr int kNever = 1 << 20;
constexpr MonitorTest kEngineTests[] = {
    {0x01, 0x01, 0x0A, 0x0E66, 0x0CCD, 0x1000, 2},       // O2 B1S1 rich to lean threshold 0.45 V (0.40-0.50)
    {0x01, 0x02, 0x0A, 0x0E66, 0x0CCD, 0x1000, 2},       // lean to rich threshold, the same
    {0x01, 0x05, 0x10, 0x0050, 0x0000, 0x0096, 2},       // rich to lean switch 80 ms (up to 150)
    {0x01, 0x06, 0x10, 0x0046, 0x0000, 0x0096, 2},       // lean to rich switch 70 ms
    {0x02, 0x07, 0x0A, 0x0333, 0x0000, 0x0666, 2},       // O2 B1S2 lowest voltage 0.10 V (up to 0.20)
    {0x02, 0x08, 0x0A, 0x1B33, 0x1666, 0x2000, 2},       // highest voltage 0.85 V (0.70-1.00)
    {0x21, 0x80, 0x20, 0x005A, 0x0000, 0x00C0, 3},       // catalyst B1 storage ratio 0.35 (up to 0.75)
    {0x31, 0x80, 0x32, 0x0123, 0x0050, 0x0400, 2},       // EGR B1 flow, an ID the program's table lacks
    {0x3B, 0x80, 0xFE, 0xFED4, 0xFC18, 0xFF9C, 4},       // EVAP 0.040": -75 Pa (-250 to -25)
    {0x3C, 0x80, 0xFE, 0xFED4, 0xFC18, 0xFF9C, kNever},  // EVAP 0.020"
    {0x41, 0x81, 0x0E, 0x0ACB, 0x07D0, 0x0FA0, 1},       // O2 heater B1S1 2.763 A (2-4)
    // Misfire counts of cylinders 1-4: the average of ten cycles (0B) and this one (0C), at
    // most 50. Cylinder 3 misfires more than that now (P0300 is stored).
    {0xA2, 0x0B, 0x24, 2, 0, 50, 1},
    {0xA2, 0x0C, 0x24, 0, 0, 50, 1},
    {0xA3, 0x0B, 0x24, 1, 0, 50, 1},
    {0xA3, 0x0C, 0x24, 3, 0, 50, 1},
    {0xA4, 0x0B, 0x24, 38, 0, 50, 1},
    {0xA4, 0x0C, 0x24, 71, 0, 50, 1},
    {0xA5, 0x0B, 0x24, 0, 0, 50, 1},
    {0xA5, 0x0C, 0x24, 1, 0, 50, 1},
};

// The GM car's tests in the older form: a test ID, then one line per component with value
// and limit in GM's own scaling. Component 0x81's top bit makes its limit a minimum.
struct LegacyTest {
  std::uint8_t tid, cid;
  std::uint16_t value, limit;
};
constexpr LegacyTest kGmTests[] = {
    {0x01, 0x01, 0x0010, 0x0040}, {0x02, 0x11, 0x0003, 0x0064}, {0x02, 0x12, 0x0002, 0x0064},
    {0x02, 0x13, 0x0005, 0x0064}, {0x02, 0x14, 0x0001, 0x0064}, {0x03, 0x81, 0x0018, 0x0020},
};

template <class Rows, class Id>
QByteArray idBitmap(std::uint8_t base, const Rows& rows, Id id) {
  return bitmap(base, [&](int p) {
    return std::any_of(std::begin(rows), std::end(rows),
                       [&](const auto& r) { return id(r) == p || (p % 0x20 == 0 && id(r) > p); });
  });
}

}  // namespace

std::optional<QByteArray> Vehicle::monitorTests(Ecu ecu, std::uint8_t mid, Millis sinceStart) const {
  if (config_.car != Car::Can || ecu != Ecu::Engine) return std::nullopt;
  const auto midOf = [](const MonitorTest& t) { return int(t.mid); };
  if (mid % 0x20 == 0) {
    if (mid != 0 && std::none_of(std::begin(kEngineTests), std::end(kEngineTests),
                                 [&](const MonitorTest& t) { return t.mid > mid; }))
      return std::nullopt;
    return QByteArray(1, char(mid)) + idBitmap(mid, kEngineTests, midOf);
  }
  const int cruises = clearedAt_ ? cruisesBetween(clearedAt_->count(), sinceStart.count()) : kNever;
  QByteArray records;
  for (const MonitorTest& t : kEngineTests) {
    if (t.mid != mid) continue;
    const bool ran = t.cruises != kNever && cruises >= t.cruises;
    records += QByteArray(1, char(t.mid)) + char(t.tid) + char(t.scaling) + two(ran ? t.value : 0) +
               two(ran ? t.minimum : 0) + two(ran ? t.maximum : 0);
  }
  if (records.isEmpty()) return std::nullopt;
  return records;
}

std::vector<QByteArray> Vehicle::legacyTests(std::uint8_t tid) const {
  std::vector<QByteArray> lines;
  if (config_.car != Car::GmVpw) return lines;
  if (tid % 0x20 == 0) {
    const auto tidOf = [](const LegacyTest& t) { return int(t.tid); };
    if (tid == 0 || std::any_of(std::begin(kGmTests), std::end(kGmTests),
                                [&](const LegacyTest& t) { return t.tid > tid; }))
      lines.push_back(QByteArray(1, char(tid)) + idBitmap(tid, kGmTests, tidOf));
    return lines;
  }
  for (const LegacyTest& t : kGmTests)
    if (t.tid == tid) lines.push_back(QByteArray(1, char(t.tid)) + char(t.cid) + two(t.value) + two(t.limit));
  return lines;
}

QByteArray Vehicle::vehicleInfo(Ecu ecu, std::uint8_t pid) const {
  const bool can = config_.car == Car::Can;
  const bool engine = ecu == Ecu::Engine;
  switch (pid) {
    case 0x00:
      if (!can) return {};
      return engine ? QByteArray::fromHex("50400000") : QByteArray::fromHex("10400000");  // 02 04 0A; 04 0A
    case 0x02:
      return engine ? QByteArray(can ? kCanVin : kVpwVin) : QByteArray();
    case 0x04:
      if (!engine) return can ? padded("24237180", 16) : QByteArray();
      return can ? padded("12653917", 16) + padded("12656842", 16) : padded("09386542", 16);
    case 0x0A:
      if (!can) return {};
      // The acronym in four bytes, a dash, then the name in fifteen.
      return engine ? padded("ECM", 4) + "-" + padded("EngineControl", 15)
                    : padded("TCM", 4) + "-" + padded("TransmissionCtl", 15);
    default:
      return {};
  }
}

int Vehicle::vehicleInfoCount(Ecu ecu, std::uint8_t pid) const {
  const QByteArray items = vehicleInfo(ecu, pid);
  return pid == 0x04 ? int(items.size() / 16) : (items.isEmpty() ? 0 : 1);
}

LaunchFigures Vehicle::launchFigures() const {
  LaunchFigures f;
  double distanceM = 0;
  bool hit100 = false;
  for (std::size_t i = 1; i < launch_.size(); ++i) {
    const double v0 = launch_[i - 1].speed;
    const double v1 = launch_[i].speed;
    const double t1 = double(i) * kSampleSeconds;
    if (!hit100 && v1 * 3.6 >= 100) {
      hit100 = true;
      const double frac = (100 / 3.6 - v0) / (v1 - v0);
      f.zeroTo100Seconds = t1 - kSampleSeconds + frac * kSampleSeconds;
    }
    const double step = (v0 + v1) / 2 * kSampleSeconds;
    if (distanceM + step >= kQuarterMileKm * 1000 && f.quarterMileSeconds == 0) {
      const double frac = (kQuarterMileKm * 1000 - distanceM) / step;
      f.quarterMileSeconds = t1 - kSampleSeconds + frac * kSampleSeconds;
      f.trapSpeedKmh = (v0 + (v1 - v0) * frac) * 3.6;
    }
    distanceM += step;
  }
  return f;
}

}  // namespace tarvex::sim
