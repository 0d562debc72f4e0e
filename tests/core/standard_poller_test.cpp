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

// One controller's answer as an ELM327 prints 11-bit CAN with headers on:
// a single frame, or a first frame and consecutive frames padded with zeros.
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

Bytes text(const char* prefix, const char* chars, std::size_t padTo = 0) {
  Bytes out;
  for (const char* p = prefix; *p; p += 3) out.push_back(QByteArray(p, 2).toInt(nullptr, 16));
  std::string s(chars);
  for (char c : s) out.push_back(c);
  while (out.size() < padTo) out.push_back(0);
  return out;
}

// A CAN car with an engine controller (7E8) and a transmission controller
// (7E9) that supports a few parameters of its own.
const QByteArray kEngineBitmap =
    can("7E8", {0x41, 0x00, 0x98, 0x1B, 0x80, 0x01});  // 01 04 05 0C 0D 0F 10 11, more
const QByteArray kGearboxBitmap = can("7E9", {0x41, 0x00, 0x88, 0x20, 0x00, 0x00});  // 01 05 0B
const QByteArray kSecondRange = can("7E8", {0x41, 0x20, 0x00, 0x02, 0x20, 0x00});    // 2F 33, no more

struct Rig {
  Rig() {
    testing::route(port, *timer, poller.session());
    poller.handlers().onProblem = [this](const QString& t) { problems << t; };
  }
  // The echo of the last line written, then the adapter's answer and prompt.
  void reply(const QByteArray& answer) {
    QByteArray echo = device.writes().value(device.writes().size() - 1);
    echo.chop(1);
    device.receive(echo + '\r' + answer + "\r\r>");
  }
  QByteArray last() const { return device.writes().back(); }
  // Started and through the set-up, on protocol `dpn`, with this search answer.
  void discover(const QByteArray& search, const char* dpn) {
    EXPECT_EQ(poller.start(), std::nullopt);
    clock.advance(3s);
    reply("OK");
    clock.advance(2500ms);  // the search takes its time: no request goes out again meanwhile
    reply("SEARCHING...\r" + search);
    clock.advance(StandardPoller::kLateLook);  // a late answer is looked for, not awaited
    reply(dpn);
  }
  // The CAN car through discovery and readiness, into its first round.
  void discoverCan() {
    discover(kEngineBitmap + '\r' + kGearboxBitmap, "A6");
    reply(kSecondRange);
    reply(can("7E8", {0x49, 0x00, 0x54, 0x40, 0x00, 0x00}));  // VIN, calibration, ECU name
    reply(can("7E8", text("49 02 01 ", "1G1JC5444R7252367")));
    reply(can("7E8", text("49 04 01 ", "12345678", 19)));
    reply(can("7E8", text("49 0A 01 ", "ECM-EngineControl", 23)) + '\r' +
          can("7E9", text("49 0A 01 ", "TCM-TransmissionCtl", 23)));
    reply(can("7E8", {0x41, 0x01, 0x82, 0x07, 0x65, 0x04}));
  }

  testing::FakeSerialPort device;
  testing::FakeClock clock;
  testing::ProxyPort port{device, &clock};
  std::unique_ptr<Timer> timer = clock.createTimer();
  Readings readings;
  StandardPoller poller{port, *timer, clock, readings};
  QStringList problems;
};

TEST(StandardPoller, FindsProtocolSupportIdentityAndReadinessOverTwoRangesAndTwoControllers) {
  Rig rig;
  rig.discoverCan();
  EXPECT_EQ(rig.device.writes(),
            (QList<QByteArray>{"ATZ\r", "ATE1\r", "ATH1\r", "ATSP0\r", "0100\r", "ATDPN\r", "0120\r",
                               "0900\r", "0902\r", "0904\r", "090A\r", "0101\r", "010104050B0C0D\r"}));
  ASSERT_TRUE(rig.poller.protocol());
  EXPECT_EQ(rig.poller.protocol()->number, '6');
  EXPECT_TRUE(rig.poller.manyPerRequest());
  EXPECT_EQ(rig.poller.parameters(),
            (std::vector<int>{0x01, 0x04, 0x05, 0x0B, 0x0C, 0x0D, 0x0F, 0x10, 0x11, 0x2F, 0x33}));
  // Each answer kept where it belongs (their decoding is obd's, tested there).
  const CarIdentity& id = rig.poller.identity();
  ASSERT_EQ(id.vin.size() + id.calibrations.size() + id.ecuNames.size(), 4u);
  EXPECT_EQ(id.vin[0].items + id.calibrations[0].items,
            (QStringList{QStringLiteral("1G1JC5444R7252367"), QStringLiteral("12345678")}));
  EXPECT_EQ(id.ecuNames[1].items, QStringList{QStringLiteral("TCM-TransmissionCtl")});
  ASSERT_TRUE(rig.poller.readiness());
  EXPECT_EQ(rig.poller.readiness()->storedCodes, 2);
  EXPECT_EQ(rig.poller.stage(), StandardStage::kPolling);
}

TEST(StandardPoller, NoCarAndLegacyBus) {
  {
    Rig rig;
    rig.discover("UNABLE TO CONNECT", "0");
    EXPECT_EQ(rig.poller.stage(), StandardStage::kNoCar);
    EXPECT_FALSE(rig.device.isOpen());
    EXPECT_EQ(rig.problems.size(), 1);
  }
  // J1850 VPW with headers: each parameter alone, no identity bitmap, so the VIN is tried.
  Rig rig;
  rig.discover("48 6B 10 41 00 18 18 00 00 5E", "A2");  // 04 05 0C 0D
  EXPECT_EQ(rig.poller.protocol()->number, '2');
  EXPECT_FALSE(rig.poller.manyPerRequest());
  rig.reply("NO DATA");  // 0900
  EXPECT_EQ(rig.last(), "0902\r");
  rig.reply(
      "48 6B 10 49 02 01 00 00 00 31 AA\r48 6B 10 49 02 02 47 31 4A 43 AA\r"
      "48 6B 10 49 02 03 35 34 34 34 AA\r48 6B 10 49 02 04 52 37 32 35 AA\r"
      "48 6B 10 49 02 05 32 33 36 37 AA");
  EXPECT_EQ(rig.poller.identity().vin.at(0).items, QStringList{QStringLiteral("1G1JC5444R7252367")});
  EXPECT_EQ(rig.poller.round(), (std::vector<std::vector<int>>{{0x04}, {0x05}, {0x0C}, {0x0D}}));
  EXPECT_EQ(rig.last(), "0104\r");
}

// Nine parameters polled (two of eleven taken out): six in one request, three in the next.
struct PollRig : Rig {
  PollRig() {
    poller.setPolled(0x01, false);
    poller.setPolled(0x2F, false);
    discoverCan();
    reply("NO DATA");  // the round that was out: each of its parameters is asked alone
    reply("NO DATA");
    discoverCan();  // started afresh: nothing is asked alone
  }
};

const QByteArray kFirstSix =
    can("7E8", {0x41, 0x04, 0x80, 0x05, 0x5A, 0x0B, 0x21, 0x0C, 0x1A, 0xF8, 0x0D, 0x3C, 0x0F, 0x41});
const QByteArray kLastThree = can("7E8", {0x41, 0x10, 0x01, 0x90, 0x11, 0x33, 0x33, 0x64});

TEST(StandardPoller, SplitsNineIntoSixAndThreeAndAsksAloneWhatAnAnswerLeftOut) {
  const struct {
    const char* what;
    QByteArray firstAnswer;
    std::vector<std::vector<int>> nextRound;
  } cases[] = {
      {"whole", kFirstSix, {{0x04, 0x05, 0x0B, 0x0C, 0x0D, 0x0F}, {0x10, 0x11, 0x33}}},
      {"short",
       can("7E8", {0x41, 0x04, 0x80, 0x05, 0x5A, 0x0B, 0x21, 0x0C, 0x1A, 0xF8}),
       {{0x04, 0x05, 0x0B, 0x0C, 0x10, 0x11}, {0x33}, {0x0D}, {0x0F}}},
      {"cut inside a parameter",
       can("7E8", {0x41, 0x04, 0x80, 0x05, 0x5A, 0x0B, 0x21, 0x0C, 0x1A}),
       {{0x04, 0x05, 0x0B, 0x10, 0x11, 0x33}, {0x0C}, {0x0D}, {0x0F}}},
      {"no data", "NO DATA", {{0x10, 0x11, 0x33}, {0x04}, {0x05}, {0x0B}, {0x0C}, {0x0D}, {0x0F}}},
      {"refused",
       can("7E8", {0x7F, 0x01, 0x12}),
       {{0x10, 0x11, 0x33}, {0x04}, {0x05}, {0x0B}, {0x0C}, {0x0D}, {0x0F}}},
      {"gearbox answers the rest",
       kFirstSix + '\r' + can("7E9", {0x41, 0x0D, 0x3C}),
       {{0x04, 0x05, 0x0B, 0x0C, 0x0D, 0x0F}, {0x10, 0x11, 0x33}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    PollRig rig;
    EXPECT_EQ(rig.device.writes().back(), "0104050B0C0D0F\r");
    rig.reply(c.firstAnswer);
    EXPECT_EQ(rig.last(), "01101133\r");
    rig.reply(kLastThree);
    EXPECT_EQ(rig.poller.round(), c.nextRound);
  }
  // Alone and still unanswered: it stays alone and in the poll.
  PollRig rig;
  rig.reply("NO DATA");
  rig.reply(kLastThree);
  rig.reply(kLastThree);
  EXPECT_EQ(rig.last(), "0104\r");
  rig.reply("NO DATA");
  EXPECT_EQ(rig.last(), "0105\r");
  EXPECT_TRUE(rig.poller.askedAlone().contains(0x04));
}

TEST(StandardPoller, ValuesGoToReadingsAndTheLogAndRatesAreCounted) {
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("standard.csv"));
  PollRig rig;
  rig.poller.setLogPath(path);  // from the next round on
  for (int round = 0; round < 4; ++round) {
    rig.clock.advance(25ms);
    rig.reply(round == 3 ? can("7E8", {0x41, 0x04, 0x80, 0x05, 0x5A, 0x0B, 0x21, 0x0C, 0x1A, 0xF8})
                         : kFirstSix);
    rig.clock.advance(25ms);
    rig.reply(kLastThree);
  }
  const int rpm = rig.readings.find(QStringLiteral("RPM"));
  ASSERT_NE(rpm, Readings::kNoChannel);
  EXPECT_EQ(rig.readings.series(rpm).values, (std::vector<float>{1726, 1726, 1726, 1726}));
  const int vss = rig.readings.find(QStringLiteral("VSS"));
  EXPECT_EQ(rig.readings.series(vss).size(), 3);  // the short answer brought none: a gap, not a zero
  EXPECT_EQ(rig.readings.series(rig.readings.find(QStringLiteral("MAF"))).values.back(), 4.0f);
  EXPECT_EQ(rig.readings.find(QStringLiteral("STATUS")), Readings::kNoChannel);  // words are no channel
  // 0.2 s of polling: eight requests, 6+3+6+3+6+3+4+3 parameters.
  EXPECT_DOUBLE_EQ(rig.poller.rates().requestsPerSecond, 40.0);
  EXPECT_DOUBLE_EQ(rig.poller.rates().parametersPerSecond, 170.0);

  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const QList<QByteArray> lines = file.readAll().split('\n');
  ASSERT_EQ(lines.size(), 5);  // header, three rounds, and nothing after the last CRLF
  EXPECT_EQ(lines[0],
            "\xEF\xBB\xBFTime,UTC offset,LOAD [%],ECT [\xC2\xB0"
            "C],MAP [kPa],RPM [rpm],VSS [km/h],IAT [\xC2\xB0"
            "C],MAF [g/s],TP [%],BARO [kPa]\r");
  // After the time and its offset, which come from the wall clock.
  EXPECT_EQ(lines[1].split(',').mid(2).join(','), "50.2,50,33,1726,60,25,4,20,100\r");
  EXPECT_EQ(lines[3].split(',').mid(2).join(','), "50.2,50,33,1726,,,4,20,100\r");
  EXPECT_TRUE(lines[4].isEmpty());
}

TEST(StandardPoller, StopSendsNothingMoreAndAPortFaultStops) {
  PollRig rig;
  rig.poller.stop();
  rig.reply(kFirstSix);  // late, to a closed port
  rig.device.clearWrites();
  rig.clock.advance(30s);
  EXPECT_TRUE(rig.device.writes().isEmpty());
  EXPECT_TRUE(rig.device.writesWhileClosed().isEmpty());
  EXPECT_EQ(rig.poller.stage(), StandardStage::kIdle);

  PollRig failing;
  QStringList failures;
  failing.poller.handlers().onFailure = [&](const PortFailure& f) { failures << f.message(); };
  failing.device.fail(QStringLiteral("gone"));
  failing.clock.advance(30s);
  EXPECT_EQ(failures.size(), 1);
  EXPECT_FALSE(failing.device.isOpen());
  EXPECT_TRUE(failing.device.writesWhileClosed().isEmpty());
}

}  // namespace
}  // namespace tarvex
