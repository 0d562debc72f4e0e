// The built tarvex's --monitor-tests and --report over tarvex-sim's CAN car
// (engine and transmission; cylinder 3's misfire count over its limit), with
// no display at all.
#include <QTemporaryDir>

#include "tests/support/e2e_rig.h"

namespace tarvex {
namespace {

using testing::contents;
using testing::Simulator;
using testing::Tarvex;

const QStringList kCanSim = testing::kQuickSim + QStringList{QStringLiteral("--car"), QStringLiteral("can")};

TEST(MonitorsProgram, MonitorTestsPrintsEveryTestWithTheFailingMisfireCount) {
  Simulator sim(kCanSim);
  Tarvex run(testing::onPort(sim.device, {"--monitor-tests"}));
  ASSERT_EQ(run.status(), 0) << run.told();
  // 0x0E66 / 8192 V; cylinder 3 counted 0x47 = 71 misfires, at most 0x32 = 50.
  for (const char* said :
       {"On-board tests: 19 results from engine (7E8): 1 failed, 1 not run, 17 passed",
        "transmission (7E9): no on-board test results",
        "rich to lean sensor threshold voltage (01): 0.4500 V (limits 0.4000 to 0.5000)  passed",
        "misfire counts, last or current driving cycle (0C): 71 (limits 0 to 50)  FAILED",
        "3               71             38  FAILED"})
    EXPECT_TRUE(run.out.contains(said)) << said << "\n" << run.told();
  EXPECT_EQ(run.err, QByteArray());
}

TEST(MonitorsProgram, ReportWritesHtmlAndPdf) {
  QTemporaryDir dir;
  for (const char* name : {"report.html", "report.pdf"}) {
    SCOPED_TRACE(name);
    Simulator sim(kCanSim);
    const QString path = dir.filePath(QString::fromLatin1(name));
    Tarvex run(testing::onPort(sim.device, {"--report", path}));
    ASSERT_EQ(run.status(), 0) << run.told();
    EXPECT_TRUE(run.out.contains("Report written to")) << run.told();
    const QByteArray file = contents(path);
    if (path.endsWith(".pdf")) {
      EXPECT_TRUE(file.startsWith("%PDF-")) << file.left(20).constData();
      EXPECT_TRUE(file.trimmed().endsWith("%%EOF"));
      continue;
    }
    for (const char* part : {"ELM327 v1.5", "ISO 15765-4 CAN", "2G1FK1EJ2A9134567", "12653917", "P0171",
                             "Freeze frame of P0171", "Readiness", "misfire cylinder 3 (A4)", "FAILED"})
      EXPECT_TRUE(file.contains(part)) << part;
  }
}

}  // namespace
}  // namespace tarvex
