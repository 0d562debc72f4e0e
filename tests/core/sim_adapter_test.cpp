#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>

#include "tests/support/sim_rig.h"

namespace tarvex {
namespace {

using sim::Injection;
using testing::SimRig;

TEST(SimAdapter, ResetTakesItsTimeAndRestoresDefaultsButNotTheProtocol) {
  auto config = SimRig::instant();
  config.timing.resetTime = Millis{1000};
  SimRig rig(config);
  for (const char* line : {"ATE0", "ATS0", "ATH1", "ATL1", "ATSH 6C 10 F1", "ATST 10", "ATSP 3"})
    rig.exchange(line);
  rig.write("ATZ\r\n");
  EXPECT_EQ(rig.run(Millis{999}), "");
  rig.write("ATI\r");  // lost while it restarts
  EXPECT_EQ(rig.run(Millis{1000}), "\r\rELM327 v1.5\r\r>");
  const auto& s = rig.adapter.settings();
  EXPECT_TRUE(s.echo && s.spaces && !s.headers && !s.linefeeds);
  EXPECT_EQ(s.header, QByteArray::fromHex("686AF1"));
  EXPECT_EQ(s.timeoutUnits, 0x32);
  EXPECT_EQ(rig.exchange("ATDPN"), "ATDPN\r3\r\r>");
}

TEST(SimAdapter, InputDuringAnAnswerStopsItButALineFeedDoesNot) {
  SimRig rig(SimRig::instant(Millis{30}));
  rig.write("010D\r");
  EXPECT_EQ(rig.run(Millis{10}), "010D\r");
  rig.write("\n");
  EXPECT_EQ(rig.run(Millis{20}), "");
  rig.write("22000D01\r");  // the first character stops the answer and is lost
  EXPECT_EQ(rig.run(), "STOPPED\r\r>2000D01\rNO DATA\r\r>");
}

TEST(SimAdapter, PacedAtNineThousandSixHundredBaud) {
  sim::SimAdapterConfig config;
  config.timing.latencyMin = config.timing.latencyMax = Millis{20};
  SimRig rig(config);
  const Micros c{1042}, turnaround = config.timing.turnaround;  // ten bits a character
  EXPECT_EQ(config.timing.charTime(), c);
  for (const char* line : {"ATE0", "ATSH 6C 10 F1"}) rig.exchange(line);
  // 9 characters to the CR, turnaround, 20 ms on the bus, then "62 00 0C hh ll \r\r>" character by character.
  rig.write("22000C01\r\n");
  const Micros prompt = rig.now + 9 * c + turnaround + Millis{20} + 18 * c;
  EXPECT_EQ(rig.run(prompt - Micros{1}).size(), 17);
  EXPECT_EQ(rig.run(prompt), ">");
}

// A flood keeps what the adapter's 4 KiB buffers hold: 1024 "ATI" lines are heard, the answers they
// overrun are lost, and all is out within 4096 characters after the input.
TEST(SimAdapter, FloodIsLostBeyondTheBuffers) {
  SimRig rig(sim::SimAdapterConfig{});  // 9600 baud
  int heard = 0;
  rig.adapter.setCommandObserver([&](const QByteArray&) { ++heard; });
  rig.write(QByteArray("ATI\r").repeated(250'000));
  rig.run();
  EXPECT_EQ(heard, 1024);
  const Micros c{1042};
  EXPECT_LE(rig.now, 2 * 4096 * c + Millis{3});  // unbounded: 1024 * 18 characters
  EXPECT_EQ(rig.exchange("ATI"), "ATI\rELM327 v1.5\r\r>");
}

// Each knob at full share; noise comes before the answer.
TEST(SimAdapter, FaultKnobs) {
  const std::tuple<sim::SimFaults, QByteArray, int> cases[] = {
      {{.dropShare = 1}, "NO DATA\r\r>ELM327 v1.5\r\r>", 200},
      {{.lateShare = 1}, "41 0D 00 \r\r>ELM327 v1.5\r\r>", 250},
      {{.twiceShare = 1}, "41 0D 00 \r41 0D 00 \r\r>ELM327 v1.5\r\r>", 0},
      {{.inject = Injection::Searching}, "SEARCHING...\r41 0D 00 \r\r>ELM327 v1.5\r\r>", 0},
      {{.inject = Injection::BusInit}, "BUS INIT: ...ERROR\r\r>ELM327 v1.5\r\r>", 200},
      {{.inject = Injection::CanError}, "CAN ERROR\r\r>ELM327 v1.5\r\r>", 200},
      {{.inject = Injection::Noise}, "41 0D 00 \r\r>ELM327 v1.5\r\r>", 0},
      {{.silent = true}, "", 0},
      {{.resetEvery = 2}, "41 0D 00 \r\r>\r\rELM327 v1.5\r\r>", 0},
      {{.lvResetEvery = 2}, "41 0D 00 \r\r>LV RESET\r\r\rELM327 v1.5\r\r>", 0},
      {{.stallAfter = 2}, "41 0D 00 \r\r>", 0},
      {{.vanishAfter = 2}, "41 0D 00 \r\r>", 0}};
  for (const auto& [faults, expected, ms] : cases) {
    SimRig rig;
    rig.exchange("ATE0");
    rig.adapter.setFaults(faults);
    QByteArray out = rig.exchange("010D");
    out += rig.exchange("ATI");
    EXPECT_EQ(out.right(expected.size()), expected);
    EXPECT_EQ(out.size() > expected.size(), faults.inject == Injection::Noise) << out.constData();
    EXPECT_EQ(rig.now, Millis{ms}) << expected.constData();
    EXPECT_EQ(std::pair(rig.adapter.goneBy(rig.now), rig.adapter.stalledAt().has_value()),
              std::pair(faults.vanishAfter > 0, faults.stallAfter > 0));  // a stalled device stays
    EXPECT_EQ(rig.adapter.settings().echo, faults.resetEvery + faults.lvResetEvery > 0);  // ATE0 forgotten
  }
}

}  // namespace
}  // namespace tarvex
