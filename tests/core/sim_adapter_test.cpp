#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>

#include "tests/support/sim_rig.h"

namespace tarvex {
namespace {

using sim::Injection;
using testing::SimRig;

// A rig that has been told ATE0: answers without their echo.
struct Quiet : SimRig {
  explicit Quiet(sim::SimAdapterConfig config = instant(), sim::VehicleConfig car = {})
      : SimRig(config, car) {
    exchange("ATE0");
  }
};

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

TEST(SimAdapter, InputDuringAnAnswerOrMonitoringStopsItButALineFeedDoesNot) {
  SimRig rig(SimRig::instant(Millis{30}));
  rig.write("010D\r");
  EXPECT_EQ(rig.run(Millis{10}), "010D\r");
  rig.write("\n");
  EXPECT_EQ(rig.run(Millis{20}), "");
  // The first character stops the answer and is lost; the clone knows no count digit.
  rig.write("22000D01\r");
  EXPECT_EQ(rig.run(), "STOPPED\r\r>2000D01\r?\r\r>");
  // ATMA prints what passes on the bus (nothing else talks on this car's) until a character stops it.
  SimRig monitor(SimRig::listening(Millis{10}, SimRig::profile("genuine")));
  EXPECT_EQ(monitor.exchange("ATMA"), "ATMA\r");
  monitor.now += Millis{5000};
  EXPECT_EQ(monitor.exchange(""), "STOPPED\r\r>");
}

TEST(SimAdapter, PacedAtNineThousandSixHundredBaud) {
  sim::SimAdapterConfig config;
  config.timing.latencyMin = config.timing.latencyMax = Millis{20};
  SimRig rig(config);
  const Micros c{1042}, turnaround = config.timing.turnaround;  // ten bits a character
  EXPECT_EQ(config.timing.charTime(), c);
  for (const char* line : {"ATE0", "ATSH 6C 10 F1"}) rig.exchange(line);
  // 9 characters, turnaround, 20 ms on the bus, 16 characters; AT1 listens twice the 20 ms before "\r>".
  rig.write("22000C01\r\n");
  const Micros answer = rig.now + 9 * c + turnaround + Millis{20};
  EXPECT_EQ(rig.run(answer + 16 * c).size(), 16);
  EXPECT_EQ(rig.run(answer + Millis{40}), "");
  EXPECT_EQ(rig.run(answer + Millis{40} + 2 * c), "\r>");
}

// The 4 KiB buffers hold 1024 "ATI" lines; the answers they overrun are lost.
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
      {{.inject = Injection::Noise}, "41 0D 00 \r\r>ELM327 v1.5\r\r>", 0},
      {{.silent = true}, "", 0},
      {{.resetEvery = 2}, "41 0D 00 \r\r>\r\rELM327 v1.5\r\r>", 0},
      {{.lvResetEvery = 2}, "41 0D 00 \r\r>LV RESET\r\r\rELM327 v1.5\r\r>", 0},
      {{.stallAfter = 2}, "41 0D 00 \r\r>", 0},
      {{.vanishAfter = 2}, "41 0D 00 \r\r>", 0}};
  for (const auto& [faults, expected, ms] : cases) {
    Quiet rig;
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

// The prompt after the answer: AT0 the time-out (ATST x 4 ms, 0x32); AT1 twice the latency within
// 20 ms..time-out; AT2 1.5 times, at least 8 ms. NO DATA after the whole time-out.
TEST(SimAdapter, ListensAfterTheLastAnswerAsAtAndStSay) {
  const std::tuple<const char*, QList<QByteArray>, QByteArray, int, int> cases[] = {
      {"clone", {"ATAT0"}, "010D", 20, 20 + 200},
      {"clone", {"ATAT0", "ATST 19"}, "010D", 20, 20 + 100},
      {"clone", {"ATAT0", "ATST 19", "ATST 00"}, "010D", 20, 20 + 200},
      {"clone", {}, "010D", 20, 20 + 40},
      {"clone", {"ATST 06"}, "010D", 20, 20 + 24},
      {"clone", {}, "010D", 2, 2 + 20},
      {"clone", {"ATAT2"}, "010D", 20, 20 + 40},  // refused: still AT1
      {"genuine", {"ATAT2"}, "010D", 20, 20 + 30},
      {"genuine", {"ATAT2"}, "010D", 2, 2 + 8},
      {"clone", {"010D"}, "0A", 20, 200},
      {"genuine", {"ATAT2", "010D"}, "0A", 20, 200},
  };
  for (const auto& [profile, setup, request, latency, prompt] : cases) {
    Quiet rig(SimRig::listening(Millis{latency}, SimRig::profile(profile)));
    for (const QByteArray& line : setup) rig.exchange(line);
    const Micros start = rig.now;
    const QByteArray out = rig.exchange(request);
    EXPECT_EQ(out, request == "0A" ? "NO DATA\r\r>" : "41 0D 00 \r\r>");
    EXPECT_EQ(rig.now - start, Millis{prompt}) << profile << " " << setup.join(' ').constData();
  }
}

// The engine answers at 10 ms, the transmission `lag` later: heard only while the adapter listens (AT1
// 20 ms, AT0 200 ms); a count digit N returns right after the Nth answer.
TEST(SimAdapter, ALaterControllerIsHeardWhileTheAdapterListensOrTheCountDigitWaits) {
  const QByteArray engine = "7E8 03 41 0D 00 \r", both = engine + "7E9 03 41 0D 00 \r";
  const std::tuple<const char*, int, QByteArray, QByteArray, QByteArray, int> cases[] = {
      {"clone", 5, "ATAT1", "010D", both + "\r>", 15 + 20},
      {"clone", 30, "ATAT1", "010D", engine + "\r>", 10 + 20},
      {"clone", 30, "ATAT0", "010D", both + "\r>", 40 + 200},
      {"genuine", 5, "ATAT0", "010D", both + "\r>", 15 + 200},
      {"genuine", 5, "ATAT0", "010D1", engine + "\r>", 10},
      {"genuine", 5, "ATAT0", "010D 2", both + "\r>", 15},
      {"genuine", 5, "ATAT0", "010D3", both + "\r>", 15 + 200},
      {"genuine", 5, "ATAT0", "010D0", "?\r\r>", 0},
      {"clone", 5, "ATAT0", "010D1", "?\r\r>", 0},
  };
  for (const auto& [profile, lag, mode, request, expected, prompt] : cases) {
    SCOPED_TRACE(std::string(profile) + " " + mode.constData() + " " + request.constData());
    auto config = SimRig::listening(Millis{10}, SimRig::profile(profile));
    config.timing.transmissionLag = Millis{lag};
    SimRig rig(config, {.car = sim::Car::Can});
    for (const QByteArray& line : {QByteArray("ATE0"), QByteArray("ATSP6"), QByteArray("ATH1"), mode})
      rig.exchange(line);
    EXPECT_EQ(rig.exchange(request), expected);
    EXPECT_EQ(rig.now, Millis{prompt});
  }
  // On J1850 each line is an answer: two of the VIN's five.
  Quiet vpw(SimRig::listening(Millis{10}, SimRig::profile("genuine")));
  EXPECT_EQ(vpw.exchange("09022"), "49 02 01 00 00 00 32 \r49 02 02 47 31 46 50 \r\r>");
}

TEST(SimAdapter, EachProfileRefusesItsOwnCommands) {
  const QList<QByteArray> optional = {"ATAT2", "ATCAF0", "ATCAF1", "ATDPN",
                                      "ATMA",  "ATJE",   "ATCSM1", "010D1"};
  const std::tuple<const char*, QList<QByteArray>, QByteArray> cases[] = {
      {"genuine", {}, "ELM327 v2.1"},
      {"clone", {"ATAT2", "010D1"}, "ELM327 v1.5"},
      {"clone-minimal", optional, "ELM327 v1.5"},
      {"bluetooth", {"ATAT2", "010D1"}, "ELM327 v1.5"},
      {"two-byte", {"ATAT2", "010D1"}, "ELM327 v1.5"},
  };
  EXPECT_EQ(sim::adapterProfileNames(),
            QStringList({"genuine", "clone", "clone-minimal", "bluetooth", "two-byte"}));
  EXPECT_FALSE(sim::adapterProfile(u"elm"));
  for (const auto& [profile, refused, version] : cases) {
    for (const QByteArray& line : optional + QList<QByteArray>{"ATAT1", "ATH1"}) {
      Quiet rig(SimRig::listening(Millis{10}, SimRig::profile(profile)));
      EXPECT_EQ(rig.exchange(line) == "?\r\r>", refused.contains(line)) << profile << " " << line.constData();
    }
    SimRig rig(SimRig::listening(Millis{10}, SimRig::profile(profile)));
    EXPECT_EQ(rig.exchange("ATI"), "ATI\r" + version + "\r\r>");
  }
}

// A poor clone's search: a dot a second for three seconds, the answer straight after.
TEST(SimAdapter, SlowSearchPrintsDots) {
  Quiet rig(SimRig::instant(Millis{0}, SimRig::profile("clone-minimal")), {.car = sim::Car::Can});
  rig.write("010D\r");
  EXPECT_EQ(rig.run(Millis{999}), "SEARCHING...\r");
  EXPECT_EQ(rig.run(Millis{2999}), "..");
  EXPECT_EQ(rig.run(), ".41 0D 00 \r41 0D 00 \r\r>");
  EXPECT_EQ(rig.now, Millis{3000});
}

// Each word in place of the answer (at 20 ms; time-out 200 ms), at the time it comes.
TEST(SimAdapter, WordsOnChosenRequests) {
  const QByteArray vin =
      "49 02 01 00 00 00 32 \r49 02 02 47 31 46 50 \r49 02 03 32 32 47 36 \r49 02 04 57 32 31 31 \r"
      "49 02 05 32 33 34 35 ";
  const std::tuple<const char*, QByteArray, QByteArray, int> cases[] = {
      {"canerror@03", "03", "CAN ERROR\r\r>", 200},
      {"canerror@03", "010D", "41 0D 00 \r\r>", 20},
      {"businit", "010D", "BUS INIT: ...ERROR\r\r>", 2500},
      {"busbusy", "010D", "BUS BUSY\r\r>", 0},
      {"dataerror", "010D", "DATA ERROR\r\r>", 20},
      {"datamark@0902", "0902", vin + "<DATA ERROR\r\r>", 20},
      {"bufferfull@0902", "0902", "49 02 01 00 00 00 32 \rBUFFER FULL\r\r>", 20},
      {"err94", "010D", "ERR94\r\r\rELM327 v1.5\r\r>", 100},
      {"actalert", "010D", "ACT ALERT\r", 200},
      {"searching", "010D", "SEARCHING...\r41 0D 00 \r\r>", 20},
  };
  for (const auto& [word, request, expected, ms] : cases) {
    auto config = SimRig::instant(Millis{20});
    config.timing.resetTime = Millis{100};
    Quiet rig(config);
    rig.adapter.setFaults({.words = {*sim::parseWordRule(QString::fromLatin1(word))}});
    EXPECT_EQ(rig.exchange(request), expected) << word;
    EXPECT_EQ(rig.now, Millis{ms}) << word;
  }
}

// The Nth matching request, a share of none, and the first rule that hits.
TEST(SimAdapter, WordsByCountShareAndOrder) {
  const std::tuple<QStringList, QList<QByteArray>, QList<QByteArray>> cases[] = {
      {{"canerror@01#2"}, {"010D", "0100", "010D", "03"}, {"41", "CAN ERROR", "41", "43"}},
      {{"canerror/0"}, {"010D", "010D"}, {"41", "41"}},
      {{"nodata@01", "stopped"}, {"010D", "03"}, {"NO DATA", "STOPPED"}},
  };
  for (const auto& [rules, requests, starts] : cases) {
    Quiet rig;
    sim::SimFaults faults;
    for (const QString& rule : rules) faults.words.push_back(*sim::parseWordRule(rule));
    rig.adapter.setFaults(faults);
    QList<QByteArray> got;
    for (const QByteArray& request : requests) got << rig.exchange(request).left(starts[got.size()].size());
    EXPECT_EQ(got, starts) << rules.join(u' ').toStdString();
  }
}

TEST(SimAdapter, WordRulesFromTheCommandLine) {
  using W = sim::AdapterWord;
  const std::tuple<const char*, std::tuple<W, QByteArray, double, int>> cases[] = {
      {"canerror@03", {W::CanError, "03", 1, 0}},
      {"datamark@09 02#2", {W::DataErrorMark, "0902", 1, 2}},
      {"err94/0.25", {W::Err94, "", 0.25, 0}},
      {"question@0c", {W::Question, "0C", 1, 0}},
  };
  for (const auto& [text, expected] : cases) {
    const auto rule = sim::parseWordRule(QString::fromLatin1(text));
    ASSERT_TRUE(rule) << text;
    EXPECT_EQ(std::tuple(rule->word, rule->command, rule->share, rule->nth), expected) << text;
  }
  for (const char* bad : {"nodata@0x", "nodata/2", "nodata#0", "nodata/0.5#2", "silence"})
    EXPECT_FALSE(sim::parseWordRule(QString::fromLatin1(bad))) << bad;
}

TEST(SimAdapter, FatalCanErrorResetsAndBarsTheCanSearch) {
  Quiet rig(SimRig::instant(), {.car = sim::Car::Can});
  rig.adapter.setFaults({.words = {{sim::AdapterWord::Err94, "", 1, 1}}});
  EXPECT_EQ(rig.exchange("010D"), "ERR94\r\r\rELM327 v1.5\r\r>");
  EXPECT_EQ(rig.exchange("ATZ"), "ATZ\r\r\rELM327 v1.5\r\r>");
  EXPECT_EQ(rig.exchange("010D"), "010D\rSEARCHING...\rUNABLE TO CONNECT\r\r>");
  EXPECT_EQ(rig.exchange("ATFE"), "ATFE\rOK\r\r>");
  EXPECT_EQ(rig.exchange("010D"), "010D\rSEARCHING...\r41 0D 00 \r41 0D 00 \r\r>");
}

// After ACT ALERT the adapter sleeps: a character wakes it, and its line is lost while it restarts.
TEST(SimAdapter, ActivityAlertThenLowPowerUntilACharacter) {
  auto config = SimRig::instant();
  config.timing.resetTime = Millis{100};
  Quiet rig(config);
  rig.adapter.setFaults({.words = {{sim::AdapterWord::ActAlert, "", 1, 1}}});
  EXPECT_EQ(rig.exchange("010D"), "ACT ALERT\r");
  rig.now += Millis{60'000};
  EXPECT_EQ(rig.exchange("ATI"), "\r\rELM327 v1.5\r\r>");
  EXPECT_EQ(rig.exchange("ATI"), "ATI\rELM327 v1.5\r\r>");
}

TEST(SimAdapter, ClonesThatIgnoreHeadersOrCutRequests) {
  const std::tuple<const char*, sim::Car, QByteArray, QByteArray, QByteArray> cases[] = {
      {"clone", sim::Car::GmVpw, "ATH1", "010D", "48 6B 10 41 0D 00 CA \r\r>"},
      {"clone-minimal", sim::Car::GmVpw, "ATH1", "010D", "41 0D 00 \r\r>"},
      {"clone", sim::Car::GmVpw, "ATSH 6C 10 F1", "22000D", "62 00 0D "},
      {"two-byte", sim::Car::GmVpw, "ATSH 6C 10 F1", "22000D", "7F 22 12 \r"},
      {"clone", sim::Car::Can, "ATSP6", "010D0C", "41 0D 00 0C "},
      {"two-byte", sim::Car::Can, "ATSP6", "010D0C", "41 0D 00 \r"},
  };
  for (const auto& [profile, car, setup, request, start] : cases) {
    SimRig rig(SimRig::instant(Millis{0}, SimRig::profile(profile)), {.car = car});
    for (const QByteArray& line : {QByteArray("ATE0"), setup})
      EXPECT_TRUE(rig.exchange(line).endsWith("OK\r\r>"));
    EXPECT_TRUE(rig.exchange(request).startsWith(start)) << profile << " " << request.constData();
  }
}

}  // namespace
}  // namespace tarvex
