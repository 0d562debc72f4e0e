#pragma once

#include <QString>
#include <array>
#include <optional>

#include "obd/pids.h"

namespace tarvex::obd {

// How a GM enhanced parameter's (service 22) data bytes become its value. The
// count is the data bytes as one number (A, or 256A + B).
enum class Conversion {
  kQuarter,       // engine speed: count / 4
  kWhole,         // the count itself
  kMinus40,       // temperatures: count - 40
  kPercent,       // count / 2.55
  kHundredth,     // air flow: count / 100
  kFuelTrim,      // count / 1.28 - 100
  kHalfMinus64,   // timing: count / 2 - 64
  kTroubleCodes,  // bit 7: the lamp, the rest: the stored-code count
  kTenth,         // volts, air-fuel ratio: count / 10
  kOxygen,        // A / 200 volts, B as a fuel trim
  kFuelStatus,    // the fuel-system states of banks 1 (A) and 2 (B)
};

// What an answer says: the parameter's own value, then the second one its
// answer carries (an oxygen sensor's trim, bank 2's fuel system). Each is a
// number or words; neither for a fuel-system state without a name.
struct EnhancedValue {
  std::array<std::optional<double>, 2> numbers;
  std::array<QString, 2> words;
  std::optional<bool> milOn;
};

// Nothing without data bytes, or with fewer than two for a conversion that
// reads A and B.
std::optional<EnhancedValue> decodeEnhanced(Conversion conversion, Bytes data);

}  // namespace tarvex::obd
