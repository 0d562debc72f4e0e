#include "scan/scan_cycle.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "tests/support/fake_clock.h"
#include "tests/support/fake_serial_port.h"
#include "tests/support/main_boxes.h"
#include "tests/support/qt_print.h"

namespace tarvex {
namespace {

using namespace std::chrono_literals;
using testing::FakeClock;
using testing::FakeSerialPort;

class RecordingGauges final : public GaugeSink {
 public:
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

struct ScanFixture : ::testing::Test {
  FakeClock clock;
  FakeSerialPort port;
  MemoryBoxes boxes = testing::boxesFromLayout();
  ScanCycle scan{port, clock, boxes};
  RecordingGauges gauges;
  QTemporaryDir dir;
  int stamp = 0;

  void SetUp() override {
    scan.setLocale(QLocale(QLocale::English, QLocale::UnitedStates));
    scan.setGaugeSink(&gauges);
    scan.setDateTimeSource([this] { return QDateTime(QDate(2026, 12, 6), QTime(20, 0, stamp++)); });
  }

  // Command lines written since the last call, without line ends.
  QStringList takeCommands() {
    QStringList lines;
    for (const QByteArray& w : port.writes()) {
      EXPECT_TRUE(w.endsWith("\r\n")) << w.toStdString();
      lines << QString::fromLatin1(w.chopped(2));
    }
    port.clearWrites();
    return lines;
  }

  // What a car answers to the enhanced request just written, with echo on.
  void answer(const QString& request, const char* data) {
    const QString prefix = QStringLiteral("62 %1 %2").arg(request.mid(2, 2), request.mid(4, 2));
    port.receive((request + "\r" + prefix + " " + data + " \r\r>").toLatin1());
  }

  void answerSetup() {
    port.receive("ATZ\r\r\rELM327 v1.5\r\r>ATE1\rOK\r\r>ATSH 6C 10 F1\rOK\r\r>ATST 10\rOK\r\r>");
  }

  QString logPath() const { return dir.filePath(QStringLiteral("log.csv")); }
  QList<QByteArray> logLines() const {
    QFile f(logPath());
    EXPECT_TRUE(f.open(QIODevice::ReadOnly));
    QList<QByteArray> lines = f.readAll().split('\n');
    EXPECT_TRUE(lines.last().isEmpty());
    lines.removeLast();
    for (const QByteArray& l : lines) EXPECT_TRUE(l.endsWith('\r'));
    for (QByteArray& l : lines) l.chop(1);
    return lines;
  }
};

TEST_F(ScanFixture, StartSetsUpTheAdapterAndTheFirstScanAsksOnItsAnswers) {
  ASSERT_FALSE(scan.pb_StartScan_Click(false, QString()));
  EXPECT_TRUE(port.isOpen());
  EXPECT_EQ(takeCommands(), (QStringList{"ATZ", "ATE1", "ATSH 6C 10 F1", "ATST 10"}));
  EXPECT_EQ(clock.sleeps(), (std::vector<Millis>{1000ms, 1000ms, 1000ms}));
  EXPECT_EQ(scan.link().txText(), QStringLiteral("ATST 10"));
  EXPECT_TRUE(scan.link().timerActive());
  EXPECT_EQ(scan.scanStep(), 1);
  answerSetup();  // the expected reply is still empty: any prompt completes it
  EXPECT_EQ(takeCommands(), QStringList{"22000C01"});

  scan.pb_StopScan_Click();
  scan.pb_StartScan_Click(false, QString());
  takeCommands();
  answerSetup();
  EXPECT_TRUE(takeCommands().isEmpty());
  clock.advance(149ms);
  EXPECT_TRUE(takeCommands().isEmpty());
  clock.advance(1ms);
  EXPECT_EQ(takeCommands(), QStringList{"22000C01"});
}

TEST_F(ScanFixture, UnansweredRequestsMoveOnRoundAfterRound) {
  scan.pb_StartScan_Click(false, QString());
  takeCommands();
  clock.advance(150ms * 44);
  EXPECT_EQ(takeCommands(), kDefaultRound + kDefaultRound);
}

TEST_F(ScanFixture, AnsweredRequestsFollowAtOnceAndFillTheBoxes) {
  scan.pb_StartScan_Click(false, QString());
  answerSetup();
  takeCommands();
  answer("22000C01", "1A F8");
  EXPECT_EQ(boxes.text(Box::kRPM), QStringLiteral("1726"));
  EXPECT_EQ(gauges.tachs, QList<int>{1726});
  EXPECT_EQ(takeCommands(), QStringList{"22000D01"});
  gauges.visible = false;  // needles move only while the gauges show
  answer("22000D01", "3C");
  EXPECT_EQ(boxes.text(Box::kSpeed), QStringLiteral("60"));
  EXPECT_TRUE(gauges.speeds.isEmpty());
  EXPECT_EQ(takeCommands(), QStringList{"22000F01"});
  // A reply for another parameter does not complete; the timer moves on.
  answer("22000C01", "00 00");
  EXPECT_TRUE(takeCommands().isEmpty());
  clock.advance(150ms);
  EXPECT_EQ(takeCommands(), QStringList{"22001101"});
  EXPECT_EQ(boxes.text(Box::kIAT), QStringLiteral("IAT"));
}

TEST_F(ScanFixture, GarbledReplyChangesNothingAndTheCycleGoesOn) {
  scan.pb_StartScan_Click(false, QString());
  answerSetup();
  takeCommands();
  port.receive("22000C01\r62 00 0C 1A \r\r>");
  EXPECT_EQ(boxes.text(Box::kRPM), QStringLiteral("RPM"));
  EXPECT_TRUE(gauges.tachs.isEmpty());
  EXPECT_EQ(takeCommands(), QStringList{"22000D01"});
  EXPECT_EQ(scan.link().rxText(), QString());
}

TEST_F(ScanFixture, SelectionIsReadAtEachTurn) {
  scan.pb_StartScan_Click(false, QString());
  answerSetup();
  takeCommands();
  // Deselected while its request is out: the reply is still decoded.
  boxes.setEnabled(Box::kRPM, false);
  answer("22000C01", "0B B8");
  EXPECT_EQ(boxes.text(Box::kRPM), QStringLiteral("750"));
  boxes.setEnabled(Box::kKR, true);
  clock.advance(150ms * 22);
  QStringList expected = kDefaultRound.mid(1);
  expected.insert(11, QStringLiteral("22125D01"));
  EXPECT_EQ(takeCommands(), expected + QStringList{"22000D01"});
}

TEST_F(ScanFixture, NothingSelectedSelectsEngineSpeedAndLogsTwice) {
  for (const Parameter& p : catalogue()) boxes.setEnabled(p.box, false);
  ASSERT_FALSE(scan.pb_StartScan_Click(true, logPath()));
  takeCommands();
  clock.advance(150ms);
  EXPECT_EQ(takeCommands(), QStringList{"22000C01"});
  EXPECT_TRUE(boxes.isEnabled(Box::kRPM));
  EXPECT_EQ(scan.scanStep(), 2);
  EXPECT_EQ(logLines().size(), 3);  // header and two rows from one call
  // From now on engine speed is the cycle: a round, and a row, per request.
  clock.advance(150ms * 3);
  EXPECT_EQ(takeCommands(), (QStringList{"22000C01", "22000C01", "22000C01"}));
  EXPECT_EQ(logLines().size(), 6);
}

TEST_F(ScanFixture, StopClosesAndALoggedRestartBeginsAnew) {
  scan.pb_StartScan_Click(true, logPath());
  clock.advance(150ms * 27);
  scan.pb_StopScan_Click();
  EXPECT_FALSE(port.isOpen());
  EXPECT_FALSE(scan.link().timerActive());
  EXPECT_FALSE(scan.logging());
  EXPECT_EQ(scan.scanStep(), 6);
  EXPECT_EQ(logLines().size(), 2);
  takeCommands();
  clock.advance(1s);
  EXPECT_TRUE(port.writes().isEmpty());

  scan.pb_StartScan_Click(true, logPath());
  EXPECT_EQ(scan.scanStep(), 1);
  EXPECT_EQ(logLines().size(), 1);  // rewritten from its header
  clock.advance(150ms * 23);
  EXPECT_EQ(takeCommands().mid(4, 2), kDefaultRound.mid(0, 2));
  EXPECT_EQ(logLines().size(), 2);  // each line is on disk at once
  scan.pb_StopScan_Click();
  scan.pb_StopScan_Click();  // a stop while stopped does no harm
}

TEST_F(ScanFixture, LogHasHeaderAndALinePerRoundWithLastParameterLagging) {
  ASSERT_FALSE(scan.pb_StartScan_Click(true, logPath()));
  takeCommands();
  answerSetup();
  for (int round = 0; round < 2; ++round) {
    for (const QString& request : kDefaultRound) {
      ASSERT_EQ(takeCommands(), QStringList{request});
      answer(request, request == "22000901"      ? (round ? "81" : "80")
                      : request.endsWith("0C01") ? "1A F8"
                                                 : "80 80");
    }
  }
  scan.pb_StopScan_Click();
  const QList<QByteArray> lines = logLines();
  ASSERT_EQ(lines.size(), 3);
  EXPECT_EQ(lines[0] + "\r\n", csvHeader());
  const QList<QByteArray> first = lines[1].split(',');
  ASSERT_EQ(first.size(), 28);
  EXPECT_EQ(first[0], "1726");
  EXPECT_EQ(first[14], "LTFTB2");  // written before the round's last reply came in
  EXPECT_EQ(first[10], "Knock Retard");
  EXPECT_EQ(first[27], "12/6/26 8:00:00 PM");
  EXPECT_EQ(lines[2].split(',')[14], "0");  // the first round's answer, 80
}

TEST_F(ScanFixture, FailedStartLeavesEverythingIdle) {
  port.failOpenWith(QStringLiteral("Permission denied"));
  auto failure = scan.pb_StartScan_Click(true, logPath());
  ASSERT_TRUE(failure);
  EXPECT_EQ(failure->what, StartFailure::What::kPort);
  EXPECT_EQ(failure->name, QStringLiteral("/dev/fake0"));
  EXPECT_EQ(failure->reason, QStringLiteral("Permission denied"));
  EXPECT_FALSE(QFile::exists(logPath()));
  EXPECT_TRUE(clock.sleeps().empty());

  port.failOpenWith(QString());
  const QString badPath = dir.filePath(QStringLiteral("missing/folder/log.csv"));
  failure = scan.pb_StartScan_Click(true, badPath);
  ASSERT_TRUE(failure);
  EXPECT_EQ(failure->what, StartFailure::What::kLog);
  EXPECT_EQ(failure->name, badPath);
  EXPECT_FALSE(failure->reason.isEmpty());
  EXPECT_FALSE(port.isOpen());
  EXPECT_TRUE(port.writes().isEmpty());
  EXPECT_FALSE(scan.link().timerActive());
}

TEST(CsvLine, QuotesOnlyWhatWouldShiftColumns) {
  const struct {
    const char* text;
    const char* field;
  } cases[] = {
      {"1726.5", "1726.5"}, {"1726,5", "\"1726,5\""}, {"say \"hi\"", "\"say \"\"hi\"\"\""}, {"", ""}};
  for (const auto& c : cases) EXPECT_EQ(csvField(QString::fromLatin1(c.text)), QLatin1String(c.field));

  MemoryBoxes boxes = testing::boxesFromLayout();
  boxes.setText(Box::kMAF, QStringLiteral("3,5"));
  const QByteArray line = csvLine(boxes, QStringLiteral("06.12.26 20:00:00"));
  EXPECT_TRUE(line.startsWith("RPM,Speed,IAT,Runtime,\"3,5\",LOAD,"));
  EXPECT_TRUE(line.endsWith(",EGRDP,EGRAP,EGRDC,06.12.26 20:00:00\r\n"));
}

TEST(LogTime, ShortDateAndLongTimeWithoutZone) {
  const QDateTime when(QDate(2026, 12, 6), QTime(20, 5, 9));
  EXPECT_EQ(logTimeText(when, QLocale(QLocale::English, QLocale::UnitedStates)),
            QStringLiteral("12/6/26 8:05:09 PM"));
  EXPECT_EQ(logTimeText(when, QLocale(QLocale::German, QLocale::Germany)),
            QStringLiteral("06.12.26 20:05:09"));
}

}  // namespace
}  // namespace tarvex
