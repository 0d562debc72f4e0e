#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>

#include "tests/support/sim_rig.h"

namespace tarvex {
namespace {

using sim::Injection;
using testing::SimRig;

// One session, line after line; every answer ends "\r\r>". An empty line repeats the last one; the
// functional header reaches no enhanced service. Check bytes worked out by hand from the J1850 CRC.
TEST(SimAdapter, AnswersLineAfterLine) {
  // clang-format off
  const std::pair<QByteArray, QByteArray> script[] = {
      {"ATI", "ATI\rELM327 v1.5"}, {"at i", "at i\rELM327 v1.5"}, {"ATE0", "ATE0\rOK"}, {"", "OK"},
      {"ATSH 6C 10 F", "?"}, {"ATST 1", "?"}, {"HELLO", "?"}, {QByteArray(200, 'A'), "?"},
      {"01FF", "NO DATA"}, {"220001", "NO DATA"}, {"03", "43 01 71 03 00 00 00 "}, {"ATH1", "OK"},
      {"0101", "48 6B 10 41 01 82 07 65 00 FA "}, {"atsh6c10f1", "OK"}, {"220001", "6C F1 10 62 00 01 82 CD "},
      {"ATH0", "OK"}, {"ATS0", "OK"}, {"22000101", "62000182"}, {"ATS1", "OK"}, {"22123401", "7F 22 31 "},
      {"04", "44 "}, {"220001", "62 00 01 00 "}, {"ATSP 3", "OK"}, {"010D", "BUS INIT: ...ERROR"}};
  // clang-format on
  SimRig rig;
  for (const auto& [line, reply] : script) EXPECT_EQ(rig.exchange(line), reply + "\r\r>") << line.constData();
  EXPECT_EQ(rig.exchange("ATL1"), "OK\r\n\r\n>");
}

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

TEST(SimAdapter, NoDataWhenTheAnswerTimeRunsOut) {
  const std::tuple<const char*, const char*, int, QByteArray> cases[] = {
      {"ATST 00", "ATSH 6C 55 F1", 200, "NO DATA"},  // nobody at 55
      {"ATST 10", "ATSH 68 6A F1", 64, "NO DATA"},   // the car's 70 ms are too slow
      {"ATST 20", "ATSH 68 6A F1", 70, "41 0D 00 "}};
  for (const auto& [st, header, ms, reply] : cases) {
    SimRig rig(SimRig::instant(Millis{70}));
    for (const char* line : {"ATE0", st, header}) rig.exchange(line);
    rig.write("010D\r\n");
    EXPECT_EQ(rig.run(Millis{ms} - Micros{1}), "") << st;
    EXPECT_EQ(rig.run(Millis{ms}), reply + "\r\r>") << st;
  }
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

// At another line speed nothing is understood: a little garbage comes back, never the prompt.
TEST(SimAdapter, AnotherLineSpeedIsHeardAsGarbage) {
  SimRig rig;
  for (int i = 0; i < 50; ++i) rig.adapter.receiveAtWrongSpeed("ATI\r", rig.now);
  const QByteArray noise = rig.run();
  EXPECT_TRUE(noise.size() >= 50 && noise.size() <= 200) << noise.size();  // a few bytes a chunk
  EXPECT_TRUE(std::all_of(noise.begin(), noise.end(), [](char c) { return c & 0x80; }))
      << noise.toHex().data();
  EXPECT_EQ(rig.exchange("ATI"), "ATI\rELM327 v1.5\r\r>");
  EXPECT_EQ(rig.adapter.commandLog(), QStringList{"ATI"});
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
