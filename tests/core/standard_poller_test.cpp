#include "standard/standard_poller.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include "tests/support/drag_ports.h"
#include "tests/support/fake_clock.h"
#include "tests/support/route.h"

namespace tarvex {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<int>;

// One controller's answer as 11-bit CAN with headers: a single frame, or first and consecutive frames.
QByteArray can(const char* id, const Bytes& data) {
  auto frame = [&](QByteArray line, std::size_t from, std::size_t count) {
    for (std::size_t i = from; i < from + count; ++i)
      line += ' ' + QByteArray::number(i < data.size() ? data[i] : 0, 16).rightJustified(2, '0').toUpper();
    return line;
  };
  const QByteArray head = QByteArray(id) + ' ';
  if (data.size() <= 7) return frame(head + "0" + QByteArray::number(qsizetype(data.size())), 0, data.size());
  QByteArray text = frame(
      head + "10 " + QByteArray::number(qsizetype(data.size()), 16).rightJustified(2, '0').toUpper(), 0, 6);
  for (std::size_t at = 6, n = 1; at < data.size(); at += 7, ++n)
    text += '\r' + frame(head + "2" + QByteArray::number(qsizetype(n % 16), 16).toUpper(), at, 7);
  return text;
}

// A CAN car's engine (7E8) and transmission (7E9), which has a few parameters of its own.
const QByteArray kEngineBitmap =
    can("7E8", {0x41, 0x00, 0x98, 0x1B, 0x80, 0x01});  // 01 04 05 0C 0D 0F 10 11, more
const QByteArray kGearboxBitmap = can("7E9", {0x41, 0x00, 0x88, 0x20, 0x00, 0x00});  // 01 05 0B
const QByteArray kSecondRange = can("7E8", {0x41, 0x20, 0x00, 0x02, 0x20, 0x00});    // 2F 33, no more

struct Rig {
  Rig() {
    testing::route(port, *timer, poller.session());
    poller.setFailureHandler([this](const Failure& f) { failures << f; });
  }
  void reply(const QByteArray& answer) {
    QByteArray echo = device.writes().value(device.writes().size() - 1);
    echo.chop(1);
    device.receive(echo + '\r' + answer + "\r\r>");
  }
  QByteArray last() const { return device.writes().back(); }
  void answerAll() {
    QByteArray digits = last().chopped(1).mid(2);
    if (digits.size() % 2) digits.chop(1);  // the count digit
    Bytes data{0x41};
    for (qsizetype i = 0; i < digits.size(); i += 2) {
      const int pid = digits.mid(i, 2).toInt(nullptr, 16);
      data.push_back(pid);
      for (int b = 0; b < obd::findPid(pid)->bytes; ++b) data.push_back(0x10);
    }
    reply(can("7E8", data));
  }
  // The round out, answered whole; the requests between rounds, unanswered.
  void answerRound() {
    const int round = poller.rounds();
    for (int guard = 0; guard < 20 && poller.rounds() == round; ++guard) {
      last().startsWith("09") ? reply("NO DATA") : answerAll();
    }
  }
  // Started and through the set-up, each line on its prompt, to this search answer and protocol.
  void discover(const QByteArray& search, const char* dpn, const char* at2 = "OK") {
    EXPECT_TRUE(poller.start());
    reply("ELM327 v2.1");
    for (int i = 0; i < 3; ++i) reply("OK");  // ATE1 ATH1 ATSP0
    reply(at2);
    clock.advance(2500ms);  // the search takes its time: no request goes out again meanwhile
    reply("SEARCHING...\r" + search);
    reply(dpn);
  }
  void discoverCan() {
    discover(kEngineBitmap + '\r' + kGearboxBitmap, "A6");
    reply(kSecondRange);
  }

  testing::FakeSerialPort device;
  testing::FakeClock clock;
  testing::ProxyPort port{device, &clock};
  std::unique_ptr<Timer> timer = clock.createTimer();
  AdapterTraits traits;
  Readings readings;
  StandardPoller poller{port, *timer, clock, traits, readings};
  QList<Failure> failures;
};

const QByteArray kFirstSix =
    can("7E8", {0x41, 0x01, 0x82, 0x07, 0x65, 0x04, 0x04, 0x80, 0x05, 0x5A, 0x0C, 0x1A, 0xF8, 0x0D, 0x3C}) +
    '\r' + can("7E9", {0x41, 0x01, 0x00, 0x00, 0x00, 0x00, 0x05, 0x5B, 0x0B, 0x21});
const QByteArray kLastFive =
    can("7E8", {0x41, 0x0F, 0x41, 0x10, 0x01, 0x90, 0x11, 0x33, 0x2F, 0x80, 0x33, 0x64});

// The first value comes before the identity, which is asked between rounds.
TEST(StandardPoller, PollsRightAfterTheBitmapsWithTheCountOfControllersThatAnswer) {
  Rig rig;
  rig.discoverCan();
  EXPECT_EQ(rig.device.writes(), (QList<QByteArray>{"ATZ\r", "ATE1\r", "ATH1\r", "ATSP0\r", "AT2\r", "0100\r",
                                                    "ATDPN\r", "01201\r", "010104050B0C0D2\r"}));
  EXPECT_EQ(rig.poller.protocol().value().number, '6');
  EXPECT_EQ(rig.poller.parameters(),
            (std::vector<int>{0x01, 0x04, 0x05, 0x0B, 0x0C, 0x0D, 0x0F, 0x10, 0x11, 0x2F, 0x33}));
  rig.reply(kFirstSix);
  EXPECT_EQ(rig.last(), "010F10112F331\r");
  EXPECT_EQ(rig.poller.readiness().value().storedCodes, 2);
  rig.reply(kLastFive);
  EXPECT_EQ(rig.last(), "0900\r");                              // between two rounds, never before the first
  rig.reply(can("7E8", {0x49, 0x00, 0x54, 0x40, 0x00, 0x00}));  // VIN, calibration, ECU name
  EXPECT_EQ(rig.last(), "01040B0C0D10112\r");                   // the driver's parameters only
  rig.answerAll();
  EXPECT_EQ(rig.last(), "0902\r");
  Bytes vin{0x49, 0x02, 0x01};
  for (char c : std::string("1G1JC5444R7252367")) vin.push_back(c);
  rig.reply(can("7E8", vin));
  const CarIdentity& id = rig.poller.identity();
  ASSERT_EQ(id.vin.size(), 1u);
  EXPECT_EQ(id.vin[0].items, QStringList{QStringLiteral("1G1JC5444R7252367")});
  EXPECT_EQ(rig.poller.stage(), StandardStage::kPolling);
}

// What changes goes every round, temperatures and pressures every few, the rest once and on refresh.
TEST(StandardPoller, EachParameterAtItsOwnPace) {
  Rig rig;
  rig.discoverCan();
  std::map<int, std::vector<std::vector<int>>> composed;  // by the count of rounds ended before
  for (int i = 0; i < 2 * StandardPoller::kSlowEvery; ++i) {
    rig.answerRound();
    if (rig.last().startsWith("09")) rig.reply("NO DATA");
    composed[rig.poller.rounds()] = rig.poller.round();
  }
  const std::vector<std::vector<int>> fast{{0x04, 0x0B, 0x0C, 0x0D, 0x10, 0x11}};
  const std::vector<std::vector<int>> withSlow{{0x04, 0x05, 0x0B, 0x0C, 0x0D, 0x0F},
                                               {0x10, 0x11, 0x2F, 0x33}};
  for (const auto& [ended, round] : composed)
    EXPECT_EQ(round, ended % StandardPoller::kSlowEvery == 0 ? withSlow : fast) << ended;
  rig.poller.refresh();
  rig.answerRound();
  rig.reply("NO DATA");  // 0900, asked again
  EXPECT_EQ(rig.poller.round().front().front(), 0x01);
}

TEST(StandardPoller, NoCarAndLegacyBus) {
  {
    Rig rig;
    rig.discover("UNABLE TO CONNECT", "0");
    EXPECT_EQ(rig.poller.stage(), StandardStage::kNoCar);
    EXPECT_FALSE(rig.device.isOpen());
    ASSERT_EQ(rig.failures.size(), 1);
    EXPECT_EQ(rig.failures[0].reason, QStringLiteral("UNABLE TO CONNECT"));
  }
  // J1850 VPW with headers: each parameter alone.
  Rig rig;
  rig.discover("48 6B 10 41 00 18 18 00 00 5E", "A2");  // 04 05 0C 0D
  EXPECT_EQ(rig.poller.protocol()->number, '2');
  EXPECT_FALSE(rig.poller.manyPerRequest());
  EXPECT_EQ(rig.poller.round(), (std::vector<std::vector<int>>{{0x04}, {0x05}, {0x0C}, {0x0D}}));
  EXPECT_EQ(rig.last(), "01041\r");
}

// A clone without the count digit or AT2: both dropped for good; AT2 that loses answers gives way to AT1.
TEST(StandardPoller, CountDigitAndAdaptiveTimingWhereTheAdapterTakesThem) {
  Rig rig;
  rig.discover(kEngineBitmap + '\r' + kGearboxBitmap, "A6", "?");
  EXPECT_FALSE(rig.poller.adaptiveTwo());
  EXPECT_EQ(rig.last(), "01201\r");
  rig.reply("?");
  EXPECT_EQ(rig.last(), "0120\r");
  rig.reply(kSecondRange);
  EXPECT_EQ(rig.last(), "010104050B0C0D\r");
  EXPECT_EQ(rig.traits.countDigit, AdapterTraits::Support::kNo);

  // A second start: AT2 is not tried again on this adapter.
  rig.poller.stop();
  rig.device.clearWrites();
  EXPECT_TRUE(rig.poller.start());
  for (int i = 0; i < 4; ++i) rig.reply("OK");
  EXPECT_EQ(rig.last(), "0100\r");

  // AT2 taken, no count digit, and the gearbox's answer lost twice: AT1.
  Rig lossy;
  lossy.traits.countDigit = AdapterTraits::Support::kNo;
  lossy.discoverCan();
  lossy.reply(kFirstSix.left(kFirstSix.indexOf("\r7E9")));
  lossy.reply(kLastFive);
  lossy.reply("NO DATA");
  lossy.reply("NO DATA");
  EXPECT_TRUE(lossy.poller.adaptiveTwo());
  lossy.reply(can("7E8", {0x41, 0x04, 0x80}));
  EXPECT_EQ(lossy.last(), "AT1\r");
  EXPECT_FALSE(lossy.poller.adaptiveTwo());
}

TEST(StandardPoller, AsksAloneWhatAnAnswerLeftOut) {
  const std::tuple<const char*, QByteArray, std::set<int>> cases[] = {
      {"whole", kFirstSix, {}},
      {"short",
       can("7E8", {0x41, 0x01, 0x82, 0x07, 0x65, 0x04, 0x04, 0x80}) + '\r' +
           can("7E9", {0x41, 0x05, 0x5B, 0x0B, 0x21}),
       {0x0C, 0x0D}},
      {"no data", "NO DATA", {0x01, 0x04, 0x05, 0x0B, 0x0C, 0x0D}},
      {"refused", can("7E8", {0x7F, 0x01, 0x12}), {0x01, 0x04, 0x05, 0x0B, 0x0C, 0x0D}},
      {"adapter's word: asked together again", "CAN ERROR", {}},
  };
  for (const auto& [what, firstAnswer, alone] : cases) {
    SCOPED_TRACE(what);
    Rig rig;
    rig.discoverCan();
    rig.reply(firstAnswer);
    EXPECT_EQ(rig.poller.askedAlone(), alone);
  }
}

// Values go to the readings, the log and the needles (whichever poll runs); the rates are counted.
TEST(StandardPoller, ValuesGoToReadingsTheLogAndTheGaugesAndRatesAreCounted) {
  struct Needles : GaugeSink {
    bool gaugesVisible() const override { return true; }
    void UpdateSpeed(std::int16_t v) override { speed = v; }
    void UpdateTach(std::int16_t v) override { rpm = v; }
    int speed = -1, rpm = -1;
  } needles;
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("standard.csv"));
  Rig rig;
  rig.poller.setLogPath(path);
  rig.poller.setGaugeSink(&needles);
  rig.poller.setDateTimeSource([] { return QDateTime(QDate(2026, 12, 6), QTime(20, 0), Qt::UTC); });
  rig.discoverCan();
  rig.clock.advance(25ms);
  rig.reply(kFirstSix);
  EXPECT_EQ(std::pair(needles.rpm, needles.speed), std::pair(1726, 60));  // 1A F8: 1726 rpm; 3C: 60 km/h
  rig.clock.advance(25ms);
  rig.reply(kLastFive);
  rig.reply("NO DATA");  // 0900
  const QByteArray gearbox = can("7E9", {0x41, 0x0B, 0x21});
  rig.clock.advance(25ms);
  rig.reply(can("7E8", {0x41, 0x04, 0x80, 0x0C, 0x1A, 0xF8, 0x0D, 0x3C, 0x10, 0x01, 0x90, 0x11, 0x33}) +
            '\r' + gearbox);
  rig.reply("NO DATA");  // 0902
  rig.clock.advance(25ms);
  rig.reply(can("7E8", {0x41, 0x04, 0x80, 0x0C, 0x1A, 0xF8}) + '\r' + gearbox);
  const int rpm = rig.readings.find(QStringLiteral("RPM"));
  ASSERT_NE(rpm, Readings::kNoChannel);
  EXPECT_EQ(rig.readings.series(rpm).values, (std::vector<float>{1726, 1726, 1726}));
  const int vss = rig.readings.find(QStringLiteral("VSS"));
  EXPECT_EQ(rig.readings.series(vss).size(), 2);  // the short answer brought none: a gap, not a zero
  EXPECT_EQ(rig.readings.find(QStringLiteral("STATUS")), Readings::kNoChannel);  // words are no channel
  // 0.1 s: four requests, 6+5+6+3 parameters (the second controller's 01 and 05 not counted).
  EXPECT_DOUBLE_EQ(rig.poller.rates().requestsPerSecond, 40.0);
  EXPECT_DOUBLE_EQ(rig.poller.rates().parametersPerSecond, 200.0);

  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const QList<QByteArray> lines = file.readAll().split('\n');
  ASSERT_EQ(lines.size(), 5);  // header, three rounds, and nothing after the last CRLF
  EXPECT_EQ(lines[0],
            "\xEF\xBB\xBFTime,UTC offset,LOAD [%],ECT [\xC2\xB0"
            "C],MAP [kPa],RPM [rpm],VSS [km/h],IAT [\xC2\xB0"
            "C],MAF [g/s],TP [%],FLI [%],BARO [kPa],Fuel economy [L/100 km],Fuel used [L]\r");
  // 4 g/s of air at 14.7:1, 0.745 kg/L: 1.315 L/h, at 60 km/h 2.19 L/100 km; 25 ms of it 0.00 L.
  EXPECT_EQ(lines[1], "2026-12-06 20:00:00.050,+00:00,50.2,50,33,1726,60,25,4,20,50.2,100,2.2,0\r");
  EXPECT_EQ(lines[3], "2026-12-06 20:00:00.100,+00:00,50.2,,33,1726,,,,,,,2.2,0\r");
}

// 01 ones go in the round, 22 ones after it; one not answered (GEAR) is no value anywhere.
TEST(StandardPoller, OwnParametersAreAskedWithTheirHeaderAndDecodedByTheirEquations) {
  const QByteArray file =
      "Trans temp,TFT,221940,A-40,-40,215,\xC2\xB0"
      "C,7E1\n"
      "Twice the speed,RPM2,010C,(A*256+B)/2,0,20000,rpm,\n"
      "Gear,GEAR,221941,A,0,8,,\n";
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("own.csv"));
  Rig rig;
  rig.poller.setOwnParameters(obd::readUserParameters(file).parameters);
  rig.poller.setUnits(UnitChoice::us());
  rig.poller.setLogPath(path);
  rig.discoverCan();
  ASSERT_EQ(rig.last(), "010104050B0C0D2\r");  // 0C once, for RPM and RPM2 alike
  rig.reply(kFirstSix);
  rig.reply(kLastFive);
  EXPECT_EQ(rig.last(), "221941\r");  // no header of its own: asked of all, no count digit
  rig.reply("NO DATA");
  EXPECT_EQ(rig.last(), "ATSH 7E1\r");
  rig.reply("OK");
  EXPECT_EQ(rig.last(), "2219401\r");
  rig.reply(can("7E9", {0x62, 0x19, 0x40, 0x78}));  // 0x78 = 120, less 40
  EXPECT_EQ(rig.last(), "ATSH 7DF\r");
  rig.reply("OK");
  EXPECT_EQ(rig.last(), "0900\r");

  ASSERT_EQ(rig.poller.ownParameters().size(), 3u);
  EXPECT_EQ(rig.poller.ownValue(0)->value, 80);
  EXPECT_EQ(rig.poller.ownValue(1)->value, 3452);  // 0x1AF8 = 6904, halved
  EXPECT_EQ(rig.poller.ownValue(2)->value, std::nullopt);
  EXPECT_EQ(rig.readings.find(QStringLiteral("GEAR")), Readings::kNoChannel);
  EXPECT_NE(rig.readings.find(QStringLiteral("TFT")), Readings::kNoChannel);
  QFile log(path);
  ASSERT_TRUE(log.open(QIODevice::ReadOnly));
  const QList<QByteArray> lines = log.readAll().split('\n');
  ASSERT_EQ(lines.size(), 3);
  EXPECT_TRUE(lines[0].contains("VSS [mph],") && lines[0].contains(",TFT [\xC2\xB0"
                                                                   "F],RPM2 [rpm],GEAR,"))
      << lines[0].data();
  // 80 °C = 176 °F; 60 km/h = 37.28 mph; 2.19 L/100 km = 235.2 / 2.19 = 107.3 mpg.
  EXPECT_TRUE(lines[1].contains(",176,3452,,")) << lines[1].data();
  EXPECT_TRUE(lines[1].contains(",1726,37.28,")) << lines[1].data();
  EXPECT_TRUE(lines[1].endsWith(",107.3,0\r")) << lines[1].data();
}

// The headers the adapter sends to every controller by default, by protocol number.
TEST(StandardPoller, FunctionalHeaderOfEachProtocol) {
  const std::pair<const char*, const char*> cases[] = {
      {"1", "616AF1"}, {"2", "686AF1"}, {"3", "686AF1"}, {"4", "C133F1"}, {"5", "C133F1"},
      {"6", "7DF"},    {"7", "DB33F1"}, {"8", "7DF"},    {"9", "DB33F1"},
  };
  for (const auto& [number, header] : cases)
    EXPECT_EQ(functionalHeader(*obd::protocolFromDpn(QString::fromLatin1(number))),
              QString::fromLatin1(header))
        << number;
}

TEST(StandardPoller, StopSendsNothingMoreAndAPortFaultStops) {
  Rig rig;
  rig.discoverCan();
  rig.poller.stop();
  rig.reply(kFirstSix);  // late, to a closed port
  rig.device.clearWrites();
  rig.clock.advance(30s);
  EXPECT_TRUE(rig.device.writes().isEmpty() && rig.device.writesWhileClosed().isEmpty());
  EXPECT_EQ(rig.poller.stage(), StandardStage::kIdle);

  Rig failing;
  failing.discoverCan();
  failing.device.fail(QStringLiteral("gone"));
  failing.clock.advance(30s);
  ASSERT_EQ(failing.failures.size(), 1);
  EXPECT_TRUE(failing.failures[0].is(Failure::Kind::kLost));
  EXPECT_FALSE(failing.device.isOpen());
  EXPECT_TRUE(failing.device.writesWhileClosed().isEmpty());
}

}  // namespace
}  // namespace tarvex
