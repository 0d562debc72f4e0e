#include <gtest/gtest.h>

#include "core/text.h"
#include "obd/monitor_tests.h"

namespace tarvex::obd {
namespace {

std::vector<Message> answer(const char* text, Bus bus = Bus::kCan11, bool headers = true) {
  return parseAnswer(QString::fromLatin1(text), bus, headers).messages;
}

QString shown(const ScaledValue& v) {
  return QString::number(v.value, 'g', 6) +
         (v.unit.empty() ? QString() : QLatin1Char(' ') + toQString(v.unit)) +
         (v.known ? QString() : QStringLiteral(" (unknown)"));
}

// "source MID/TID value [min..max] verdict", one result a line.
QString render(const MonitorAnswer& a) {
  QStringList lines;
  for (const TestResult& r : a.results)
    lines << QString::asprintf("%s %02X/%02X ", qPrintable(r.source), r.mid, r.tid) + shown(r.value) +
                 QStringLiteral(" [%1..%2] ").arg(shown(r.min), shown(r.max)) +
                 (r.passed      ? QStringLiteral("pass")
                  : r.completed ? QStringLiteral("FAIL")
                                : QStringLiteral("not completed"));
  if (!a.supported) lines << QStringLiteral("not supported");
  if (a.cut) lines << QStringLiteral("cut");
  return lines.join(QLatin1Char('\n'));
}

// Values by hand from SAE J1979's steps for service 06 and makers' published figures.
TEST(ObdMonitorTests, UnitAndScalingTable) {
  const std::tuple<int, std::uint16_t, double, const char*, bool> cases[] = {
      {0x01, 0xFFFF, 65535.0, "", true},     // the word itself
      {0x05, 0x8000, 1.0, "", true},         // 32768 / 32768
      {0x06, 0xFFFF, 19.988175, "", true},   // 65535 x 0.000305
      {0x0A, 0xFFFF, 7.9998779, "V", true},  // 65535 / 8192: "7.999 V"
      {0x0B, 0x01C2, 0.450, "V", true},      // 450 x 0.001
      {0x0E, 0x0ACB, 2.763, "A", true},      // 2763 x 0.001
      {0x10, 0x009D, 0.157, "s", true},      // 157 ms
      {0x16, 0x0FA0, 360.0, "°C", true},     // 4000 x 0.1 - 40
      {0x30, 0xFFFF, 100.0, "%", true},      // the top of 0-100 %
      {0x39, 0x0000, -327.68, "%", true},    // 0 x 0.01 - 327.68
      {0x81, 0xFFFF, -1.0, "", true},        // two's complement
      {0x8A, 0x8000, -4.0, "V", true},       // -32768 / 8192
      {0x96, 0xFC18, -100.0, "°C", true},    // -1000 x 0.1, no offset
      {0xFE, 0xFFEC, -5.0, "Pa", true},      // -20 x 0.25
      {0x7E, 0x1234, 4660.0, "", false},     // not in the table: the word
      {0xC5, 0xFFFF, -1.0, "", false},       // a signed ID's word, signed
  };
  for (const auto& [id, word, value, unit, known] : cases) {
    const ScaledValue v = scale(id, word);
    EXPECT_NEAR(v.value, value, 5e-7) << std::hex << id << " " << word;
    EXPECT_EQ(std::pair(toQString(v.unit), v.known), std::pair(QString::fromUtf8(unit), known))
        << std::hex << id;
  }
  // Lookups search the table by halves.
  const auto table = scalings();
  EXPECT_TRUE(std::is_sorted(table.begin(), table.end(),
                             [](const Scaling& a, const Scaling& b) { return a.id <= b.id; }));
}

TEST(ObdMonitorTests, AnswerForms) {
  const std::tuple<const char*, int, const char*, bool, const char*> cases[] = {
      // A published capture: 28 bytes over five frames, each record led by the MID again.
      {"three tests over five frames", 0x01,
       "7E8 10 1C 46 01 81 0E 0A CB\r7E8 21 06 54 0E D8 01 87 10\r7E8 22 00 9D 00 00 01 2C 01\r"
       "7E8 23 88 10 00 84 00 00 02\r7E8 24 58 00 00 00 00 00 00\r",
       true,
       "7E8 01/81 2.763 A [1.62 A..3.8 A] pass\n"
       "7E8 01/87 0.157 s [0 s..0.3 s] pass\n"
       "7E8 01/88 0.132 s [0 s..0.6 s] pass"},
      {"headers off, one record in two frames", 0x21, "00A\r0: 46 21 A9 01 00 40\r1: 00 00 00 3C 00 00 00\r",
       false, " 21/A9 64 [0..60] FAIL"},
      // Two controllers, frames interleaved; the transmission's test never ran.
      {"two controllers", 0x02,
       "7E8 10 0A 46 02 01 0A 0E 66\r7E9 10 0A 46 02 05 10 00 00\r7E8 21 08 00 10 00 00 00 00\r"
       "7E9 21 00 00 00 00 00 00 00\r",
       true,
       "7E8 02/01 0.449951 V [0.25 V..0.5 V] pass\n"
       "7E9 02/05 0 s [0 s..0 s] not completed"},
      // Signed words compared as signed: -5 lies within -10..10.
      {"signed limits", 0x85, "7E8 10 0A 46 85 91 81 FF FB\r7E8 21 FF F6 00 0A 00 00 00\r", true,
       "7E8 85/91 -5 [-10..10] pass"},
      {"unknown scaling", 0x31, "7E8 10 0A 46 31 82 7E 00 20\r7E8 21 00 10 00 30 00 00 00\r", true,
       "7E8 31/82 32 (unknown) [16 (unknown)..48 (unknown)] pass"},
      {"the last frame lost", 0x01,
       "7E8 10 1C 46 01 81 0E 0A CB\r7E8 21 06 54 0E D8 01 87 10\r7E8 22 00 9D 00 00 01 2C 01\r", true,
       "7E8 01/81 2.763 A [1.62 A..3.8 A] pass\n7E8 01/87 0.157 s [0 s..0.3 s] pass\ncut"},
      {"another monitor's record", 0x01,
       "7E8 10 13 46 01 01 0B 01 C2\r7E8 21 01 C2 01 C2 02 01 0B\r7E8 22 01 C2 01 C2 01 C2\r", true,
       "7E8 01/01 0.45 V [0.45 V..0.45 V] pass\ncut"},
      {"refused", 0x01, "7E8 03 7F 06 12\r", true, "not supported"},
      {"NO DATA", 0x01, "NO DATA\r\r>", true, "not supported"},
  };
  for (const auto& [what, mid, text, headers, expected] : cases)
    EXPECT_EQ(render(readMonitor(mid, answer(text, Bus::kCan11, headers))), QString::fromUtf8(expected))
        << what;
}

TEST(ObdMonitorTests, SupportedMonitorsChainAndTheRequests) {
  SupportedMonitors s;
  ASSERT_EQ(s.nextBitmap(), 0x00);
  // Engine: 01, 02 and more; transmission: 21 only.
  s.add(0x00, answer("7E8 06 46 00 C0 00 00 01\r7E9 06 46 00 00 00 00 00\r"));
  ASSERT_EQ(s.nextBitmap(), 0x20);
  s.add(0x20, answer("7E8 06 46 20 00 00 00 01\r7E9 06 46 20 80 00 00 00\r"));
  ASSERT_EQ(s.nextBitmap(), 0x40);
  s.add(0x40, answer("7E8 06 46 40 40 00 00 00\r"));  // 42
  EXPECT_FALSE(s.nextBitmap().has_value());
  EXPECT_TRUE(s.answered());
  EXPECT_EQ(s.monitors(), (std::vector<int>{0x01, 0x02, 0x21, 0x42}));
  EXPECT_EQ(monitorRequests(s), (QStringList{"0600", "0620", "0640", "0601", "0602", "0621", "0642"}));
}

TEST(ObdMonitorTests, MisfireCountsPerCylinder) {
  std::vector<TestResult> all;
  for (const char* text : {
           // Engine, cylinder 1: 3 on average, 1 this cycle, and a test of its own.
           "7E8 10 1C 46 A2 0B 24 00 03\r7E8 21 00 00 FF FF A2 0C 24\r7E8 22 00 01 00 00 FF FF A2\r"
           "7E8 23 80 24 00 09 00 00 FF\r7E8 24 FF 00 00 00 00 00 00\r",
           // Engine, cylinder 3 (only the current count); transmission none.
           "7E8 10 0A 46 A4 0C 24 00 07\r7E8 21 00 00 FF FF 00 00 00\r",
           // A second engine controller's cylinder 2.
           "7EA 10 0A 46 A3 0B 24 00 02\r7EA 21 00 00 FF FF 00 00 00\r",
           // The general misfire monitor is no cylinder.
           "7E8 10 0A 46 A1 0B 24 00 0A\r7E8 21 00 00 FF FF 00 00 00\r",
       }) {
    const std::vector<Message> messages = answer(text);
    const MonitorAnswer a = readMonitor(messages.at(0).data.at(1), messages);
    all.insert(all.end(), a.results.begin(), a.results.end());
  }
  auto count = [](auto n) { return n ? QString::number(*n) : QStringLiteral("-"); };
  QStringList got;
  for (const ControllerMisfires& c : misfireCounts(all))
    for (const CylinderMisfires& cyl : c.cylinders)
      got << c.source + QStringLiteral(" cyl %1: %2/%3")
                            .arg(cyl.cylinder)
                            .arg(count(cyl.recent), count(cyl.current));
  EXPECT_EQ(got, (QStringList{"7E8 cyl 1: 3/1", "7E8 cyl 3: -/7", "7EA cyl 2: 2/-"}));
}

TEST(ObdMonitorTests, NamesTheStandardGives) {
  const std::pair<int, const char*> names[] = {
      {0x06, "O2 sensor bank 2 sensor 2"},
      {0x22, "catalyst bank 2"},
      {0x3B, "EVAP, 0.040\" leak"},
      {0x42, "O2 sensor heater bank 1 sensor 2"},
      {0xAD, "misfire cylinder 12"},
      {0xB1, "PM filter bank 2"},
      {0x11, "monitor 0x11"},
      {0x40, "monitors supported 41-60"},
  };
  for (const auto& [mid, name] : names) EXPECT_EQ(monitorName(mid), QString::fromUtf8(name));
  EXPECT_EQ(testName(0x0C), "misfire counts, last or current driving cycle");
  EXPECT_EQ(testName(0x81), "manufacturer test 0x81");
}

}  // namespace
}  // namespace tarvex::obd
