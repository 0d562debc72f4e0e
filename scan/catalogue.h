#pragma once

#include <array>
#include <optional>
#include <string_view>

#include "obd/enhanced.h"

namespace tarvex {

// The value boxes of the main window that the scan fills: one per parameter,
// then the boxes filled as a second target of a parameter's answer.
enum class Box : int {
  kRPM,
  kSpeed,
  kIAT,
  kTPS,
  kLOAD,
  kMAF,
  kCoolant,
  kSTFTB1,
  kLTFTB1,
  kERT,
  kMAP,
  kTiming,
  kKR,
  kDTC,
  kGear,
  kVolts,
  kAirFuel,
  kO2B1S1,
  kO2B1S2,
  kO2B2S1,
  kO2B2S2,
  kFuelSysStatus,
  kEGRDP,
  kEGRAP,
  kEGRDC,
  kSTFTB2,
  kLTFTB2,
  kO2B1S1T,
  kO2B1S2T,
  kO2B2S1T,
  kO2B2S2T,
  kFuelSysStatusB2,
  kCount
};
inline constexpr int kBoxCount = static_cast<int>(Box::kCount);

// The control name of a box on the main window ("RPM", "FuelSysStatusB2", ...).
std::string_view boxName(Box box);

// How a parameter's data bytes become its value: obd/ decodes every answer.
using obd::Conversion;

struct Parameter {
  int position;  // scan order, 1..27
  std::string_view request;
  std::string_view prefix;
  int bytes;
  Box box;
  std::optional<Box> second;  // a second box filled from the same answer
  bool selectedAtStart;
  int csvColumn;  // 1..27; 0: not logged
  std::string_view csvName;
  Conversion conversion;
};

inline constexpr int kParameterCount = 27;

// The fixed table, in scan order.
const std::array<Parameter, kParameterCount>& catalogue();
// The row at a scan position 1..27.
const Parameter& parameterAt(int position);

struct CsvColumn {
  std::string_view name;
  Box box;
};
inline constexpr int kCsvBoxColumns = 27;
// The logged boxes in log column order (the time column follows them).
const std::array<CsvColumn, kCsvBoxColumns>& csvColumns();

// A box's values as a channel of readings: named as its log column ("AFR",
// "O2B1S1V"), or as the box where it has none ("DTC", "O2B1S1T"), with what
// it is and its unit, for charts and replay alike.
struct BoxChannel {
  std::string_view name;
  std::string_view title;
  std::string_view unit;
};
BoxChannel boxChannel(Box box);

}  // namespace tarvex
