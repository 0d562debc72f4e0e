#include "scan/scan_cycle.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include "tests/support/fake_clock.h"
#include "tests/support/fake_serial_port.h"
#include "tests/support/layout_boxes.h"
#include "tests/support/route.h"

namespace tarvex {
namespace {

using namespace std::chrono_literals;
using testing::FakeClock;
using testing::FakeSerialPort;

struct RecordingGauges final : GaugeSink {
  bool visible = true;
  QList<int> speeds, tachs;
  bool gaugesVisible() const override { return visible; }
  void UpdateSpeed(std::int16_t v) override { speeds << v; }
  void UpdateTach(std::int16_t v) override { tachs << v; }
};

const QStringList kDefaultRound = {"22000C01", "22000D01", "22000F01", "22001101", "22000401", "22001001",
                                   "22000501", "22000601", "22000701", "2211A101", "22000B01", "22000E01",
                                   "22000101", "22114101", "22001401", "22001801", "22000301", "22119B01",
                                   "22115201", "22117101", "22000801", "22000901"};

QByteArray answerTo(const QString& request, const char* data) {
  return (request + "\r62 " + request.mid(2, 2) + " " + request.mid(4, 2) + " " + data + " \r\r>").toLatin1();
}

struct ScanFixture : ::testing::Test {
  FakeClock clock;
  FakeSerialPort port;
  std::unique_ptr<Timer> timer = clock.createTimer();
  MemoryBoxes boxes = testing::boxesFromLayout();
  AdapterTraits traits;
  ScanCycle scan{port, *timer, clock, traits, boxes, QStringLiteral("Text2")};
  RecordingGauges gauges;
  QTemporaryDir dir;
  QList<Failure> failures;
  int stamp = 0;

  void SetUp() override {
    testing::route(port, *timer, scan.session());
    scan.setLocale(QLocale(QLocale::English, QLocale::UnitedStates));
    scan.setGaugeSink(&gauges);
    scan.setDateTimeSource([this] { return QDateTime(QDate(2026, 12, 6), QTime(20, 0, stamp++)); });
    scan.setFailureHandler([this](const Failure& f) { failures << f; });
  }

  QStringList takeCommands() {
    QStringList lines;
    for (const QByteArray& w : port.writes()) {
      EXPECT_TRUE(w.endsWith("\r") && !w.contains('\n')) << w.toStdString();
      lines << QString::fromLatin1(w.chopped(1));
    }
    port.clearWrites();
    return lines;
  }
  // Started, the set-up written (and, if `answered`, answered) and forgotten.
  Status startScan(bool log = false, bool answered = false) {
    Status started = scan.start(log, log ? logPath() : QString());
    clock.advance(3s);
    if (answered) answerSetup();
    port.clearWrites();
    return started;
  }
  void answer(const QString& request, const char* data) { port.receive(answerTo(request, data)); }
  void answerSetup() {
    port.receive("ATZ\r\r\rELM327 v1.5\r\r>ATE1\rOK\r\r>ATSH 6C 10 F1\rOK\r\r>ATST 10\rOK\r\r>");
  }

  QString logPath() const { return dir.filePath(QStringLiteral("log.csv")); }
  QList<QByteArray> logLines() const {
    QFile f(logPath());
    EXPECT_TRUE(f.open(QIODevice::ReadOnly));
    QList<QByteArray> lines = f.readAll().split('\n');
    EXPECT_TRUE(lines.takeLast().isEmpty());
    for (QByteArray& l : lines) {
      EXPECT_TRUE(l.endsWith('\r'));
      l.chop(1);
    }
    return lines;
  }
};

void expectStopped(ScanFixture& f) {
  EXPECT_TRUE(!f.port.isOpen() && f.scan.link().idle() && !f.scan.logging());
  f.port.clearWrites();
  f.clock.advance(10s);
  EXPECT_TRUE(f.port.writes().isEmpty() && f.port.writesWhileClosed().isEmpty());
}

TEST_F(ScanFixture, StartSetsUpTheAdapterAndTheFirstScanAsksOnItsAnswers) {
  ASSERT_TRUE(scan.start(false, QString()));
  EXPECT_TRUE(port.isOpen());
  EXPECT_EQ(takeCommands(), QStringList{"ATZ"});  // the rest a second apart
  port.receive("ATZ\r\r\rELM327 v1.5\r\r>");      // our own reset's banner, early
  clock.advance(3s);
  EXPECT_EQ(takeCommands(), (QStringList{"ATE1", "ATSH 6C 10 F1", "ATST 10"}));
  EXPECT_EQ(scan.scanStep(), 1);
  answerSetup();  // the expected reply is still empty: any prompt completes it
  EXPECT_EQ(takeCommands(), QStringList{"22000C01"});

  scan.stop();
  ASSERT_TRUE(startScan());
  answerSetup();  // the last scan's expected reply is not among them
  clock.advance(149ms);
  EXPECT_TRUE(takeCommands().isEmpty());
  clock.advance(1ms);
  EXPECT_EQ(takeCommands(), QStringList{"22000C01"});

  scan.stop();  // "Stop Scan" during the set-up
  ASSERT_TRUE(scan.start(false, QString()));
  clock.advance(1500ms);
  EXPECT_EQ(takeCommands(), (QStringList{"ATZ", "ATE1"}));
  scan.stop();
  expectStopped(*this);
}

// The selection is read at each turn: a change counts from the next round.
TEST_F(ScanFixture, UnansweredRequestsMoveOnRoundAfterRoundOverTheSelection) {
  ASSERT_TRUE(startScan());
  clock.advance(150ms * 22);
  EXPECT_EQ(takeCommands(), kDefaultRound);
  boxes.setEnabled(Box::kRPM, false);
  boxes.setEnabled(Box::kKR, true);
  clock.advance(150ms * 22);
  QStringList expected = kDefaultRound.mid(1);
  expected.insert(11, QStringLiteral("22125D01"));
  EXPECT_EQ(takeCommands(), expected);
}

TEST_F(ScanFixture, RepliesFillTheBoxesAndMoveTheVisibleNeedles) {
  ASSERT_TRUE(startScan(false, true));
  Readings readings;
  scan.setReadings(&readings);
  boxes.setEnabled(Box::kRPM, false);  // deselected while its request is out: still decoded
  clock.advance(20ms);
  answer("22000C01", "1A FA");
  EXPECT_EQ(boxes.text(Box::kRPM), QStringLiteral("1726.5"));
  const int rpm = readings.find(QStringLiteral("RPM"));
  ASSERT_NE(rpm, Readings::kNoChannel);
  EXPECT_EQ(readings.channels()[rpm].unit, QStringLiteral("rpm"));
  EXPECT_EQ(readings.series(rpm).values, std::vector<float>{1726.5f});  // the number, not the box read back
  EXPECT_EQ(readings.toTime(readings.series(rpm).ms[0]), clock.now());
  EXPECT_EQ(gauges.tachs, QList<int>{1726});  // read back from the box, halves to even
  EXPECT_EQ(takeCommands(), QStringList{"22000D01"});
  gauges.visible = false;
  answer("22000D01", "3C");
  EXPECT_EQ(boxes.text(Box::kSpeed), QStringLiteral("60"));
  EXPECT_TRUE(gauges.speeds.isEmpty());
  EXPECT_EQ(takeCommands(), QStringList{"22000F01"});
}

// Replies handed over while the request is being written: each request once, in order, into its box.
TEST_F(ScanFixture, RepliesArrivingInsideTheWriteKeepTheOrder) {
  ASSERT_TRUE(startScan(false, true));
  int answered = 0;
  port.duringWrite = [&](const QByteArray& line) {
    if (++answered <= 3) port.receive(answerTo(QString::fromLatin1(line.chopped(1)), "28"));
  };
  answer("22000C01", "0B B8");
  EXPECT_EQ(takeCommands(), kDefaultRound.mid(1, 4));
  EXPECT_EQ((QStringList{boxes.text(Box::kRPM), boxes.text(Box::kSpeed), boxes.text(Box::kIAT),
                         boxes.text(Box::kTPS), boxes.text(Box::kLOAD)}),
            (QStringList{"750", "40", "0", "15.6862745098039", "LOAD"}));
}

TEST_F(ScanFixture, NothingSelectedSelectsEngineSpeedAndLogsTwice) {
  for (const Parameter& p : catalogue()) boxes.setEnabled(p.box, false);
  ASSERT_TRUE(startScan(true));
  clock.advance(150ms);
  EXPECT_EQ(takeCommands(), QStringList{"22000C01"});
  EXPECT_TRUE(boxes.isEnabled(Box::kRPM));
  EXPECT_EQ(scan.scanStep(), 2);
  EXPECT_EQ(logLines().size(), 3);  // header and two rows from one call
  clock.advance(150ms * 3);
  EXPECT_EQ(takeCommands(), (QStringList{"22000C01", "22000C01", "22000C01"}));
  EXPECT_EQ(logLines().size(), 6);
}

TEST_F(ScanFixture, StopClosesAndALoggedRestartBeginsAnew) {
  ASSERT_TRUE(startScan(true));
  clock.advance(150ms * 27);
  scan.stop();
  EXPECT_EQ(scan.scanStep(), 6);
  EXPECT_EQ(logLines().size(), 2);
  expectStopped(*this);

  ASSERT_TRUE(startScan(true));
  EXPECT_EQ(scan.scanStep(), 1);
  EXPECT_EQ(logLines().size(), 1);  // rewritten from its header
  clock.advance(150ms * 23);
  EXPECT_EQ(logLines().size(), 2);  // each line is on disk at once
  scan.stop();
  scan.stop();  // a stop while stopped does no harm
}

TEST_F(ScanFixture, LogHasALinePerRoundWithTheLastParameterLagging) {
  ASSERT_TRUE(startScan(true));
  answerSetup();
  for (int round = 0; round < 2; ++round) {
    for (const QString& request : kDefaultRound) {
      ASSERT_EQ(takeCommands(), QStringList{request});
      answer(request, request == "22000901"      ? (round ? "81" : "80")
                      : request.endsWith("0C01") ? "1A F8"
                                                 : "80 80");
    }
  }
  scan.stop();
  const QList<QByteArray> lines = logLines();
  ASSERT_EQ(lines.size(), 3);  // the header, and a line a round
  const QList<QByteArray> first = lines[1].split(',');
  ASSERT_EQ(first.size(), 28);
  // LTFTB2 lags: written before the round's last reply came; the next line has its 80's 0.
  EXPECT_EQ((QList<QByteArray>{first[0], first[10], first[14], lines[2].split(',')[14]}),
            (QList<QByteArray>{"1726", "Knock Retard", "LTFTB2", "0"}));
}

TEST_F(ScanFixture, LogFileDeletedWhileScanningIsNoticedAtTheNextRound) {
  ASSERT_TRUE(startScan(true));
  clock.advance(150ms * 23);
  ASSERT_TRUE(QFile::remove(logPath()));
  clock.advance(150ms * 22);
  ASSERT_EQ(failures.size(), 1);
  EXPECT_EQ(failures[0].kind, Failure::Kind::kWrite);
  EXPECT_FALSE(QFile::exists(logPath()));  // not made anew behind the user's back
  expectStopped(*this);
}

TEST_F(ScanFixture, PortThatFailsMidScanStopsItAndStartWorksAgain) {
  ASSERT_TRUE(startScan(true, true));
  answer("22000C01", "1A F8");
  port.fail(QStringLiteral("Input/output error"));
  ASSERT_EQ(failures.size(), 1);
  EXPECT_EQ(failures[0].kind, Failure::Kind::kLost);
  EXPECT_EQ(failures[0].subject + u'|' + failures[0].reason, QStringLiteral("/dev/fake0|Input/output error"));
  EXPECT_EQ(logLines().size(), 1);  // no line for the round that did not end
  expectStopped(*this);
  ASSERT_TRUE(scan.start(false, QString()));  // the device is back
  clock.advance(3s);
  EXPECT_EQ(takeCommands(), (QStringList{"ATZ", "ATE1", "ATSH 6C 10 F1", "ATST 10"}));
}

// An adapter that resets itself is set up again, line by line, and the scan goes on where it was.
TEST_F(ScanFixture, AdapterThatResetsItselfIsSetUpAgain) {
  ASSERT_TRUE(startScan(false, true));
  answer("22000C01", "1A F8");
  answer("22000D01", "3C");
  takeCommands();
  port.receive("22000F01\r\r\rLV RESET\r\r\rELM327 v1.5");
  EXPECT_TRUE(takeCommands().isEmpty());  // not before its prompt
  port.receive("\r\r>");
  EXPECT_EQ(takeCommands(), QStringList{"ATE1"});
  port.receive("ATE1\rOK\r\r>");
  EXPECT_EQ(takeCommands(), QStringList{"ATSH 6C 10 F1"});
  clock.advance(150ms);  // an unanswered set-up command is not waited for longer
  EXPECT_EQ(takeCommands(), QStringList{"ATST 10"});
  port.receive("ATST 10\rOK\r\r>");
  EXPECT_EQ(takeCommands(), QStringList{"22000F01"});  // the request the reset swallowed, again
  answer("22000F01", "5A");
  EXPECT_EQ(boxes.text(Box::kIAT), QStringLiteral("50"));
  EXPECT_TRUE(failures.isEmpty());
}

// A silent round asks the protocol (a car on another bus), told once, again after answers stop again.
TEST_F(ScanFixture, SilenceAsksTheProtocolAndIsToldOnceAndAgainAfterAnswersStopAgain) {
  QStringList told;
  scan.setSilenceHandler(
      [&](const Result<QString>& protocol) { told << (protocol ? *protocol : QString()); });
  ASSERT_TRUE(startScan());
  clock.advance(150ms * 22);  // the round's last request is out: the round ended unanswered
  takeCommands();
  EXPECT_TRUE(told.isEmpty());
  clock.advance(150ms);
  EXPECT_EQ(takeCommands(), QStringList{"ATDPN"});
  port.receive("ATDPN\rA6\r\r>");
  EXPECT_EQ(told, QStringList{"A6"});
  EXPECT_EQ(takeCommands(), QStringList{"22000C01"});  // the scan goes on
  clock.advance(150ms * 22 * 3);
  EXPECT_FALSE(takeCommands().contains(QStringLiteral("ATDPN")));
  EXPECT_EQ(told.size(), 1);
  answer("22000C01", "1A F8");
  EXPECT_EQ(takeCommands(), QStringList{"22000D01"});
  port.receive("22000D01\r7F 22 12 \r\r>");  // the controller heard it, and refused it
  clock.advance(150ms * 22 * 2 + 150ms);     // answers stopped again; the question goes unanswered
  EXPECT_EQ(told, (QStringList{"A6", ""}));
  EXPECT_EQ(scan.refusal(), QStringLiteral("7F 22 12"));
  EXPECT_TRUE(port.isOpen());
}

TEST_F(ScanFixture, FailedStartLeavesEverythingIdle) {
  port.failOpenWith(QStringLiteral("Permission denied"));
  Status started = scan.start(true, logPath());
  ASSERT_FALSE(started);
  EXPECT_EQ(started.failure().kind, Failure::Kind::kOpen);
  EXPECT_FALSE(QFile::exists(logPath()));  // no log for a scan that never began

  port.failOpenWith(QString());
  started = scan.start(true, dir.filePath(QStringLiteral("missing/folder/log.csv")));
  ASSERT_FALSE(started);
  EXPECT_EQ(started.failure().kind, Failure::Kind::kCreate);
  EXPECT_TRUE(!port.isOpen() && port.writes().isEmpty() && !timer->isActive());
}

}  // namespace
}  // namespace tarvex
