#include "obd/monitor_tests.h"

#include <algorithm>
#include <array>

#include "core/text.h"

namespace tarvex::obd {
namespace {

using namespace std::string_view_literals;

constexpr auto kVolt = "V"sv;
constexpr auto kSecond = "s"sv;
constexpr auto kKpa = "kPa"sv;
constexpr auto kPercent = "%"sv;
constexpr auto kDegree = "°"sv;
constexpr auto kLambda = "λ"sv;
constexpr auto kGram = "g"sv;

// The unit-and-scaling IDs as SAE J1979 lists them for service 06. Units the
// program converts for people (temperature, pressure, speed, time) are given
// in its own unit strings: milliseconds become seconds, millivolts volts.
// Steps the table prints rounded are binary fractions where its own range
// shows it (0x0A: 0.122 mV a step reaching 7.999 V at 0xFFFF is 1/8192 V).
// IDs left out are not guessed: their words are shown raw.
constexpr Scaling kScalings[] = {
    {0x01, 1.0, 0.0, ""sv, "raw value"sv},
    {0x02, 0.1, 0.0, ""sv, "raw value"sv},
    {0x03, 0.01, 0.0, ""sv, "raw value"sv},
    {0x04, 0.001, 0.0, ""sv, "raw value"sv},
    {0x05, 1.0 / 32768.0, 0.0, ""sv, "raw value"sv},
    {0x06, 0.000305, 0.0, ""sv, "raw value"sv},
    {0x07, 0.25, 0.0, "rpm"sv, "rotational frequency"sv},
    {0x08, 0.01, 0.0, "km/h"sv, "speed"sv},
    {0x09, 1.0, 0.0, "km/h"sv, "speed"sv},
    {0x0A, 1.0 / 8192.0, 0.0, kVolt, "voltage"sv},
    {0x0B, 0.001, 0.0, kVolt, "voltage"sv},
    {0x0C, 0.01, 0.0, kVolt, "voltage"sv},
    {0x0D, 1.0 / 256.0, 0.0, "mA"sv, "current"sv},
    {0x0E, 0.001, 0.0, "A"sv, "current"sv},
    {0x0F, 0.01, 0.0, "A"sv, "current"sv},
    {0x10, 0.001, 0.0, kSecond, "time"sv},
    {0x11, 0.1, 0.0, kSecond, "time"sv},
    {0x12, 1.0, 0.0, kSecond, "time"sv},
    {0x13, 0.001, 0.0, "Ω"sv, "resistance"sv},
    {0x14, 1.0, 0.0, "Ω"sv, "resistance"sv},
    {0x15, 1.0, 0.0, "kΩ"sv, "resistance"sv},
    {0x16, 0.1, -40.0, "°C"sv, "temperature"sv},
    {0x17, 0.01, 0.0, kKpa, "pressure (gauge)"sv},
    {0x18, 0.0117, 0.0, kKpa, "air pressure (gauge)"sv},
    {0x19, 0.079, 0.0, kKpa, "fuel pressure (gauge)"sv},
    {0x1A, 1.0, 0.0, kKpa, "pressure (gauge)"sv},
    {0x1B, 10.0, 0.0, kKpa, "diesel pressure (gauge)"sv},
    {0x1C, 0.01, 0.0, kDegree, "angle"sv},
    {0x1D, 0.5, 0.0, kDegree, "angle"sv},
    {0x1E, 1.0 / 32768.0, 0.0, kLambda, "equivalence ratio"sv},
    {0x1F, 0.05, 0.0, ""sv, "air-fuel ratio"sv},
    {0x20, 1.0 / 256.0, 0.0, ""sv, "ratio"sv},
    {0x21, 0.001, 0.0, "Hz"sv, "frequency"sv},
    {0x22, 1.0, 0.0, "Hz"sv, "frequency"sv},
    {0x23, 1.0, 0.0, "kHz"sv, "frequency"sv},
    {0x24, 1.0, 0.0, ""sv, "counts"sv},
    {0x25, 1.0, 0.0, "km"sv, "distance"sv},
    {0x26, 0.1, 0.0, "mV/ms"sv, "voltage per time"sv},
    {0x27, 0.01, 0.0, "g/s"sv, "mass per time"sv},
    {0x28, 1.0, 0.0, "g/s"sv, "mass per time"sv},
    {0x29, 0.25, 0.0, "Pa/s"sv, "pressure per time"sv},
    {0x2A, 0.001, 0.0, "kg/h"sv, "mass per time"sv},
    {0x2B, 1.0, 0.0, ""sv, "switches"sv},
    {0x2C, 0.01, 0.0, "g/cyl"sv, "mass per cylinder"sv},
    {0x2D, 0.01, 0.0, "mg/stroke"sv, "mass per stroke"sv},
    {0x2F, 0.01, 0.0, kPercent, "percent"sv},
    {0x30, 100.0 / 65535.0, 0.0, kPercent, "percent"sv},
    {0x31, 0.001, 0.0, "L"sv, "volume"sv},
    {0x33, 1.0 / 4096.0, 0.0, kLambda, "equivalence ratio"sv},
    {0x34, 1.0, 0.0, "min"sv, "time"sv},
    {0x35, 0.01, 0.0, kSecond, "time"sv},
    {0x36, 0.01, 0.0, kGram, "weight"sv},
    {0x37, 0.1, 0.0, kGram, "weight"sv},
    {0x38, 1.0, 0.0, kGram, "weight"sv},
    {0x39, 0.01, -327.68, kPercent, "percent"sv},
    {0x81, 1.0, 0.0, ""sv, "raw value"sv},
    {0x82, 0.1, 0.0, ""sv, "raw value"sv},
    {0x83, 0.01, 0.0, ""sv, "raw value"sv},
    {0x84, 0.001, 0.0, ""sv, "raw value"sv},
    {0x85, 1.0 / 32768.0, 0.0, ""sv, "raw value"sv},
    {0x86, 0.000305, 0.0, ""sv, "raw value"sv},
    {0x8A, 1.0 / 8192.0, 0.0, kVolt, "voltage"sv},
    {0x8B, 0.001, 0.0, kVolt, "voltage"sv},
    {0x8C, 0.01, 0.0, kVolt, "voltage"sv},
    {0x8D, 1.0 / 256.0, 0.0, "mA"sv, "current"sv},
    {0x8E, 0.001, 0.0, "A"sv, "current"sv},
    {0x90, 0.001, 0.0, kSecond, "time"sv},
    {0x96, 0.1, 0.0, "°C"sv, "temperature"sv},
    {0x9C, 0.01, 0.0, kDegree, "angle"sv},
    {0x9D, 0.5, 0.0, kDegree, "angle"sv},
    {0xA8, 1.0, 0.0, "g/s"sv, "mass per time"sv},
    {0xA9, 0.25, 0.0, "Pa/s"sv, "pressure per time"sv},
    {0xAD, 0.01, 0.0, "mg/stroke"sv, "mass per stroke"sv},
    {0xAE, 0.1, 0.0, "mg/stroke"sv, "mass per stroke"sv},
    {0xAF, 0.01, 0.0, kPercent, "percent"sv},
    {0xB0, 100.0 / 32768.0, 0.0, kPercent, "percent"sv},
    {0xB1, 2.0, 0.0, "mV/s"sv, "voltage per time"sv},
    {0xFC, 0.01, 0.0, kKpa, "pressure"sv},
    {0xFD, 0.001, 0.0, kKpa, "pressure"sv},
    {0xFE, 0.25, 0.0, "Pa"sv, "pressure"sv},
};

// The standard's test IDs; 0x80 and up are each manufacturer's own.
constexpr std::array<std::string_view, 12> kTests{
    "rich to lean sensor threshold voltage"sv,
    "lean to rich sensor threshold voltage"sv,
    "low sensor voltage for switch time calculation"sv,
    "high sensor voltage for switch time calculation"sv,
    "rich to lean sensor switch time"sv,
    "lean to rich sensor switch time"sv,
    "minimum sensor voltage for test cycle"sv,
    "maximum sensor voltage for test cycle"sv,
    "time between sensor transitions"sv,
    "sensor period"sv,
    "misfire counts, average of the last 10 driving cycles"sv,
    "misfire counts, last or current driving cycle"sv,
};
constexpr int kRecentMisfires = 0x0B;
constexpr int kCurrentMisfires = 0x0C;
constexpr int kFirstCylinder = 0xA2;
constexpr int kLastCylinder = 0xAD;

std::uint16_t raw(const std::vector<std::uint8_t>& d, std::size_t at) {
  return static_cast<std::uint16_t>(d[at] << 8 | d[at + 1]);
}
// The word as the scaling reads it, for comparing limits.
int ordered(int scalingId, std::uint16_t w) {
  return isSignedScaling(scalingId) ? static_cast<std::int16_t>(w) : int(w);
}

QString banked(const char* what, int index) {
  return QStringLiteral("%1 bank %2").arg(QLatin1String(what)).arg(index + 1);
}
QString sensor(const char* what, int index) {
  return QStringLiteral("%1 bank %2 sensor %3")
      .arg(QLatin1String(what))
      .arg(index / 4 + 1)
      .arg(index % 4 + 1);
}

}  // namespace

std::span<const Scaling> scalings() {
  return kScalings;
}

const Scaling* findScaling(int id) {
  const auto it = std::lower_bound(std::begin(kScalings), std::end(kScalings), id,
                                   [](const Scaling& row, int wanted) { return row.id < wanted; });
  return it != std::end(kScalings) && it->id == id ? &*it : nullptr;
}

ScaledValue scale(int scalingId, std::uint16_t w) {
  const double number = ordered(scalingId, w);
  const Scaling* row = findScaling(scalingId);
  if (!row) return ScaledValue{number, ""sv, false};
  return ScaledValue{number * row->factor + row->offset, row->unit, true};
}

QString monitorName(int mid) {
  if (mid >= 0 && mid <= 0xE0 && SupportedMonitors::isBitmap(mid))
    return QString::asprintf("monitors supported %02X-%02X", mid + 1, mid + 0x20);
  if (mid >= 0x01 && mid <= 0x10) return sensor("O2 sensor", mid - 0x01);
  if (mid >= 0x21 && mid <= 0x24) return banked("catalyst", mid - 0x21);
  if (mid >= 0x31 && mid <= 0x34) return banked("EGR and/or VVT", mid - 0x31);
  if (mid >= 0x35 && mid <= 0x38) return banked("VVT", mid - 0x35);
  switch (mid) {
    case 0x39:
      return QStringLiteral("EVAP, cap off (0.150\")");
    case 0x3A:
      return QStringLiteral("EVAP, 0.090\" leak");
    case 0x3B:
      return QStringLiteral("EVAP, 0.040\" leak");
    case 0x3C:
      return QStringLiteral("EVAP, 0.020\" leak");
    case 0x3D:
      return QStringLiteral("purge flow");
    case 0xA1:
      return QStringLiteral("misfire, general");
    default:
      break;
  }
  if (mid >= 0x41 && mid <= 0x50) return sensor("O2 sensor heater", mid - 0x41);
  if (mid >= 0x61 && mid <= 0x64) return banked("heated catalyst", mid - 0x61);
  if (mid >= 0x71 && mid <= 0x74) return QStringLiteral("secondary air %1").arg(mid - 0x70);
  if (mid >= 0x81 && mid <= 0x84) return banked("fuel system", mid - 0x81);
  if (mid >= 0x85 && mid <= 0x86) return banked("boost pressure control", mid - 0x85);
  if (mid >= 0x90 && mid <= 0x91) return banked("NOx adsorber", mid - 0x90);
  if (mid >= 0x98 && mid <= 0x99) return banked("NOx catalyst", mid - 0x98);
  if (mid >= kFirstCylinder && mid <= kLastCylinder)
    return QStringLiteral("misfire cylinder %1").arg(mid - kFirstCylinder + 1);
  if (mid >= 0xB0 && mid <= 0xB1) return banked("PM filter", mid - 0xB0);
  if (mid >= 0xE1 && mid <= 0xFF) return QString::asprintf("manufacturer monitor 0x%02X", mid);
  return QString::asprintf("monitor 0x%02X", mid);
}

QString testName(int tid) {
  if (tid >= 1 && tid <= int(kTests.size())) return toQString(kTests[std::size_t(tid - 1)]);
  if (tid >= 0x80) return QString::asprintf("manufacturer test 0x%02X", tid);
  return QString::asprintf("test 0x%02X", tid);
}

MonitorAnswer readMonitor(int mid, const std::vector<Message>& messages) {
  constexpr std::size_t kRecord = 9;  // MID, TID, scaling, value, minimum, maximum
  MonitorAnswer out;
  for (const Message& m : messages) {
    const auto& d = m.data;
    if (d.size() < 2 || d[0] != 0x46 || d[1] != mid) continue;
    out.supported = true;
    std::size_t at = 1;
    for (; at + kRecord <= d.size() && d[at] == mid; at += kRecord) {
      TestResult r{.source = m.source,
                   .mid = mid,
                   .tid = d[at + 1],
                   .scalingId = d[at + 2],
                   .rawValue = raw(d, at + 3),
                   .rawMin = raw(d, at + 5),
                   .rawMax = raw(d, at + 7)};
      r.value = scale(r.scalingId, r.rawValue);
      r.min = scale(r.scalingId, r.rawMin);
      r.max = scale(r.scalingId, r.rawMax);
      r.completed = r.rawValue != 0 || r.rawMin != 0 || r.rawMax != 0;
      const int v = ordered(r.scalingId, r.rawValue);
      r.passed = r.completed && ordered(r.scalingId, r.rawMin) <= v && v <= ordered(r.scalingId, r.rawMax);
      out.results.push_back(r);
    }
    if (at != d.size() || !m.complete) out.cut = true;
  }
  return out;
}

void SupportedMonitors::add(int base, const std::vector<Message>& answers) {
  bool more = false;
  for (const Message& m : answers) {
    const auto& d = m.data;
    if (d.size() < 6 || d[0] != 0x46 || d[1] != base) continue;
    answered_ = true;
    for (int bit = 0; bit < 32; ++bit)
      if (d[static_cast<std::size_t>(2 + bit / 8)] & (0x80 >> (bit % 8)))
        bits_.set(static_cast<std::size_t>(base + bit + 1));
    more = more || (d[5] & 1);
  }
  read_.push_back(base);
  if (more && base + 0x20 <= 0xE0)
    next_ = base + 0x20;
  else
    next_.reset();
}

std::vector<int> SupportedMonitors::monitors() const {
  std::vector<int> out;
  for (int mid = 1; mid < 256; ++mid)
    if (has(mid) && !isBitmap(mid)) out.push_back(mid);
  return out;
}

QString monitorRequest(int mid) {
  return QString::asprintf("06%02X", mid);
}

QStringList monitorRequests(const SupportedMonitors& supported) {
  QStringList out;
  for (int base : supported.bitmapsRead()) out << monitorRequest(base);
  for (int mid : supported.monitors()) out << monitorRequest(mid);
  return out;
}

std::vector<ControllerMisfires> misfireCounts(const std::vector<TestResult>& results) {
  std::vector<ControllerMisfires> out;
  for (const TestResult& r : results) {
    if (r.mid < kFirstCylinder || r.mid > kLastCylinder) continue;
    if (r.tid != kRecentMisfires && r.tid != kCurrentMisfires) continue;
    auto controller =
        std::find_if(out.begin(), out.end(), [&](const auto& c) { return c.source == r.source; });
    if (controller == out.end()) controller = out.insert(out.end(), ControllerMisfires{r.source, {}});
    const int cylinder = r.mid - kFirstCylinder + 1;
    auto& cylinders = controller->cylinders;
    auto c = std::lower_bound(cylinders.begin(), cylinders.end(), cylinder,
                              [](const CylinderMisfires& row, int wanted) { return row.cylinder < wanted; });
    if (c == cylinders.end() || c->cylinder != cylinder)
      c = cylinders.insert(c, CylinderMisfires{cylinder, {}, {}});
    (r.tid == kRecentMisfires ? c->recent : c->current) = r.value.value;
  }
  return out;
}

LegacyTestAnswer readLegacyTest(int tid, const std::vector<Message>& messages) {
  LegacyTestAnswer out;
  for (const Message& m : messages) {
    const auto& d = m.data;
    if (d.size() < 7 || d[0] != 0x46 || d[1] != tid) continue;
    out.supported = true;
    LegacyTestResult r{m.source, tid, d[2] & 0x7F, (d[2] & 0x80) != 0, raw(d, 3), raw(d, 5), false};
    r.passed = r.limitIsMinimum ? r.value >= r.limit : r.value <= r.limit;
    out.results.push_back(r);
  }
  return out;
}

}  // namespace tarvex::obd
