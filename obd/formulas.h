#pragma once

#include <cstdint>

namespace tarvex::obd {

// The published formulas of the quantities both service 01 and the GM
// enhanced parameters carry, on the count in the data bytes (A, or 256A + B).
// The simulated car encodes with the same scales, the other way round.
inline constexpr double kCountsPerPercent = 2.55;      // A / 2.55 %
inline constexpr double kCountsPerTrimPercent = 1.28;  // A / 1.28 - 100 %
inline constexpr double kTrimOffset = 100;
inline constexpr double kTemperatureOffset = 40;  // A - 40 °C
inline constexpr double kCountsPerRpm = 4;        // (256A + B) / 4 rpm
inline constexpr double kCountsPerGramPerSecond = 100;
inline constexpr double kCountsPerDegree = 2;  // A / 2 - 64 ° before TDC
inline constexpr double kTimingOffset = 64;
inline constexpr double kCountsPerOxygenVolt = 200;  // A / 200 V
inline constexpr double kCountsPerTenth = 10;        // GM volts and air-fuel ratio; catalysts' 0.1 °C
inline constexpr std::uint8_t kLampBit = 0x80;       // the MIL, beside a 7-bit code count

// A / 2.55 rather than A * 100 / 255: the GM scan has always shown (and
// logged) the 15th digit this division gives.
constexpr double percent(double counts) {
  return counts / kCountsPerPercent;
}
// Fuel trims and the oxygen sensors' trims: 128 is none, 0 is -100 %.
constexpr double fuelTrim(double counts) {
  return counts / kCountsPerTrimPercent - kTrimOffset;
}
constexpr double celsius(double counts) {
  return counts - kTemperatureOffset;
}
constexpr double rpm(double counts) {
  return counts / kCountsPerRpm;
}
constexpr double gramsPerSecond(double counts) {
  return counts / kCountsPerGramPerSecond;
}
constexpr double timingAdvance(double counts) {
  return counts / kCountsPerDegree - kTimingOffset;
}
constexpr double oxygenVolts(double counts) {
  return counts / kCountsPerOxygenVolt;
}
constexpr double tenths(double counts) {
  return counts / kCountsPerTenth;
}

// Byte A of the monitor status: the lamp, and how many codes are stored.
struct LampAndCount {
  bool milOn;
  int storedCodes;
};
constexpr LampAndCount lampAndCount(std::uint8_t a) {
  return {(a & kLampBit) != 0, a & 0x7F};
}

}  // namespace tarvex::obd
