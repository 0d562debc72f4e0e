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

}  // namespace
}  // namespace tarvex
