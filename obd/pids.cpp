#include "obd/pids.h"

#include <QStringList>
#include <algorithm>
#include <array>

#include "core/text.h"
#include "obd/formulas.h"
#include "obd/readiness.h"
#include "obd/trouble_codes.h"

namespace tarvex::obd {
namespace {

using namespace std::string_view_literals;

constexpr auto kPercent = "%"sv;
constexpr auto kCelsius = "°C"sv;
constexpr auto kKpa = "kPa"sv;
constexpr auto kVolt = "V"sv;
constexpr auto kLambda = "λ"sv;

double word(Bytes b, std::size_t at = 0) {
  return b[at] * 256.0 + b[at + 1];
}
Value one(double value, std::string_view unit) {
  return Value{{Reading{value, unit}}, {}};
}
Value words(QString text) {
  return Value{{}, std::move(text)};
}

// The formulas, named by what they do to the data bytes A, B, C, D.
std::optional<Value> percentOfByte(Bytes b) {
  return one(percent(b[0]), kPercent);
}
std::optional<Value> trim(Bytes b) {
  return one(fuelTrim(b[0]), kPercent);
}
std::optional<Value> temperature(Bytes b) {
  return one(celsius(b[0]), kCelsius);
}
std::optional<Value> kpa(Bytes b) {
  return one(b[0], kKpa);
}
std::optional<Value> fuelPressure(Bytes b) {
  return one(b[0] * 3.0, kKpa);
}
std::optional<Value> engineSpeed(Bytes b) {
  return one(rpm(word(b)), "rpm"sv);
}
std::optional<Value> speed(Bytes b) {
  return one(b[0], "km/h"sv);
}
std::optional<Value> timing(Bytes b) {
  return one(timingAdvance(b[0]), "° before TDC"sv);
}
std::optional<Value> airFlow(Bytes b) {
  return one(gramsPerSecond(word(b)), "g/s"sv);
}
std::optional<Value> seconds(Bytes b) {
  return one(word(b), "s"sv);
}
std::optional<Value> minutes(Bytes b) {
  return one(word(b), "min"sv);
}
std::optional<Value> km(Bytes b) {
  return one(word(b), "km"sv);
}
std::optional<Value> count(Bytes b) {
  return one(b[0], ""sv);
}
std::optional<Value> railVacuum(Bytes b) {
  return one(word(b) * 0.079, kKpa);
}
std::optional<Value> railGauge(Bytes b) {
  return one(word(b) * 10.0, kKpa);
}
std::optional<Value> catalyst(Bytes b) {
  return one(celsius(tenths(word(b))), kCelsius);
}
std::optional<Value> moduleVolts(Bytes b) {
  return one(word(b) / 1000.0, kVolt);
}
std::optional<Value> absoluteLoad(Bytes b) {
  return one(percent(word(b)), kPercent);
}
std::optional<Value> lambda(Bytes b) {
  return one(word(b) * 2.0 / 65536.0, kLambda);
}
std::optional<Value> maxAirFlow(Bytes b) {
  return one(b[0] * 10.0, "g/s"sv);
}
std::optional<Value> absoluteVapour(Bytes b) {
  return one(word(b) / 200.0, kKpa);
}
std::optional<Value> injectionTiming(Bytes b) {
  return one(word(b) / 128.0 - 210.0, "°"sv);
}
std::optional<Value> fuelRate(Bytes b) {
  return one(word(b) / 20.0, "L/h"sv);
}
std::optional<Value> torque(Bytes b) {
  return one(b[0] - 125.0, kPercent);
}
std::optional<Value> newtonMetres(Bytes b) {
  return one(word(b), "Nm"sv);
}
std::optional<Value> odometer(Bytes b) {
  return one((((b[0] * 256.0 + b[1]) * 256.0 + b[2]) * 256.0 + b[3]) / 10.0, "km"sv);
}
// A signed 16-bit count of quarter pascals.
std::optional<Value> vapour(Bytes b) {
  return one(static_cast<std::int16_t>(b[0] << 8 | b[1]) / 4.0, "Pa"sv);
}

// Narrow-band oxygen sensor: volts, and the trim it drives; a trim byte of
// FF says the sensor takes no part in trimming.
std::optional<Value> narrowOxygen(Bytes b) {
  Value v = one(oxygenVolts(b[0]), kVolt);
  if (b[1] != 0xFF) v.readings.push_back({fuelTrim(b[1]), kPercent});
  return v;
}
std::optional<Value> wideOxygenVolts(Bytes b) {
  return Value{{{word(b) * 2.0 / 65536.0, kLambda}, {word(b, 2) * 8.0 / 65536.0, kVolt}}, {}};
}
std::optional<Value> wideOxygenCurrent(Bytes b) {
  return Value{{{word(b) * 2.0 / 65536.0, kLambda}, {word(b, 2) / 256.0 - 128.0, "mA"sv}}, {}};
}
// Secondary oxygen sensor trims: bank 1 (or 2) in A, bank 3 (or 4) in B.
std::optional<Value> trimPair(Bytes b) {
  return Value{{{fuelTrim(b[0]), kPercent}, {fuelTrim(b[1]), kPercent}}, {}};
}
std::optional<Value> maxima(Bytes b) {
  return Value{{{b[0] * 1.0, kLambda}, {b[1] * 1.0, kVolt}, {b[2] * 1.0, "mA"sv}, {b[3] * 10.0, kKpa}}, {}};
}
std::optional<Value> torquePoints(Bytes b) {
  Value v;
  for (std::uint8_t byte : b) v.readings.push_back({byte - 125.0, kPercent});
  return v;
}

// A support bitmap as its 32 bits in hex: SupportedPids reads what they mean.
std::optional<Value> bitmap(Bytes b) {
  return words(QString::asprintf("%02X%02X%02X%02X", b[0], b[1], b[2], b[3]));
}

// Told in words only: the lamp and the count are no quantities to chart.
std::optional<Value> monitorStatus(Bytes b) {
  const auto r = readReadiness(b);
  if (!r) return std::nullopt;
  return words(
      QStringLiteral("MIL %1, %2 stored code%3, %4 ignition")
          .arg(r->milOn ? QStringLiteral("on") : QStringLiteral("off"))
          .arg(r->storedCodes)
          .arg(r->storedCodes == 1 ? QString() : QStringLiteral("s"))
          .arg(r->ignition == Ignition::kSpark ? QStringLiteral("spark") : QStringLiteral("compression")));
}

std::optional<Value> freezeCode(Bytes b) {
  if (b[0] == 0 && b[1] == 0) return words(QStringLiteral("none"));
  return words(codeText(b[0], b[1]));
}

// A fuel system's states, one bit each: the short name the GM scan shows and
// logs, and what it means.
struct FuelState {
  int bit;
  std::string_view name;
  std::string_view meaning;
};
constexpr FuelState kFuelStates[] = {
    {1, "Open Loop"sv, "open loop, engine not yet warm"sv},
    {2, "Closed Loop"sv, "closed loop on the oxygen sensors"sv},
    {4, "Open Loop Driving"sv, "open loop for load or fuel cut while slowing"sv},
    {8, "Open Loop Fault"sv, "open loop for a fault"sv},
    {16, "Closed Loop Fault"sv, "closed loop with a fault in an oxygen sensor"sv},
};
const FuelState* fuelState(int state) {
  for (const FuelState& s : kFuelStates)
    if (s.bit == state) return &s;
  return nullptr;
}
QString fuelSystemText(int state) {
  const FuelState* s = fuelState(state);
  return s ? toQString(s->meaning) : QString();
}
std::optional<Value> fuelSystem(Bytes b) {
  QStringList banks;
  for (std::size_t i = 0; i < 2; ++i) {
    if (b[i] == 0) continue;  // no such fuel system
    const QString text = fuelSystemText(b[i]);
    if (text.isEmpty()) return std::nullopt;  // more than one state, or none defined
    banks << QStringLiteral("system %1: %2").arg(i + 1).arg(text);
  }
  return words(banks.isEmpty() ? QStringLiteral("none") : banks.join(QStringLiteral("; ")));
}

std::optional<Value> secondaryAir(Bytes b) {
  switch (b[0]) {
    case 1:
      return words(QStringLiteral("upstream of the first catalytic converter"));
    case 2:
      return words(QStringLiteral("downstream of the catalytic converter"));
    case 4:
      return words(QStringLiteral("from outside or off"));
    case 8:
      return words(QStringLiteral("pump on for diagnosis"));
    default:
      return std::nullopt;
  }
}

// Which oxygen sensors there are: `perBank` bits a bank, bank 1 lowest.
Value sensorsPresent(std::uint8_t bits, int perBank) {
  QStringList found;
  for (int bit = 0; bit < 8; ++bit)
    if (bits & (1 << bit)) found << QStringLiteral("B%1S%2").arg(bit / perBank + 1).arg(bit % perBank + 1);
  return words(found.isEmpty() ? QStringLiteral("none") : found.join(QLatin1Char(' ')));
}
std::optional<Value> sensorsOfTwoBanks(Bytes b) {
  return sensorsPresent(b[0], 4);
}
std::optional<Value> sensorsOfFourBanks(Bytes b) {
  return sensorsPresent(b[0], 2);
}

std::optional<Value> auxiliaryInput(Bytes b) {
  return words((b[0] & 1) ? QStringLiteral("power take-off on") : QStringLiteral("power take-off off"));
}

constexpr std::array<std::string_view, 14> kStandards{
    ""sv,
    "OBD-II (California ARB)"sv,
    "OBD (US EPA)"sv,
    "OBD and OBD-II"sv,
    "OBD-I"sv,
    "not OBD compliant"sv,
    "EOBD (Europe)"sv,
    "EOBD and OBD-II"sv,
    "EOBD and OBD"sv,
    "EOBD, OBD and OBD-II"sv,
    "JOBD (Japan)"sv,
    "JOBD and OBD-II"sv,
    "JOBD and EOBD"sv,
    "JOBD, EOBD and OBD-II"sv,
};
std::optional<Value> obdStandard(Bytes b) {
  if (b[0] > 0 && b[0] < kStandards.size()) return words(toQString(kStandards[b[0]]));
  return words(QStringLiteral("standard %1").arg(b[0]));
}

constexpr std::array<std::string_view, 24> kFuelTypes{
    "not available"sv,
    "gasoline"sv,
    "methanol"sv,
    "ethanol"sv,
    "diesel"sv,
    "LPG"sv,
    "CNG"sv,
    "propane"sv,
    "electric"sv,
    "bi-fuel, running on gasoline"sv,
    "bi-fuel, running on methanol"sv,
    "bi-fuel, running on ethanol"sv,
    "bi-fuel, running on LPG"sv,
    "bi-fuel, running on CNG"sv,
    "bi-fuel, running on propane"sv,
    "bi-fuel, running on electricity"sv,
    "bi-fuel, running on electric and combustion engine"sv,
    "hybrid gasoline"sv,
    "hybrid ethanol"sv,
    "hybrid diesel"sv,
    "hybrid electric"sv,
    "hybrid, electric and combustion engine"sv,
    "hybrid regenerative"sv,
    "bi-fuel, running on diesel"sv,
};
std::optional<Value> fuelType(Bytes b) {
  if (b[0] < kFuelTypes.size()) return words(toQString(kFuelTypes[b[0]]));
  return words(QStringLiteral("fuel type %1").arg(b[0]));
}

// Oxygen sensor positions of PIDs 14-1B, 24-2B and 34-3B (with PID 13's
// layout: bank 1 sensors 1-4, then bank 2).
#define TARVEX_O2(first, kind, column, bytes, decoder)                                               \
  Pid{first, "O2 sensor bank 1 sensor 1 " kind, column "B1S1", kVolt, bytes, decoder},               \
      Pid{first + 1, "O2 sensor bank 1 sensor 2 " kind, column "B1S2", kVolt, bytes, decoder},       \
      Pid{first + 2, "O2 sensor bank 1 sensor 3 " kind, column "B1S3", kVolt, bytes, decoder},       \
      Pid{first + 3, "O2 sensor bank 1 sensor 4 " kind, column "B1S4", kVolt, bytes, decoder},       \
      Pid{first + 4, "O2 sensor bank 2 sensor 1 " kind, column "B2S1", kVolt, bytes, decoder},       \
      Pid{first + 5, "O2 sensor bank 2 sensor 2 " kind, column "B2S2", kVolt, bytes, decoder},       \
      Pid{first + 6, "O2 sensor bank 2 sensor 3 " kind, column "B2S3", kVolt, bytes, decoder}, Pid { \
    first + 7, "O2 sensor bank 2 sensor 4 " kind, column "B2S4", kVolt, bytes, decoder               \
  }

const Pid kTable[] = {
    {0x00, "PIDs supported 01-20", "PIDS_A", ""sv, 4, bitmap},
    {0x01, "Monitor status since codes cleared", "STATUS", ""sv, 4, monitorStatus},
    {0x02, "Code that stored the freeze frame", "FREEZE_DTC", ""sv, 2, freezeCode},
    {0x03, "Fuel system status", "FUEL_STATUS", ""sv, 2, fuelSystem},
    {0x04, "Calculated engine load", "LOAD", kPercent, 1, percentOfByte},
    {0x05, "Engine coolant temperature", "ECT", kCelsius, 1, temperature},
    {0x06, "Short term fuel trim bank 1", "STFT1", kPercent, 1, trim},
    {0x07, "Long term fuel trim bank 1", "LTFT1", kPercent, 1, trim},
    {0x08, "Short term fuel trim bank 2", "STFT2", kPercent, 1, trim},
    {0x09, "Long term fuel trim bank 2", "LTFT2", kPercent, 1, trim},
    {0x0A, "Fuel pressure (gauge)", "FP", kKpa, 1, fuelPressure},
    {0x0B, "Intake manifold absolute pressure", "MAP", kKpa, 1, kpa},
    {0x0C, "Engine speed", "RPM", "rpm"sv, 2, engineSpeed},
    {0x0D, "Vehicle speed", "VSS", "km/h"sv, 1, speed},
    {0x0E, "Timing advance (cylinder 1)", "SPARKADV", "° before TDC"sv, 1, timing},
    {0x0F, "Intake air temperature", "IAT", kCelsius, 1, temperature},
    {0x10, "Mass air flow", "MAF", "g/s"sv, 2, airFlow},
    {0x11, "Throttle position", "TP", kPercent, 1, percentOfByte},
    {0x12, "Commanded secondary air status", "AIR_STAT", ""sv, 1, secondaryAir},
    {0x13, "O2 sensors present (2 banks)", "O2SLOC", ""sv, 1, sensorsOfTwoBanks},
    TARVEX_O2(0x14, "voltage and trim", "O2", 2, narrowOxygen),
    {0x1C, "OBD standard", "OBDSUP", ""sv, 1, obdStandard},
    {0x1D, "O2 sensors present (4 banks)", "O2SLOC4", ""sv, 1, sensorsOfFourBanks},
    {0x1E, "Auxiliary input status", "PTO_STAT", ""sv, 1, auxiliaryInput},
    {0x1F, "Run time since engine start", "RUNTM", "s"sv, 2, seconds},
    {0x20, "PIDs supported 21-40", "PIDS_B", ""sv, 4, bitmap},
    {0x21, "Distance travelled with MIL on", "MIL_DIST", "km"sv, 2, km},
    {0x22, "Fuel rail pressure (relative to manifold)", "FRP", kKpa, 2, railVacuum},
    {0x23, "Fuel rail gauge pressure", "FRP_G", kKpa, 2, railGauge},
    TARVEX_O2(0x24, "lambda and voltage", "WO2V", 4, wideOxygenVolts),
    {0x2C, "Commanded EGR", "EGR_PCT", kPercent, 1, percentOfByte},
    {0x2D, "EGR error", "EGR_ERR", kPercent, 1, trim},
    {0x2E, "Commanded evaporative purge", "EVAP_PCT", kPercent, 1, percentOfByte},
    {0x2F, "Fuel tank level", "FLI", kPercent, 1, percentOfByte},
    {0x30, "Warm-ups since codes cleared", "WARM_UPS", ""sv, 1, count},
    {0x31, "Distance travelled since codes cleared", "CLR_DIST", "km"sv, 2, km},
    {0x32, "Evaporative system vapour pressure", "EVAP_VP", "Pa"sv, 2, vapour},
    {0x33, "Barometric pressure", "BARO", kKpa, 1, kpa},
    TARVEX_O2(0x34, "lambda and current", "WO2C", 4, wideOxygenCurrent),
    {0x3C, "Catalyst temperature bank 1 sensor 1", "CATEMP11", kCelsius, 2, catalyst},
    {0x3D, "Catalyst temperature bank 2 sensor 1", "CATEMP21", kCelsius, 2, catalyst},
    {0x3E, "Catalyst temperature bank 1 sensor 2", "CATEMP12", kCelsius, 2, catalyst},
    {0x3F, "Catalyst temperature bank 2 sensor 2", "CATEMP22", kCelsius, 2, catalyst},
    {0x40, "PIDs supported 41-60", "PIDS_C", ""sv, 4, bitmap},
    {0x42, "Control module voltage", "VPWR", kVolt, 2, moduleVolts},
    {0x43, "Absolute load", "LOAD_ABS", kPercent, 2, absoluteLoad},
    {0x44, "Commanded equivalence ratio", "LAMBDA", kLambda, 2, lambda},
    {0x45, "Relative throttle position", "TP_R", kPercent, 1, percentOfByte},
    {0x46, "Ambient air temperature", "AAT", kCelsius, 1, temperature},
    {0x47, "Absolute throttle position B", "TP_B", kPercent, 1, percentOfByte},
    {0x48, "Absolute throttle position C", "TP_C", kPercent, 1, percentOfByte},
    {0x49, "Accelerator pedal position D", "APP_D", kPercent, 1, percentOfByte},
    {0x4A, "Accelerator pedal position E", "APP_E", kPercent, 1, percentOfByte},
    {0x4B, "Accelerator pedal position F", "APP_F", kPercent, 1, percentOfByte},
    {0x4C, "Commanded throttle actuator", "TAC_PCT", kPercent, 1, percentOfByte},
    {0x4D, "Time run with MIL on", "MIL_TIME", "min"sv, 2, minutes},
    {0x4E, "Time since codes cleared", "CLR_TIME", "min"sv, 2, minutes},
    {0x4F, "Largest lambda, O2 voltage, O2 current and MAP", "MAX_VALUES", kLambda, 4, maxima},
    {0x50, "Largest air flow rate from the MAF sensor", "MAF_MAX", "g/s"sv, 4, maxAirFlow},
    {0x51, "Fuel type", "FUEL_TYP", ""sv, 1, fuelType},
    {0x52, "Ethanol fuel", "ALCH_PCT", kPercent, 1, percentOfByte},
    {0x53, "Absolute evaporative system vapour pressure", "EVAP_VPA", kKpa, 2, absoluteVapour},
    {0x55, "Short term secondary O2 trim banks 1 and 3", "STSO2FT1", kPercent, 2, trimPair},
    {0x56, "Long term secondary O2 trim banks 1 and 3", "LTSO2FT1", kPercent, 2, trimPair},
    {0x57, "Short term secondary O2 trim banks 2 and 4", "STSO2FT2", kPercent, 2, trimPair},
    {0x58, "Long term secondary O2 trim banks 2 and 4", "LTSO2FT2", kPercent, 2, trimPair},
    {0x59, "Fuel rail absolute pressure", "FRP_A", kKpa, 2, railGauge},
    {0x5A, "Relative accelerator pedal position", "APP_R", kPercent, 1, percentOfByte},
    {0x5B, "Hybrid battery pack remaining life", "BAT_PWR", kPercent, 1, percentOfByte},
    {0x5C, "Engine oil temperature", "EOT", kCelsius, 1, temperature},
    {0x5D, "Fuel injection timing", "FUEL_TIMING", "°"sv, 2, injectionTiming},
    {0x5E, "Engine fuel rate", "FUEL_RATE", "L/h"sv, 2, fuelRate},
    {0x60, "PIDs supported 61-80", "PIDS_D", ""sv, 4, bitmap},
    {0x61, "Driver's demand engine torque", "TQ_DD", kPercent, 1, torque},
    {0x62, "Actual engine torque", "TQ_ACT", kPercent, 1, torque},
    {0x63, "Engine reference torque", "TQ_REF", "Nm"sv, 2, newtonMetres},
    {0x64, "Engine torque at idle and points 1-4", "TQ_MAX", kPercent, 5, torquePoints},
    {0x80, "PIDs supported 81-A0", "PIDS_E", ""sv, 4, bitmap},
    {0xA0, "PIDs supported A1-C0", "PIDS_F", ""sv, 4, bitmap},
    {0xA6, "Odometer", "ODO", "km"sv, 4, odometer},
    {0xC0, "PIDs supported C1-E0", "PIDS_G", ""sv, 4, bitmap},
};
#undef TARVEX_O2

}  // namespace

QString fuelSystemName(int state) {
  const FuelState* s = fuelState(state);
  return s ? toQString(s->name) : QString();
}

std::span<const Pid> service01() {
  return kTable;
}

const Pid* findPid(int pid) {
  const auto it = std::lower_bound(std::begin(kTable), std::end(kTable), pid,
                                   [](const Pid& row, int wanted) { return row.pid < wanted; });
  return it != std::end(kTable) && it->pid == pid ? &*it : nullptr;
}

Pace paceOf(int pid) {
  static constexpr std::uint8_t kFast[] = {0x04, 0x06, 0x08, 0x0B, 0x0C, 0x0D, 0x0E, 0x10, 0x11, 0x43, 0x44,
                                           0x45, 0x47, 0x48, 0x49, 0x4A, 0x4B, 0x4C, 0x5A, 0x5E, 0x61, 0x62};
  static constexpr std::uint8_t kOnce[] = {0x01, 0x13, 0x1C, 0x1D, 0x30, 0x4F, 0x50, 0x51, 0x63, 0x64};
  if (std::find(std::begin(kFast), std::end(kFast), pid) != std::end(kFast)) return Pace::kFast;
  if (SupportedPids::isBitmap(pid) || std::find(std::begin(kOnce), std::end(kOnce), pid) != std::end(kOnce))
    return Pace::kOnce;
  return Pace::kSlow;
}

std::optional<Value> decodePid(int pid, Bytes data) {
  const Pid* row = findPid(pid);
  if (!row || data.size() < static_cast<std::size_t>(row->bytes)) return std::nullopt;
  return row->decode(data.first(static_cast<std::size_t>(row->bytes)));
}

bool SupportedPids::add(int base, const std::vector<Message>& answers) {
  bool next = false;
  for (const Message& m : answers) {
    const auto& d = m.data;
    if (d.size() < 6 || d[0] != 0x41 || d[1] != base) continue;
    for (int bit = 0; bit < 32; ++bit)
      if (d[static_cast<std::size_t>(2 + bit / 8)] & (0x80 >> (bit % 8)))
        bits_.set(static_cast<std::size_t>(base + bit + 1));
    next = next || (d[5] & 1);
  }
  return next && base + 0x20 <= 0xE0;
}

std::vector<int> SupportedPids::parameters() const {
  std::vector<int> out;
  for (int pid = 1; pid < 256; ++pid)
    if (has(pid) && !isBitmap(pid)) out.push_back(pid);
  return out;
}

QString requestText(std::span<const int> pids) {
  QString text = QStringLiteral("01");
  for (int pid : pids) text += QString::asprintf("%02X", pid);
  return text;
}

std::vector<std::vector<int>> splitRequests(std::span<const int> pids, int most) {
  std::vector<std::vector<int>> out;
  for (std::size_t i = 0; i < pids.size(); i += static_cast<std::size_t>(most))
    out.emplace_back(pids.begin() + static_cast<std::ptrdiff_t>(i),
                     pids.begin() + static_cast<std::ptrdiff_t>(
                                        std::min(pids.size(), i + static_cast<std::size_t>(most))));
  return out;
}

MultiAnswer parseMulti(std::span<const int> asked, const std::vector<Message>& answers) {
  MultiAnswer out;
  std::vector<bool> answered(asked.size(), false);
  for (const Message& m : answers) {
    const auto& d = m.data;
    if (d.empty() || d[0] != 0x41) continue;
    std::size_t at = 1;
    while (at < d.size()) {
      const int pid = d[at];
      const auto wanted = std::find(asked.begin(), asked.end(), pid);
      const Pid* row = findPid(pid);
      if (wanted == asked.end() || !row || at + 1 + static_cast<std::size_t>(row->bytes) > d.size()) {
        out.cut = true;
        break;
      }
      const auto from = d.begin() + static_cast<std::ptrdiff_t>(at + 1);
      out.answers.push_back({m.source, pid, std::vector<std::uint8_t>(from, from + row->bytes)});
      answered[static_cast<std::size_t>(wanted - asked.begin())] = true;
      at += 1 + static_cast<std::size_t>(row->bytes);
    }
    if (!m.complete) out.cut = true;
  }
  for (std::size_t i = 0; i < asked.size(); ++i)
    if (!answered[i]) out.missing.push_back(asked[i]);
  return out;
}

std::optional<FrozenValue> freezeFrameValue(Bytes message) {
  if (message.size() < 3 || message[0] != 0x42) return std::nullopt;
  auto value = decodePid(message[1], message.subspan(3));
  if (!value) return std::nullopt;
  return FrozenValue{message[1], message[2], std::move(*value)};
}

}  // namespace tarvex::obd
