#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "core/text.h"
#include "obd/pids.h"
#include "obd/readiness.h"
#include "tests/core/data_rows.h"

namespace tarvex::obd {
namespace {

std::vector<std::uint8_t> bytes(const QString& hex) {
  std::vector<std::uint8_t> out;
  for (const QString& b : hex.split(QLatin1Char(' '), Qt::SkipEmptyParts))
    out.push_back(static_cast<std::uint8_t>(b.toUInt(nullptr, 16)));
  return out;
}

std::vector<Message> answer(const char* text, Bus bus = Bus::kCan11, bool headers = false) {
  return parseAnswer(QString::fromLatin1(text), bus, headers).messages;
}

// Expected: "reading unit, ...", "\"words\"" (and no reading) or "not decodable".
void expectValue(const std::optional<Value>& value, const QString& expected, const QString& where) {
  SCOPED_TRACE(where.toStdString());
  if (expected == QLatin1String("not decodable")) {
    EXPECT_FALSE(value.has_value());
    return;
  }
  ASSERT_TRUE(value.has_value());
  if (expected.startsWith(QLatin1Char('"'))) {
    EXPECT_EQ(value->text, expected.mid(1, expected.size() - 2));
    EXPECT_TRUE(value->readings.empty());  // words alone: no number beside them
    return;
  }
  const QStringList readings = expected.split(QStringLiteral(", "));
  ASSERT_EQ(value->readings.size(), static_cast<std::size_t>(readings.size()));
  for (qsizetype i = 0; i < readings.size(); ++i) {
    const QString number = readings[i].section(QLatin1Char(' '), 0, 0);
    const qsizetype point = number.indexOf(QLatin1Char('.'));
    const double halfDigit = 0.5 * std::pow(10.0, point < 0 ? 0.0 : -double(number.size() - point - 1));
    const Reading& r = value->readings[static_cast<std::size_t>(i)];
    EXPECT_NEAR(r.value, number.toDouble(), halfDigit);
    EXPECT_EQ(toQString(r.unit), readings[i].section(QLatin1Char(' '), 1));
  }
}

TEST(ObdPids, PublishedFormulasAndRangesInATableInPidOrder) {
  for (const QStringList& row : testing::dataRows("obd_pids.txt")) {
    const auto data = bytes(row[0]);
    expectValue(decodePid(data[0], Bytes(data).subspan(1)), row[1], row.join(u'|'));
  }
  // Lookups search the table by halves.
  const auto table = service01();
  EXPECT_TRUE(
      std::is_sorted(table.begin(), table.end(), [](const Pid& a, const Pid& b) { return a.pid <= b.pid; }));
}

TEST(ObdPids, SupportBitmapsAcrossRangesAndControllers) {
  SupportedPids s;
  // The common published example: 01 03-07 0C-11 13 15 1C 1F, and 20.
  EXPECT_TRUE(s.add(0x00, answer("41 00 BE 1F A8 13\r")));
  EXPECT_EQ(s.parameters(), (std::vector<int>{0x01, 0x03, 0x04, 0x05, 0x06, 0x07, 0x0C, 0x0D, 0x0E, 0x0F,
                                              0x10, 0x11, 0x13, 0x15, 0x1C, 0x1F}));
  // One controller of two says there is more beyond 40.
  EXPECT_TRUE(s.add(0x20, answer("7E8 06 41 20 80 00 00 00\r7E9 06 41 20 00 00 80 01\r", Bus::kCan11, true)));
  EXPECT_TRUE(s.has(0x21) && s.has(0x31) && s.has(0x40) && !s.has(0x22));
  EXPECT_FALSE(s.add(0x40, answer("41 40 40 00 00 00\r")));
  EXPECT_TRUE(s.has(0x42));
  EXPECT_FALSE(s.add(0x60, answer("NO DATA\r")));
}

TEST(ObdPids, ReadinessOfASparkAndACompressionIgnitionCar) {
  auto render = [](const char* data) {
    const auto r = readReadiness(bytes(QString::fromLatin1(data)));
    QStringList parts{QStringLiteral("MIL %1, %2 codes, %3")
                          .arg(QLatin1String(r->milOn ? "on" : "off"))
                          .arg(r->storedCodes)
                          .arg(QLatin1String(r->ignition == Ignition::kSpark ? "spark" : "compression"))};
    for (const Monitor& m : r->monitors)
      if (m.supported)
        parts << toQString(m.name) + (m.complete ? QString() : QStringLiteral(" not complete"));
    return parts.join(QStringLiteral(", "));
  };
  EXPECT_EQ(render("82 07 65 04"),
            "MIL on, 2 codes, spark, misfire, fuel system, comprehensive components, catalyst, "
            "evaporative system not complete, oxygen sensor, oxygen sensor heater");
  // Byte C bit 2 is reserved for diesels: not a monitor even when set.
  EXPECT_EQ(render("00 2F E7 40"),
            "MIL off, 0 codes, compression, misfire, fuel system not complete, comprehensive components, "
            "NMHC catalyst, NOx/SCR aftertreatment, exhaust gas sensor, PM filter not complete, "
            "EGR and/or VVT system");
  EXPECT_FALSE(readReadiness(bytes(QStringLiteral("82 07 65"))).has_value());
}

TEST(ObdPids, SixPidsARequestAndWhereTheAnswerFallsShort) {
  const std::vector<int> pids{0x04, 0x05, 0x0B, 0x0C, 0x0D, 0x0F, 0x10,
                              0x11, 0x1F, 0x2F, 0x33, 0x42, 0x46, 0x5C};
  const auto requests = splitRequests(pids);
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[2], (std::vector<int>{0x46, 0x5C}));
  EXPECT_EQ(requestText(requests[0]), "0104050B0C0D0F");

  auto render = [](const std::vector<int>& asked, const char* text, bool headers = false) {
    const MultiAnswer m = parseMulti(asked, answer(text, Bus::kCan11, headers));
    QStringList parts;
    for (const PidAnswer& a : m.answers)
      parts << a.source + QString::asprintf("%02X=", a.pid) +
                   QString::number(decodePid(a.pid, a.data)->readings[0].value);
    for (int pid : m.missing) parts << QString::asprintf("missing %02X", pid);
    if (m.cut) parts << QStringLiteral("cut");
    return parts.join(QLatin1Char(' '));
  };
  const std::vector<int> six{0x0C, 0x0D, 0x05, 0x04, 0x10, 0x0F};
  EXPECT_EQ(render(six, "00F\r0: 41 0C 1A F8 0D 3C\r1: 05 7B 04 FF 10 01 F4\r2: 0F 3C 00 00 00 00 00\r"),
            "0C=1726 0D=60 05=83 04=100 10=5 0F=20");
  // The third frame never came.
  EXPECT_EQ(render(six, "00F\r0: 41 0C 1A F8 0D 3C\r1: 05 7B 04 FF 10 01 F4\r"),
            "0C=1726 0D=60 05=83 04=100 10=5 missing 0F cut");
  // The engine answers two, the transmission one of them, nobody the third.
  EXPECT_EQ(render({0x0C, 0x0D, 0x05}, "7E8 06 41 0C 1A F8 0D 3C\r7E9 03 41 0D 3C\r", true),
            "7E80C=1726 7E80D=60 7E90D=60 missing 05");
  EXPECT_EQ(render({0x0C, 0x0D}, "41 0C 1A\r"), "missing 0C missing 0D cut");
}

TEST(ObdPids, FreezeFrameUsesTheSameTable) {
  const auto rpm = freezeFrameValue(answer("7E8 05 42 0C 00 1A F8\r", Bus::kCan11, true).at(0).data);
  EXPECT_EQ(std::pair(rpm.value().pid, rpm->value.readings.at(0).value), std::pair(0x0C, 1726.0));
  EXPECT_EQ(freezeFrameValue(bytes(QStringLiteral("42 02 01 03 00")))->value.text, "P0300");
  EXPECT_FALSE(freezeFrameValue(bytes(QStringLiteral("41 0C 00 1A F8"))).has_value());
}

}  // namespace
}  // namespace tarvex::obd
