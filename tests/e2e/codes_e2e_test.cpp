// The built tarvex's --codes, --clear-codes and --vin over tarvex-sim's default
// car (J1850 VPW, P0171 and P0300 stored), with no display at all.
#include "tests/support/e2e_rig.h"

namespace tarvex {
namespace {

using testing::Simulator;
using testing::Tarvex;
using namespace Qt::StringLiterals;

// Clearing without a terminal to ask on is refused and clears nothing; the
// codes are then printed in words.
TEST(CodesProgram, ClearCodesWithoutATerminalRefusesAndCodesPrintsThemInWords) {
  Simulator sim;
  Tarvex refused(testing::onPort(sim.device, {"--clear-codes"}));
  EXPECT_EQ(refused.status(), 1);
  EXPECT_TRUE(refused.err.contains("--yes")) << refused.told();
  Tarvex run(testing::onPort(sim.device, {"--codes"}));
  ASSERT_EQ(run.status(), 0) << run.told();
  EXPECT_TRUE(run.out.startsWith("Protocol: SAE J1850 VPW (10.4 kbaud)\nMIL: on")) << run.told();
  for (const char* said : {"P0171  stored", "too lean (bank 1)", "P0300  stored",
                           "andom/multiple cylinder misfire", "Readiness of engine (10)"})
    EXPECT_TRUE(run.out.contains(said)) << said << "\n" << run.told();
  EXPECT_EQ(run.err, QByteArray());
}

// The simulated GM car's VIN, a 1998 Camaro's.
TEST(CodesProgram, VinPrintsTheVin) {
  Simulator sim;
  Tarvex run(testing::onPort(sim.device, {"--vin"}));
  ASSERT_EQ(run.status(), 0) << run.told();
  EXPECT_EQ(QString::fromLatin1(run.out).section(u"VIN: "_s, 1).trimmed(), u"2G1FP22G6W2112345"_s)
      << run.told();
}

// The adapters users own: a Wi-Fi one over TCP, a clone that refuses what it
// does not know, one at a speed nobody told the program (found on a first
// run and said), and one that answers a read with its own word (told as
// itself, the run failing).
TEST(CodesProgram, WifiCloneAndUnknownSpeedAdaptersGiveTheCodes) {
  const struct {
    const char* what;
    QStringList simulator;
    bool tcp;
    bool guessSpeed;
    int status;
    const char* said;
  } cases[] = {
      {"wi-fi", {"--tcp", "127.0.0.1:0", "--latency", "1-1"}, true, false, 0, "P0171  stored"},
      {"clone refusing ATDPN",
       {"--adapter", "clone-minimal", "--baud", "115200"},
       false,
       false,
       0,
       "P0300  stored"},
      {"first run at 38400", {"--adapter", "clone"}, false, true, 0, "answers at 38400 baud"},
      {"CAN ERROR on 03",
       {"--baud", "115200", "--word", "canerror@03"},
       false,
       false,
       1,
       "answered \"CAN ERROR\" to stored trouble codes (03)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Simulator sim(c.simulator);
    const QString port = c.tcp ? u"tcp://"_s + sim.device : sim.device;
    QStringList arguments{u"--port"_s, port, u"--codes"_s};
    if (!c.tcp && !c.guessSpeed) arguments << u"--baud"_s << u"115200"_s;
    Tarvex run(arguments);
    EXPECT_EQ(run.status(), c.status) << run.told();
    EXPECT_TRUE((run.out + run.err).contains(c.said)) << run.told();
    EXPECT_FALSE(run.out.contains("none")) << run.told();
  }
}

}  // namespace
}  // namespace tarvex
