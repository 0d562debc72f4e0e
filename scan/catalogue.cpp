#include "scan/catalogue.h"

namespace tarvex {

namespace {

using enum Box;
using enum Conversion;

// clang-format off
constexpr std::array<Parameter, kParameterCount> kCatalogue{{
    {1,  "22000C01", "62 00 0C", 2, kRPM,           std::nullopt,     true,  1,  "RPM",          kQuarter},
    {2,  "22000D01", "62 00 0D", 1, kSpeed,         std::nullopt,     true,  2,  "Speed",        kWhole},
    {3,  "22000F01", "62 00 0F", 1, kIAT,           std::nullopt,     true,  3,  "IAT",          kMinus40},
    {4,  "22001101", "62 00 11", 1, kTPS,           std::nullopt,     true,  7,  "TPS",          kPercent},
    {5,  "22000401", "62 00 04", 1, kLOAD,          std::nullopt,     true,  6,  "LOAD",         kPercent},
    {6,  "22001001", "62 00 10", 2, kMAF,           std::nullopt,     true,  5,  "MAF",          kHundredth},
    {7,  "22000501", "62 00 05", 1, kCoolant,       std::nullopt,     true,  10, "Coolant",      kMinus40},
    {8,  "22000601", "62 00 06", 1, kSTFTB1,        std::nullopt,     true,  12, "STFTB1",       kFuelTrim},
    {9,  "22000701", "62 00 07", 1, kLTFTB1,        std::nullopt,     true,  13, "LTFTB1",       kFuelTrim},
    {10, "2211A101", "62 11 A1", 2, kERT,           std::nullopt,     true,  4,  "ERT",          kWhole},
    {11, "22000B01", "62 00 0B", 1, kMAP,           std::nullopt,     true,  8,  "MAP",          kWhole},
    {12, "22000E01", "62 00 0E", 1, kTiming,        std::nullopt,     true,  9,  "Timing",       kHalfMinus64},
    {13, "22125D01", "62 12 5D", 1, kKR,            std::nullopt,     false, 11, "KR",           kWhole},
    {14, "22000101", "62 00 01", 1, kDTC,           std::nullopt,     true,  0,  "",             kTroubleCodes},
    {15, "2219F501", "62 19 F5", 1, kGear,          std::nullopt,     false, 16, "Gear",         kWhole},
    {16, "22114101", "62 11 41", 1, kVolts,         std::nullopt,     true,  17, "Volts",        kTenth},
    {17, "22119E01", "62 11 9E", 1, kAirFuel,       std::nullopt,     false, 18, "AFR",          kTenth},
    {18, "22001401", "62 00 14", 2, kO2B1S1,        kO2B1S1T,         true,  19, "O2B1S1V",      kOxygen},
    {19, "22001501", "62 00 15", 2, kO2B1S2,        kO2B1S2T,         false, 20, "O2B1S2V",      kOxygen},
    {20, "22001801", "62 00 18", 2, kO2B2S1,        kO2B2S1T,         true,  21, "O2B2S1V",      kOxygen},
    {21, "22001901", "62 00 19", 2, kO2B2S2,        kO2B2S2T,         false, 22, "O2B2S2V",      kOxygen},
    {22, "22000301", "62 00 03", 2, kFuelSysStatus, kFuelSysStatusB2, true,  23, "FuelStatusB1", kFuelStatus},
    {23, "22119B01", "62 11 9B", 1, kEGRDP,         std::nullopt,     true,  25, "EGRD%",        kPercent},
    {24, "22115201", "62 11 52", 1, kEGRAP,         std::nullopt,     true,  26, "EGRA%",        kPercent},
    {25, "22117101", "62 11 71", 1, kEGRDC,         std::nullopt,     true,  27, "EGRDC",        kPercent},
    {26, "22000801", "62 00 08", 1, kSTFTB2,        std::nullopt,     true,  14, "STFTB2",       kFuelTrim},
    {27, "22000901", "62 00 09", 1, kLTFTB2,        std::nullopt,     true,  15, "LTFTB2",       kFuelTrim},
}};
// clang-format on

// The bank 2 fuel status has no row of its own but a log column.
constexpr CsvColumn kFuelStatusB2Column{"FuelStatusB2", kFuelSysStatusB2};
constexpr int kFuelStatusB2Place = 24;

constexpr std::array<std::string_view, kBoxCount> kBoxNames{
    "RPM",     "Speed",  "IAT",    "TPS",     "LOAD",    "MAF",           "Coolant", "STFTB1",
    "LTFTB1",  "ERT",    "MAP",    "Timing",  "KR",      "DTC",           "Gear",    "Volts",
    "AirFuel", "O2B1S1", "O2B1S2", "O2B2S1",  "O2B2S2",  "FuelSysStatus", "EGRDP",   "EGRAP",
    "EGRDC",   "STFTB2", "LTFTB2", "O2B1S1T", "O2B1S2T", "O2B2S1T",       "O2B2S2T", "FuelSysStatusB2"};

struct BoxMeaning {
  std::string_view title;
  std::string_view unit;
};
constexpr std::array<BoxMeaning, kBoxCount> kMeanings{{
    {"Engine speed", "rpm"},
    {"Vehicle speed", "km/h"},
    {"Intake air temperature", "\u00B0C"},
    {"Throttle position", "%"},
    {"Engine load", "%"},
    {"Mass air flow", "g/s"},
    {"Coolant temperature", "\u00B0C"},
    {"Short term fuel trim bank 1", "%"},
    {"Long term fuel trim bank 1", "%"},
    {"Engine run time", "s"},
    {"Manifold absolute pressure", "kPa"},
    {"Ignition timing", "\u00B0"},
    {"Knock retard", "\u00B0"},
    {"Trouble code count", ""},
    {"Current gear", ""},
    {"Ignition voltage", "V"},
    {"Air fuel ratio", ":1"},
    {"O2 sensor bank 1 sensor 1", "V"},
    {"O2 sensor bank 1 sensor 2", "V"},
    {"O2 sensor bank 2 sensor 1", "V"},
    {"O2 sensor bank 2 sensor 2", "V"},
    {"Fuel system status bank 1", ""},
    {"EGR desired position", "%"},
    {"EGR actual position", "%"},
    {"EGR duty cycle", "%"},
    {"Short term fuel trim bank 2", "%"},
    {"Long term fuel trim bank 2", "%"},
    {"O2 sensor trim bank 1 sensor 1", "%"},
    {"O2 sensor trim bank 1 sensor 2", "%"},
    {"O2 sensor trim bank 2 sensor 1", "%"},
    {"O2 sensor trim bank 2 sensor 2", "%"},
    {"Fuel system status bank 2", ""},
}};

std::array<CsvColumn, kCsvBoxColumns> buildCsvColumns() {
  std::array<CsvColumn, kCsvBoxColumns> columns{};
  for (const Parameter& p : kCatalogue) {
    if (p.csvColumn > 0) columns[p.csvColumn - 1] = {p.csvName, p.box};
  }
  columns[kFuelStatusB2Place - 1] = kFuelStatusB2Column;
  return columns;
}

}  // namespace

std::string_view boxName(Box box) {
  return kBoxNames[static_cast<std::size_t>(box)];
}

const std::array<Parameter, kParameterCount>& catalogue() {
  return kCatalogue;
}

const Parameter& parameterAt(int position) {
  return kCatalogue[static_cast<std::size_t>(position - 1)];
}

const std::array<CsvColumn, kCsvBoxColumns>& csvColumns() {
  static const std::array<CsvColumn, kCsvBoxColumns> columns = buildCsvColumns();
  return columns;
}

BoxChannel boxChannel(Box box) {
  const BoxMeaning& m = kMeanings[static_cast<std::size_t>(box)];
  for (const CsvColumn& column : csvColumns())
    if (column.box == box) return {column.name, m.title, m.unit};
  return {boxName(box), m.title, m.unit};
}

}  // namespace tarvex
