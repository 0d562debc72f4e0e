#include "monitors/monitor_reader.h"

#include <gtest/gtest.h>

#include <QRegularExpression>

#include "monitors/monitor_text.h"
#include "tests/support/scripted_car.h"

namespace tarvex {
namespace {

using testing::FakeClock;
using testing::FakeSerialPort;
using testing::ScriptedCar;

// CAN, headers on: engine (7E8) monitors 01, 3C, 5E over three bitmaps, transmission (7E9) 01 alone; 0601
// two tests over three frames and one over two; 063C not run; 065E's scaling 0x7E in no table.
QHash<QString, QByteArray> canCar() {
  return {
      {QStringLiteral("ATDPN"), "A6"},
      {QStringLiteral("0100"), "7E8 06 41 00 BE 3E B8 11 00\r7E9 06 41 00 80 00 00 00 00"},
      {QStringLiteral("0600"), "7E8 06 46 00 80 00 00 01 00\r7E9 06 46 00 80 00 00 00 00"},
      {QStringLiteral("0620"), "7E8 06 46 20 00 00 00 11 00"},
      {QStringLiteral("0640"), "7E8 06 46 40 00 00 00 04 00"},
      {QStringLiteral("0601"),
       "7E8 10 13 46 01 01 0A 0E 66\r7E9 10 0A 46 01 01 0A 13 33\r7E8 21 0C CD 10 00 01 05 10\r"
       "7E9 21 0C CD 10 00 00 00 00\r7E8 22 00 50 00 00 00 96 00"},
      {QStringLiteral("063C"), "7E8 10 0A 46 3C 80 FE 00 00\r7E8 21 00 00 00 00 00 00 00"},
      {QStringLiteral("065E"), "7E8 10 0A 46 5E 81 7E 12 34\r7E8 21 00 00 FF FF 00 00 00"},
  };
}

// "controller | monitor | test | value | min | max | unit | verdict", a row a line.
QStringList shown(const MonitorReport& report) {
  QStringList lines;
  for (const TestRow& r : testRows(report))
    lines << QStringList{r.controller, r.monitor, r.test, r.value,
                         r.minimum,    r.maximum, r.unit, verdictText(r.verdict)}
                 .join(QStringLiteral(" | "));
  return lines;
}

struct MonitorFixture : ::testing::Test {
  MonitorFixture() {
    port.setNotify([this](PortEvent e) { link.session().onPortEvent(e); });
    timer->setCallback([this] { link.session().onReplyTimeout(); });
    reader.setDone([this](const MonitorReport& r) { report = r; });
    reader.setFailureHandler([this](const Failure& f) { ended = f; });
  }
  void read(const QHash<QString, QByteArray>& answers) {
    reader.stop();
    car.answers = answers;
    car.sent.clear();
    report.reset();
    ASSERT_TRUE(reader.read());
    car.runUntil(clock, [this] { return report.has_value() || ended.has_value(); });
    ASSERT_TRUE(report) << car.sent.join(QLatin1Char(' ')).toStdString();
  }
  QStringList requests() const { return car.sent.filter(QRegularExpression(QStringLiteral("^06"))); }

  FakeClock clock;
  FakeSerialPort port;
  ScriptedCar car{port};
  std::unique_ptr<Timer> timer = clock.createTimer();
  AdapterTraits traits;
  CarLink link{port, *timer, clock, traits};
  MonitorReader reader{link};
  std::optional<MonitorReport> report;
  std::optional<Failure> ended;
};

TEST_F(MonitorFixture, EveryFormGivesEachControllersTestsScaledWithTheirVerdicts) {
  const std::tuple<const char*, QHash<QString, QByteArray>, const char*, QStringList> cases[] = {
      // Steps of 1/8192 V: 0x0E66 0.44995, 0x0CCD 0.40002, 0x1000 0.5, 0x1333 0.59998; 0x50 and 0x96 ms.
      {"CAN",
       canCar(),
       "0600 0620 0640 0601 063C 065E",
       {"engine (7E8) | O2 sensor bank 1 sensor 1 (01) | rich to lean sensor threshold voltage (01) | "
        "0.4500 | 0.4000 | 0.5000 | V | passed",
        "engine (7E8) | O2 sensor bank 1 sensor 1 (01) | rich to lean sensor switch time (05) | "
        "0.080 | 0.000 | 0.150 | s | passed",
        "transmission (7E9) | O2 sensor bank 1 sensor 1 (01) | rich to lean sensor threshold voltage (01) | "
        "0.6000 | 0.4000 | 0.5000 | V | FAILED",
        "engine (7E8) | EVAP, 0.020\" leak (3C) | manufacturer test 0x80 | - | - | - | Pa | not run",
        "engine (7E8) | monitor 0x5E | manufacturer test 0x81 | 4660 | 0 | 65535 | "
        "raw (scaling 0x7E unknown) | passed"}},
      // The older form over J1850 VPW: the maker's scaling, one limit, its kind from the component's top bit;
      // a line a component (0602's line in 0601's answer is not its); 0x81 has a minimum.
      {"VPW",
       {{QStringLiteral("ATDPN"), "A2"},
        {QStringLiteral("0100"), "48 6B 10 41 00 BE 1F B8 10 C5"},
        {QStringLiteral("0600"), "48 6B 10 46 00 E0 00 00 00 4E"},
        {QStringLiteral("0601"), "48 6B 10 46 01 01 00 10 00 40 11\r48 6B 10 46 02 01 00 00 00 00 44"},
        {QStringLiteral("0602"), "48 6B 10 46 02 11 00 03 00 64 22\r48 6B 10 46 02 12 00 70 00 64 33"},
        {QStringLiteral("0603"), "48 6B 10 46 03 81 00 18 00 20 44"}},
       "0600 0601 0602 0603",
       {"engine (10) | test 0x01 | component 0x01 | 16 |  | 64 | raw (maker's scaling) | passed",
        "engine (10) | test 0x02 | component 0x11 | 3 |  | 100 | raw (maker's scaling) | passed",
        "engine (10) | test 0x02 | component 0x12 | 112 |  | 100 | raw (maker's scaling) | FAILED",
        "engine (10) | test 0x03 | component 0x01 | 24 | 32 |  | raw (maker's scaling) | FAILED"}},
  };
  for (const auto& [name, answers, asked, rows] : cases) {
    SCOPED_TRACE(name);
    read(answers);
    EXPECT_EQ(requests().join(u' '), QLatin1String(asked));
    EXPECT_EQ(shown(*report), rows);
    EXPECT_TRUE(report->supported);
    EXPECT_FALSE(report->incomplete());
  }
  const QString text = monitorReportText(*report);
  EXPECT_TRUE(text.contains(QLatin1String("2 failed, 0 not run, 2 passed"))) << text.toStdString();
}

// EVAP at -300, -1000 and -100 steps of 0.25 Pa, with the decimals a step needs; a psi is 6894.757 Pa.
TEST_F(MonitorFixture, ValuesFollowTheUnitsChosen) {
  QHash<QString, QByteArray> answers = canCar();
  answers[QStringLiteral("063C")] = "7E8 10 0A 46 3C 80 FE FE D4\r7E8 21 FC 18 FF 9C 00 00 00";
  read(answers);
  const std::pair<UnitChoice, const char*> cases[] = {
      {UnitChoice::metric(), "-75.00 -250.00 -25.00 Pa"},
      {UnitChoice::us(), "-0.0109 -0.0363 -0.0036 psi"},
  };
  for (const auto& [units, shown] : cases) {
    const std::vector<TestRow> rows = testRows(*report, units);
    ASSERT_EQ(rows.size(), 5u);
    EXPECT_EQ(QStringList({rows[3].value, rows[3].minimum, rows[3].maximum, rows[3].unit}).join(' '), shown);
  }
}

// A car that refuses or does not answer the first bitmap has no results in this form: no failure.
TEST_F(MonitorFixture, AFailedReadIsToldNeverPassed) {
  using K = Failure::Kind;
  const std::tuple<const char*, const char*, bool, K, const char*> cases[] = {
      // request, answer, told as unsupported by this car (else a failure), kind, reason
      {"0600", "NO DATA", true, K::kNoAnswer, "NO DATA"},
      {"0600", "7E8 03 7F 06 12 00 00 00 00\r7E9 03 7F 06 11 00 00 00 00", true, K::kRefused, "11"},
      {"0600", "CAN ERROR", false, K::kAdapter, "CAN ERROR"},
      {"0601", "NO DATA", false, K::kNoAnswer, "NO DATA"},
      {"0601", "7E8 03 7F 06 31 00 00 00 00", false, K::kRefused, "31"},
      {"0601", "BUS BUSY", false, K::kAdapter, "BUS BUSY"},
      {"0601", "?", false, K::kAdapter, "?"},
      {"0601", "7E8 10 13 46 01 01 0A 0E 66\r7E8 21 0C CD 10 00 01 05 10", false, K::kBroken,
       "a frame is missing"},
      // A record cut after its minimum: nine bytes of one, two of the next.
      {"0601", "7E8 10 0C 46 01 01 0A 0E 66\r7E8 21 0C CD 10 00 01 05 00", false, K::kBroken,
       "engine (7E8) cut a test's record short"},
  };
  for (const auto& [request, answer, unsupported, kind, reason] : cases) {
    SCOPED_TRACE(std::string(request) + ": " + answer);
    QHash<QString, QByteArray> answers = canCar();
    answers[QString::fromLatin1(request)] = answer;
    read(answers);
    const QString text = monitorReportText(*report);
    if (unsupported) {
      EXPECT_EQ(report->unsupported.value().kind, kind);
      EXPECT_FALSE(report->incomplete());
      EXPECT_TRUE(text.contains(QLatin1String("not supported by this car"))) << text.toStdString();
      EXPECT_TRUE(report->tests.empty());
      continue;
    }
    const Failure* failure = report->failure(QString::fromLatin1(request));
    ASSERT_TRUE(failure) << text.toStdString();
    EXPECT_EQ(failure->kind, kind);
    EXPECT_EQ(failure->reason, QString::fromLatin1(reason));
    EXPECT_TRUE(report->incomplete());
    EXPECT_TRUE(text.contains(QLatin1String("Not read:"))) << text.toStdString();
    // Monitor 01's tests are those of the transmission at most, never the engine's.
    for (const obd::TestResult& r : report->tests) EXPECT_FALSE(r.mid == 0x01 && r.source == "7E8");
  }
}

}  // namespace
}  // namespace tarvex
