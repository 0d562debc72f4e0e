#include <gtest/gtest.h>

#include <QRegularExpression>

#include "tests/support/sim_rig.h"

namespace tarvex {
namespace {

using sim::Injection;
using sim::SimAdapterConfig;
using sim::SimTiming;
using testing::SimRig;

QByteArray hexLine(const QByteArray& bytes) {
  return bytes.toHex(' ').toUpper() + ' ';
}

Millis vehicleTime(const SimRig& rig) {
  return std::chrono::duration_cast<Millis>(rig.now);
}

TEST(SimAdapter, AnswersCommandsAsAClone) {
  struct Case {
    const char* line;
    const char* reply;
  } cases[] = {
      {"ATI", "ELM327 v1.5\r\r>"},
      {"at i", "ELM327 v1.5\r\r>"},
      {"  A T I ", "ELM327 v1.5\r\r>"},
      {"AT@1", "OBDII to RS232 Interpreter\r\r>"},
      {"ATDP", "SAE J1850 VPW\r\r>"},
      {"ATDPN", "2\r\r>"},
      {"ATSH 6C 10 F1", "OK\r\r>"},
      {"atsh6c10f1", "OK\r\r>"},
      {"ATSH 6C 10 F", "?\r\r>"},
      {"ATSH 6C 10 FG", "?\r\r>"},
      {"ATST 10", "OK\r\r>"},
      {"ATST 1", "?\r\r>"},
      {"ATAT1", "OK\r\r>"},
      {"ATL0", "OK\r\r>"},
      {"ATS1", "OK\r\r>"},
      {"ATH0", "OK\r\r>"},
      {"ATE2", "?\r\r>"},
      {"ATSP 2", "OK\r\r>"},
      {"ATSP D", "?\r\r>"},
      {"ATXYZ", "?\r\r>"},
      {"HELLO", "?\r\r>"},
      {"0", "?\r\r>"},
      {"01 02 03 04 05 06 07 08", "?\r\r>"},
      {"01FF", "NO DATA\r\r>"},
      {"0902", "NO DATA\r\r>"},
  };
  for (const Case& c : cases) {
    SimRig rig(SimRig::instantConfig());
    rig.quiet();
    EXPECT_EQ(rig.exchange(c.line), QByteArray(c.reply)) << c.line;
  }
}

TEST(SimAdapter, EchoesEachLineUntilTurnedOff) {
  SimRig rig;
  // The echo is the line as typed; the line feed is neither echoed nor a command.
  EXPECT_EQ(rig.exchange("at i"), QByteArray("at i\rELM327 v1.5\r\r>"));
  EXPECT_EQ(rig.exchange("ATE0"), QByteArray("ATE0\rOK\r\r>"));
  EXPECT_EQ(rig.exchange("ATI"), QByteArray("ELM327 v1.5\r\r>"));
  EXPECT_EQ(rig.exchange("ATE1"), QByteArray("OK\r\r>"));
  EXPECT_EQ(rig.exchange("ATI"), QByteArray("ATI\rELM327 v1.5\r\r>"));
  EXPECT_EQ(rig.adapter.commandLog(), (QStringList{"at i", "ATE0", "ATI", "ATE1", "ATI"}));
}

TEST(SimAdapter, LinefeedsFollowEveryCarriageReturnWhenOn) {
  SimRig rig(SimRig::instantConfig());
  rig.quiet();
  EXPECT_EQ(rig.exchange("ATL1"), QByteArray("OK\r\n\r\n>"));
  EXPECT_EQ(rig.exchange("ATI"), QByteArray("ELM327 v1.5\r\n\r\n>"));
}

TEST(SimAdapter, EmptyLineRepeatsTheLastCommandAndOverlongLineIsRefused) {
  SimRig rig(SimRig::instantConfig());
  rig.quiet();
  rig.exchange("ATI");
  EXPECT_EQ(rig.exchange(""), QByteArray("ELM327 v1.5\r\r>"));
  EXPECT_EQ(rig.exchange(QByteArray(200, 'A')), QByteArray("?\r\r>"));
}

TEST(SimAdapter, SpacesAndHeadersShapeTheDataLine) {
  SimRig rig(SimRig::instantConfig());
  rig.quiet();
  rig.exchange("ATSH 6C 10 F1");
  auto data = [&] { return *rig.vehicle.enhancedData(0x000C, vehicleTime(rig)); };

  QByteArray bytes = QByteArray::fromHex("62000C") + data();
  EXPECT_EQ(rig.exchange("22000C01"), hexLine(bytes) + "\r\r>");

  rig.exchange("ATS0");
  bytes = QByteArray::fromHex("62000C") + data();
  EXPECT_EQ(rig.exchange("22000C01"), bytes.toHex().toUpper() + "\r\r>");

  rig.exchange("ATS1");
  rig.exchange("ATH1");
  QByteArray frame = QByteArray::fromHex("6CF11062000C") + data();
  frame.append(char(sim::j1850Crc(frame)));
  EXPECT_EQ(rig.exchange("22000C01"), hexLine(frame) + "\r\r>");
}

TEST(SimAdapter, CheckByteIsTheJ1850Crc) {
  EXPECT_EQ(sim::j1850Crc(QByteArray::fromHex("686AF10100")), 0x17);
  EXPECT_EQ(sim::j1850Crc(QByteArray::fromHex("486B104100BE3EB811")), 0xFA);
}

TEST(SimAdapter, ResetTakesItsTimeAndRestoresDefaults) {
  SimAdapterConfig config = SimRig::instantConfig();
  config.timing.resetTime = Millis{1000};
  SimRig rig(config);
  for (const char* line : {"ATE0", "ATS0", "ATH1", "ATL1", "ATSH 6C 10 F1", "ATST 10"}) rig.exchange(line);

  rig.write("ATZ\r\n");
  EXPECT_EQ(rig.runUntil(Millis{999}), QByteArray());
  // Typed while the adapter restarts: lost.
  rig.write("ATI\r");
  EXPECT_EQ(rig.runUntil(Millis{1000}), QByteArray("\r\rELM327 v1.5\r\r>"));
  EXPECT_FALSE(rig.adapter.commandLog().contains("ATI"));

  const auto& s = rig.adapter.settings();
  EXPECT_TRUE(s.echo);
  EXPECT_TRUE(s.spaces);
  EXPECT_FALSE(s.headers);
  EXPECT_FALSE(s.linefeeds);
  EXPECT_EQ(s.header, QByteArray::fromHex("686AF1"));
  EXPECT_EQ(s.timeoutUnits, 0x32);
  // Back on the functional header the car ignores enhanced requests.
  EXPECT_EQ(rig.exchange("22000C01"), QByteArray("22000C01\rNO DATA\r\r>"));
}

TEST(SimAdapter, EchoedResetOnTheDefaultAdapter) {
  SimRig rig;
  EXPECT_EQ(rig.exchange("ATZ"), QByteArray("ATZ\r\r\rELM327 v1.5\r\r>"));
}

TEST(SimAdapter, NoDataComesWhenTheAnswerTimeHasPassed) {
  struct Case {
    const char* st;
    Millis wait;
  } cases[] = {
      {"ATST 10", Millis{64}}, {"ATST 32", Millis{200}}, {"ATST 00", Millis{200}}, {"ATST FF", Millis{1020}}};
  for (const Case& c : cases) {
    SimRig rig(SimRig::instantConfig());
    rig.quiet();
    rig.exchange(c.st);
    rig.exchange("ATSH 6C 55 F1");  // nobody at address 55
    const Micros sent = rig.now;
    rig.write("22000C01\r\n");
    EXPECT_EQ(rig.runUntil(sent + c.wait - Micros{1}), QByteArray()) << c.st;
    EXPECT_EQ(rig.runUntil(sent + c.wait), QByteArray("NO DATA\r\r>")) << c.st;
  }
}

TEST(SimAdapter, SlowCarIsCutOffByTheAnswerTime) {
  SimAdapterConfig config = SimRig::instantConfig();
  config.timing.latencyMin = config.timing.latencyMax = Millis{70};
  SimRig rig(config);
  rig.quiet();
  rig.exchange("ATSH 6C 10 F1");
  rig.exchange("ATST 10");
  EXPECT_EQ(rig.exchange("22000D01"), QByteArray("NO DATA\r\r>"));
  rig.exchange("ATST 20");
  EXPECT_TRUE(rig.exchange("22000D01").startsWith("62 00 0D "));
}

TEST(SimAdapter, EnhancedRequestsAnswerTheModelsBytes) {
  SimAdapterConfig config = SimRig::instantConfig();
  config.timing.latencyMin = config.timing.latencyMax = Millis{20};
  SimRig rig(config);
  rig.quiet();
  rig.exchange("ATSH 6C 10 F1");
  rig.runUntil(Millis{95'000});  // well into the drive cycles
  for (std::uint16_t id : sim::Vehicle::enhancedIdentifiers()) {
    const QByteArray request = "22" + QByteArray::number(id, 16).rightJustified(4, '0').toUpper() + "01";
    const Millis answeredAt = vehicleTime(rig) + Millis{20};
    const QByteArray expected = QByteArray(1, char(0x62)) + char(id >> 8) + char(id & 0xFF) +
                                *rig.vehicle.enhancedData(id, answeredAt);
    EXPECT_EQ(rig.exchange(request), hexLine(expected) + "\r\r>") << request.constData();
  }
  EXPECT_EQ(rig.exchange("22123401"), QByteArray("7F 22 31 \r\r>"));
  // Without the trailing byte the request is still understood.
  const QByteArray rpm = *rig.vehicle.enhancedData(0x000C, vehicleTime(rig) + Millis{20});
  EXPECT_EQ(rig.exchange("22000C"), hexLine(QByteArray::fromHex("62000C") + rpm) + "\r\r>");
}

TEST(SimAdapter, TroubleCodesReadClearedAndReflectedInTheLamp) {
  SimRig rig(SimRig::instantConfig());
  rig.quiet();
  EXPECT_EQ(rig.exchange("03"), QByteArray("43 01 71 03 00 00 00 \r\r>"));
  EXPECT_EQ(rig.exchange("0101"), QByteArray("41 01 82 07 65 00 \r\r>"));
  rig.exchange("ATSH 6C 10 F1");
  EXPECT_EQ(rig.exchange("22000101"), QByteArray("62 00 01 82 \r\r>"));
  EXPECT_EQ(rig.exchange("04"), QByteArray("44 \r\r>"));
  EXPECT_EQ(rig.exchange("22000101"), QByteArray("62 00 01 00 \r\r>"));
  rig.exchange("ATSH 68 6A F1");
  EXPECT_EQ(rig.exchange("03"), QByteArray("43 00 00 00 00 00 00 \r\r>"));
  EXPECT_EQ(rig.exchange("0101"), QByteArray("41 01 00 07 65 00 \r\r>"));
}

TEST(SimAdapter, InterruptingCharacterStopsTheAnswerAndIsLost) {
  SimAdapterConfig config = SimRig::instantConfig();
  config.timing.latencyMin = config.timing.latencyMax = Millis{30};
  SimRig rig(config);
  rig.write("010D\r\n");
  QByteArray out = rig.runUntil(Millis{10});
  EXPECT_EQ(out, QByteArray("010D\r"));
  rig.write("22000D01\r\n");  // the client gave up and asks again
  out += rig.settle();
  EXPECT_FALSE(out.contains("41 0D"));
  EXPECT_TRUE(out.startsWith("010D\rSTOPPED\r\r>")) << out.constData();
  // The first character went into the interruption; the rest made a line.
  EXPECT_EQ(rig.adapter.commandLog(), (QStringList{"010D", "2000D01"}));
  // The adapter is ready again.
  EXPECT_TRUE(rig.exchange("010D").contains("41 0D "));
}

TEST(SimAdapter, LineFeedDoesNotInterrupt) {
  SimAdapterConfig config = SimRig::instantConfig();
  config.timing.latencyMin = config.timing.latencyMax = Millis{30};
  SimRig rig(config);
  rig.quiet();
  rig.write("010D\r");
  rig.runUntil(Millis{10});
  rig.write("\n");
  EXPECT_TRUE(rig.settle().startsWith("41 0D "));
}

TEST(SimAdapter, PacedExchangeAtNineThousandSixHundredBaud) {
  SimAdapterConfig config;
  config.timing = SimTiming{};
  config.timing.latencyMin = config.timing.latencyMax = Millis{20};
  SimRig rig(config);
  const Micros c = config.timing.charTime();
  EXPECT_EQ(c, Micros{1042});

  // "ATI\r": four characters in, the echo keeps pace, the answer follows the
  // turnaround, fourteen characters out.
  rig.write("ATI\r");
  const Micros cr = 4 * c;
  const Micros prompt = cr + config.timing.turnaround + 14 * c;
  QByteArray out = rig.runUntil(prompt - Micros{1});
  EXPECT_EQ(out, QByteArray("ATI\rELM327 v1.5\r\r"));
  EXPECT_EQ(rig.runUntil(prompt), QByteArray(">"));

  // One enhanced request as the scan sends it: 10 characters in, 20 ms on
  // the bus, "62 00 0C hh ll \r\r>" (18 characters) out.
  rig.exchange("ATE0");
  rig.exchange("ATSH 6C 10 F1");
  const Micros start = rig.now;
  rig.write("22000C01\r\n");
  out = rig.settle();
  EXPECT_EQ(out.size(), 18);
  const Micros took = rig.now - start;
  EXPECT_EQ(took, 9 * c + config.timing.turnaround + Millis{20} + 18 * c);
}

TEST(SimAdapter, ProtocolSearchAndWrongProtocols) {
  SimRig rig(SimRig::instantConfig());
  rig.quiet();
  rig.exchange("ATSP 0");
  EXPECT_EQ(rig.exchange("ATDP"), QByteArray("AUTO\r\r>"));
  rig.exchange("ATSH 6C 55 F1");
  EXPECT_EQ(rig.exchange("010D"), QByteArray("SEARCHING...\rUNABLE TO CONNECT\r\r>"));
  EXPECT_EQ(rig.exchange("ATDP"), QByteArray("AUTO\r\r>"));
  rig.exchange("ATSH 68 6A F1");
  EXPECT_TRUE(rig.exchange("010D").startsWith("SEARCHING...\r41 0D "));
  EXPECT_TRUE(rig.exchange("010D").startsWith("41 0D "));
  EXPECT_EQ(rig.exchange("ATDP"), QByteArray("AUTO, SAE J1850 VPW\r\r>"));
  EXPECT_EQ(rig.exchange("ATDPN"), QByteArray("A2\r\r>"));

  rig.exchange("ATSP 6");
  EXPECT_EQ(rig.exchange("010D"), QByteArray("CAN ERROR\r\r>"));
  rig.exchange("ATSP 3");
  EXPECT_EQ(rig.exchange("010D"), QByteArray("BUS INIT: ...ERROR\r\r>"));
  // The protocol is stored: a reset keeps it.
  rig.exchange("ATZ");
  EXPECT_EQ(rig.exchange("ATDPN"), QByteArray("ATDPN\r3\r\r>"));
}

TEST(SimAdapter, BatteryVoltageFromTheCar) {
  SimRig rig(SimRig::instantConfig());
  rig.quiet();
  rig.runUntil(Millis{60'000});
  const QByteArray reply = rig.exchange("ATRV");
  const double volts = rig.vehicle.stateAt(vehicleTime(rig)).batteryVolts;
  EXPECT_EQ(reply, QByteArray::number(volts, 'f', 1) + "V\r\r>");
  EXPECT_TRUE(QRegularExpression("^1[34]\\.\\dV\r\r>$").match(QString::fromLatin1(reply)).hasMatch());
}

// Each fault knob at full share, on the speed request.
TEST(SimAdapter, FaultKnobs) {
  struct Case {
    const char* name;
    std::function<void(sim::SimFaults&)> set;
    std::function<void(const QByteArray& out, SimRig& rig)> check;
  } cases[] = {
      {"drop", [](auto& f) { f.dropShare = 1; },
       [](const QByteArray& out, SimRig&) { EXPECT_EQ(out, QByteArray("NO DATA\r\r>")); }},
      {"twice", [](auto& f) { f.twiceShare = 1; },
       [](const QByteArray& out, SimRig&) {
         const QList<QByteArray> lines = out.split('\r');
         ASSERT_GE(lines.size(), 2);
         EXPECT_TRUE(lines[0].startsWith("41 0D "));
         EXPECT_EQ(lines[0], lines[1]);
         EXPECT_EQ(out.count('>'), 1);
       }},
      {"searching", [](auto& f) { f.inject = Injection::Searching; },
       [](const QByteArray& out, SimRig&) { EXPECT_TRUE(out.startsWith("SEARCHING...\r41 0D ")); }},
      {"bus init", [](auto& f) { f.inject = Injection::BusInit; },
       [](const QByteArray& out, SimRig&) { EXPECT_EQ(out, QByteArray("BUS INIT: ...ERROR\r\r>")); }},
      {"can error", [](auto& f) { f.inject = Injection::CanError; },
       [](const QByteArray& out, SimRig&) { EXPECT_EQ(out, QByteArray("CAN ERROR\r\r>")); }},
      {"noise", [](auto& f) { f.inject = Injection::Noise; },
       [](const QByteArray& out, SimRig&) {
         const int at = out.indexOf("41 0D ");
         EXPECT_GE(at, 3);
         EXPECT_TRUE(out.endsWith("\r\r>"));
       }},
      {"silent", [](auto& f) { f.silent = true; },
       [](const QByteArray& out, SimRig& rig) {
         EXPECT_EQ(out, QByteArray());
         EXPECT_EQ(rig.exchange("ATI"), QByteArray());
       }},
      {"reset every 2nd line", [](auto& f) { f.resetEvery = 2; },
       [](const QByteArray& out, SimRig& rig) {
         // The request itself was the first line; the next one resets.
         EXPECT_TRUE(out.startsWith("41 0D "));
         EXPECT_EQ(rig.exchange("010D"), QByteArray("\r\rELM327 v1.5\r\r>"));
         EXPECT_TRUE(rig.adapter.settings().echo);
       }},
      {"vanish on the 2nd line", [](auto& f) { f.vanishAfter = 2; },
       [](const QByteArray& out, SimRig& rig) {
         EXPECT_TRUE(out.startsWith("41 0D "));
         EXPECT_FALSE(rig.adapter.vanishedAt());
         EXPECT_EQ(rig.exchange("010D"), QByteArray());
         EXPECT_TRUE(rig.adapter.vanishedAt());
         EXPECT_EQ(rig.exchange("ATI"), QByteArray());
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SimRig rig(SimRig::instantConfig());
    rig.quiet();
    sim::SimFaults f;
    c.set(f);
    rig.adapter.setFaults(f);
    c.check(rig.exchange("010D"), rig);
  }
}

TEST(SimAdapter, LateAnswerComesAfterTheClientsTimeout) {
  SimAdapterConfig config = SimRig::instantConfig();
  config.faults.lateShare = 1;
  config.faults.lateBy = Millis{200};
  SimRig rig(config);
  rig.quiet();
  const Micros sent = rig.now;
  rig.write("010D\r\n");
  EXPECT_EQ(rig.runUntil(sent + Millis{150}), QByteArray());
  EXPECT_TRUE(rig.runUntil(sent + Millis{200}).startsWith("41 0D "));
}

TEST(SimAdapter, SharesAreDrawnFromTheSeed) {
  auto noDataCount = [](std::uint64_t seed) {
    SimAdapterConfig config = SimRig::instantConfig();
    config.seed = seed;
    config.faults.dropShare = 0.3;
    SimRig rig(config);
    rig.quiet();
    int n = 0;
    for (int i = 0; i < 200; ++i) n += rig.exchange("010D") == "NO DATA\r\r>";
    return n;
  };
  const int first = noDataCount(7);
  EXPECT_EQ(first, noDataCount(7));
  EXPECT_GT(first, 30);
  EXPECT_LT(first, 90);
}

TEST(SimAdapter, SpontaneousResetLosesThePendingAnswer) {
  SimAdapterConfig config = SimRig::instantConfig();
  config.timing.latencyMin = config.timing.latencyMax = Millis{30};
  config.timing.resetTime = Millis{500};
  SimRig rig(config);
  rig.quiet();
  const Micros sent = rig.now;
  rig.write("010D\r\n");
  rig.adapter.resetNow(sent + Millis{10});
  EXPECT_EQ(rig.settle(), QByteArray("\r\rELM327 v1.5\r\r>"));
  EXPECT_EQ(rig.now, sent + Millis{510});
}

}  // namespace
}  // namespace tarvex
