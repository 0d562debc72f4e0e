#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <set>

#include "link/qt_serial_port.h"
#include "scan/decode.h"
#include "scan/scan_cycle.h"
#include "sim/vehicle.h"
#include "tests/support/main_boxes.h"

namespace tarvex {
namespace {

using namespace std::chrono_literals;

// The real clock, but the adapter-reset waits are cut short: the simulated
// adapter resets in 20 ms, and no test waits whole seconds.
class QuickSleepClock final : public Clock {
 public:
  Micros now() const override { return real_.now(); }
  void sleep(Millis duration) override { real_.sleep(duration / 10); }
  std::unique_ptr<Timer> createTimer() override { return real_.createTimer(); }

 private:
  SystemClock real_;
};

// How much later than the car's engine start the test may take the simulator's
// start to be (it reads the device path the simulator prints after starting).
constexpr Millis kStartSkew{100};

QStringList readLines(const QString& path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) return {};
  return QString::fromLatin1(f.readAll()).split(QStringLiteral("\n"), Qt::SkipEmptyParts);
}

struct ScanRun {
  QStringList commands;                          // as the adapter received them
  QStringList logLines;                          // the CSV file, line ends removed
  std::vector<Millis> rowTimes;                  // when each row was written, since the simulator started
  std::vector<std::pair<QString, Millis>> sent;  // each command given to the link, and when
};

// Starts tarvex-sim at 9600 baud, scans over the real serial port until the log
// has the rows asked for, and stops.
ScanRun scanOverPty(const QStringList& simOptions, int rows) {
  QTemporaryDir dir;
  const QString commandLog = dir.filePath(QStringLiteral("commands.txt"));
  const QString csv = dir.filePath(QStringLiteral("log.csv"));
  QuickSleepClock clock;
  QProcess sim;
  sim.start(QStringLiteral(TARVEX_SIM_PATH),
            QStringList{"--baud", "9600", "--reset-ms", "20", "--drive-after", "0", "--stand", "1", "--log",
                        commandLog} +
                simOptions);
  QDeadlineTimer deadline(30'000);
  while (!sim.canReadLine() && !deadline.hasExpired()) sim.waitForReadyRead(100);
  const QString device = QString::fromLocal8Bit(sim.readLine()).trimmed();
  const Micros simStart = clock.now();  // the car's engine started just before the path was printed

  ScanRun run;
  QtSerialPort port(device, true);
  MemoryBoxes boxes = testing::boxesFromLayout();
  ScanCycle scan(port, clock, boxes);
  scan.setLocale(QLocale::c());
  scan.setDateTimeSource([&] {
    run.rowTimes.push_back(std::chrono::duration_cast<Millis>(clock.now() - simStart));
    return QDateTime::currentDateTime();
  });
  scan.link().hooks().onTxTextChanged = [&](const QString& command) {
    run.sent.emplace_back(command, std::chrono::duration_cast<Millis>(clock.now() - simStart));
  };
  EXPECT_FALSE(scan.pb_StartScan_Click(true, csv)) << device.toStdString();
  while (int(run.rowTimes.size()) < rows && !deadline.hasExpired()) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  scan.pb_StopScan_Click();
  sim.terminate();
  sim.waitForFinished(5000);
  run.commands = readLines(commandLog);
  for (const QString& line : readLines(csv)) run.logLines << line.trimmed();
  return run;
}

QStringList defaultRound() {
  QStringList round;
  for (const Parameter& p : catalogue()) {
    if (p.selectedAtStart) round << QString::fromLatin1(p.request.data(), qsizetype(p.request.size()));
  }
  return round;
}

// Every text the scan could have shown for a parameter while the model ran
// through [from, to].
std::set<QString> modelTexts(const sim::Vehicle& car, const Parameter& p, Millis from, Millis to) {
  std::set<QString> texts;
  const auto id = std::uint16_t(QString::fromLatin1(p.request.data() + 2, 4).toUInt(nullptr, 16));
  for (Millis t = std::max(from, 0ms); t <= to; t += 1ms) {
    QString out;
    for (const char byte : car.enhancedData(id, t).value_or(QByteArray())) {
      out += QStringLiteral(" %1").arg(std::uint8_t(byte), 2, 16, QLatin1Char('0')).toUpper();
    }
    const QString prefix = QString::fromLatin1(p.prefix.data(), qsizetype(p.prefix.size()));
    if (auto d = decodeReply(prefix, out, QLocale::c()); d && !d->writes.empty())
      texts.insert(d->writes[0].second);
  }
  return texts;
}

TEST(ScanOverPty, CommandsAndLoggedValuesAgreeWithTheCar) {
  const ScanRun run = scanOverPty({"--seed", "7"}, 4);
  ASSERT_GE(run.logLines.size(), 5);
  EXPECT_EQ(run.logLines[0] + QStringLiteral("\r\n"), QString::fromLatin1(csvHeader()));

  // Set-up, then the selected requests in catalogue order, round after round.
  // The fourth row is written as the fourth round's last request goes out.
  ASSERT_GE(run.commands.size(), 4 + 3 * 22 + 20);
  EXPECT_EQ(run.commands.mid(0, 4), (QStringList{"ATZ", "ATE1", "ATSH 6C 10 F1", "ATST 10"}));
  const QStringList round = defaultRound();
  for (qsizetype i = 4; i < run.commands.size(); ++i) EXPECT_EQ(run.commands[i], round[(i - 4) % 22]) << i;

  // A logged value is what the car gave between its request and the reply
  // time-out, in the round that the row closes.
  sim::Vehicle car(sim::VehicleConfig{7, 0ms, 1000ms});
  const Box checked[] = {Box::kRPM, Box::kSpeed, Box::kCoolant, Box::kIAT, Box::kTPS, Box::kVolts, Box::kMAF};
  for (int row = 1; row < 4; ++row) {
    const QStringList fields = run.logLines[row + 1].split(QLatin1Char(','));
    ASSERT_EQ(fields.size(), 28);
    const Millis at = run.rowTimes[std::size_t(row)];
    for (const Box box : checked) {
      const auto p = std::find_if(catalogue().begin(), catalogue().end(),
                                  [&](const Parameter& q) { return q.box == box; });
      const QString request = QString::fromLatin1(p->request.data(), qsizetype(p->request.size()));
      Millis asked{};
      for (const auto& [command, when] : run.sent) {
        if (command == request && when < at) asked = when;
      }
      const std::set<QString> possible =
          modelTexts(car, *p, asked - 10ms, asked + kReplyTimeout + kStartSkew);
      EXPECT_TRUE(possible.count(fields[p->csvColumn - 1]))
          << "row " << row << " " << boxName(box) << " " << fields[p->csvColumn - 1].toStdString();
    }
  }
}

TEST(ScanOverPty, LostAndLateAnswersAreSkippedAndTheScanGoesOn) {
  const ScanRun dropped = scanOverPty({"--drop", "0.4"}, 3);
  EXPECT_EQ(dropped.rowTimes.size(), 3u);
  const QStringList round = defaultRound();
  for (qsizetype i = 4; i < dropped.commands.size(); ++i)
    EXPECT_EQ(dropped.commands[i], round[(i - 4) % 22]) << i;

  // A late answer is cut off by the next request (the adapter prints
  // STOPPED); the requests still come one after another, each once.
  const ScanRun late = scanOverPty({"--late", "--fault-share", "0.3"}, 3);
  EXPECT_EQ(late.rowTimes.size(), 3u);
  EXPECT_GE(late.commands.size(), 4 + 2 * 22);
}

}  // namespace
}  // namespace tarvex
