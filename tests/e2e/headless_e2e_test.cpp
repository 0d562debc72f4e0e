// The built program logging without a window or display (tarvex --port P --log FILE).
#include "core/text.h"
#include "tests/support/e2e_rig.h"
#include "ui/layouts.h"

namespace tarvex {
namespace {

using namespace testing;

// Numbers as '#', the time as 'T': two runs a moment apart compare equal, other text must match.
QList<QByteArray> form(const QByteArray& log) {
  QList<QByteArray> lines = log.split('\n');
  QList<QByteArray> shaped;
  for (qsizetype i = 1; i + 1 < lines.size(); ++i) {
    QList<QByteArray> fields = lines[i].chopped(1).split(',');
    for (QByteArray& f : fields) {
      bool number = false;
      f.toDouble(&number);
      if (number) f = "#";
    }
    if (!fields.isEmpty()) fields.last() = "T";
    shaped << fields.join(',');
  }
  return shaped;
}

// No platform named: the window's lines and time words, nothing said on a pipe, status 0.
TEST(Headless, ThreeRoundsWithoutADisplayWriteWhatTheWindowWrites) {
  QTemporaryDir dir;
  const QString log = dir.filePath("headless.csv"), windowLog = dir.filePath("window.csv");
  {
    Simulator sim;
    Tarvex window(testing::onPort(sim.device), windowLog);
    ASSERT_TRUE(window.waitUntil([&] { return contents(windowLog).count("\r\n") >= 4; }));
  }
  Simulator sim;
  const QDateTime before = QDateTime::currentDateTime();
  Tarvex run(testing::onPort(sim.device, {"--log", log, "--rounds", "3"}));
  ASSERT_EQ(run.status(), 0) << run.told();
  const QDateTime after = QDateTime::currentDateTime();
  EXPECT_EQ(run.out + run.err, QByteArray());
  const QByteArray written = contents(log);
  ASSERT_TRUE(headerThenWholeLines(written, 3));
  EXPECT_EQ(form(written), form(contents(windowLog)).mid(0, 3));
  // The time column as the window words it, for a moment of the run.
  const QByteArray lastTime = written.split('\n').at(3).chopped(1).split(',').last();
  bool during = false;
  for (QDateTime t = before.addSecs(-1); t <= after.addSecs(1) && !during; t = t.addSecs(1))
    during = logTimeText(t).toUtf8() == lastTime;
  EXPECT_TRUE(during) << lastTime.data();
}

// The columns not named keep what a fresh window shows in their boxes.
TEST(Headless, ParamsPickTheColumnsAskedFor) {
  Simulator sim;
  Tarvex run(
      testing::onPort(sim.device, {"--log", sim.log, "--rounds", "2", "--params", "speed,FuelStatusB2"}));
  ASSERT_EQ(run.status(), 0) << run.told();
  QStringList requests;
  for (const QString& line : sim.commands())
    if (line.startsWith("22") && !requests.contains(line.trimmed())) requests << line.trimmed();
  EXPECT_EQ(requests, (QStringList{"22000D01", "22000301"}));  // road speed, fuel status
  const QByteArray written = contents(sim.log);
  ASSERT_TRUE(headerThenWholeLines(written, 2));
  const QList<QByteArray> fields = written.split('\n').at(2).split(',');
  EXPECT_EQ(fields[0], toQString(tarvexLayout().control("RPM")->text).toUtf8());  // not asked: as laid out
  EXPECT_EQ(QByteArray::number(fields[1].toInt()), fields[1]);                    // a whole number
  EXPECT_NE(fields[23], toQString(tarvexLayout().control("FuelSysStatusB2")->text).toUtf8());
}

TEST(Headless, StandardDataOfACanCarInTheUnitsAskedForWithOwnParameters) {
  Simulator sim(testing::kQuickSim + QStringList{"--car", "can"});
  const QString log = sim.dir.filePath("standard.csv"), own = sim.dir.filePath("own.csv");
  ASSERT_TRUE(
      testing::writeFile(own, "Fluid,TFT,221940,A-40,-40,215,°C,7E1\nFluid raw,RAW,221940,A,0,255,,7E1\n"));
  Tarvex run(testing::onPort(
      sim.device, {"--log", log, "--standard", "--rounds", "5", "--units", "us", "--parameters", own}));
  ASSERT_EQ(run.status(), 0) << run.told();
  EXPECT_EQ(run.out + run.err, QByteArray());
  const QList<QByteArray> lines = contents(log).split('\n');
  ASSERT_EQ(lines.size(), 7);  // header, five lines, nothing after the last CRLF
  const QList<QByteArray> header = lines[0].chopped(1).split(',');
  const auto at = [&](qsizetype line, const QByteArray& name) {
    return lines[line].chopped(1).split(',').value(header.indexOf(name));
  };
  for (qsizetype i = 1; i <= 5; ++i) {
    SCOPED_TRACE(lines[i].data());
    bool number = false;
    at(i, "VSS [mph]").toDouble(&number);
    EXPECT_TRUE(number);
    // Its own equation, then Celsius to Fahrenheit.
    EXPECT_NEAR(at(i, "TFT [°F]").toDouble(), (at(i, "RAW").toDouble() - 40) * 1.8 + 32, 0.05);
  }
}

// No placeholders logged: it names --standard instead.
TEST(Headless, GmScanThatHearsNothingSaysSoAndEndsWithStatusOne) {
  Simulator sim(testing::kQuickSim + QStringList{"--car", "can"});
  // Two columns: three rounds of all 27 would take the unanswered requests' time 27 times over.
  Tarvex run(testing::onPort(sim.device, {"--log", sim.log, "--params", "RPM,Speed"}));
  EXPECT_EQ(run.status(), 1);
  EXPECT_TRUE(run.err.contains("no value from the car in its first 3 rounds") &&
              run.err.contains("--standard"))
      << run.told();
  EXPECT_FALSE(QFile::exists(sim.log));
}

// At the start and mid-run: told on stderr, and the log holds whole lines only.
TEST(Headless, FaultsAreToldAndEndTheRunWithStatusOne) {
  QTemporaryDir dir;
  // The case, the simulator's options, the device and log instead of the simulator's, what the error says.
  const std::tuple<const char*, QStringList, QString, QString, const char*> cases[] = {
      {"no such device", {}, "/dev/tarvex-no-such-device", {}, "tarvex-no-such-device"},
      {"log folder missing", {}, {}, dir.filePath("no/such/log.csv"), "no/such/log.csv"},
      {"adapter gone", {"--vanish-after", "80"}, {}, {}, "Lost the adapter"},
  };
  for (const auto& [name, simOptions, device, log, told] : cases) {
    SCOPED_TRACE(name);
    Simulator sim(testing::kQuickSim + simOptions);
    Tarvex run(
        testing::onPort(device.isEmpty() ? sim.device : device, {"--log", log.isEmpty() ? sim.log : log}));
    EXPECT_EQ(run.status(), 1);
    EXPECT_TRUE(run.err.contains(told)) << run.told();
    EXPECT_TRUE(!QFile::exists(sim.log) || headerThenWholeLines(contents(sim.log)));
  }
}

}  // namespace
}  // namespace tarvex
