// The built tarvex's runs that read the car and end (--codes, --vin,
// --clear-codes, --monitor-tests, --report) over tarvex-sim's GM car (J1850
// VPW, P0171 and P0300 stored) or its CAN car (engine and transmission,
// cylinder 3's misfire count over its limit), with no display at all.
#include "tests/support/e2e_rig.h"

namespace tarvex {
namespace {

using testing::kQuickSim;
using namespace Qt::StringLiterals;

// Each run's exit status and what it told, on its output or in the file it
// wrote (the words themselves are the codes, monitor and report tests'). The
// adapters are those users own: a Wi-Fi one over TCP, a clone that
// refuses what it does not know, one at a speed nobody told the program (found
// on a first run and said), and one that answers a read with its own word
// (told as itself, the run failing, never as "none").
TEST(CarCommands, TellWhatTheCarSaysOverEveryAdapter) {
  QTemporaryDir dir;
  const QString html = dir.filePath(u"report.html"_s), pdf = dir.filePath(u"report.pdf"_s);
  const QStringList can = kQuickSim + QStringList{u"--car"_s, u"can"_s}, fast{u"--baud"_s, u"115200"_s};
  const struct {
    const char* what;
    QStringList simulator;
    const char* port;  // %1: the simulator's device
    QStringList arguments;
    int status;
    std::vector<const char*> said;  // on its output, or in `file`
    QString file;
  } cases[] = {
      // Clearing without a terminal to ask on is refused.
      {"clear-codes", kQuickSim, "%1", fast + QStringList{u"--clear-codes"_s}, 1, {"--yes"}, {}},
      {"vin", kQuickSim, "%1", fast + QStringList{u"--vin"_s}, 0, {"VIN: 2G1FP22G6W2112345\n"}, {}},
      {"wi-fi",
       {u"--tcp"_s, u"127.0.0.1:0"_s, u"--latency"_s, u"1-1"_s},
       "tcp://%1",
       {u"--codes"_s},
       0,
       {"P0171  stored"},
       {}},
      {"clone refusing ATDPN",
       {u"--adapter"_s, u"clone-minimal"_s, u"--baud"_s, u"115200"_s},
       "%1",
       fast + QStringList{u"--codes"_s},
       0,
       {"P0300  stored"},
       {}},
      {"first run at 38400",
       {u"--adapter"_s, u"clone"_s},
       "%1",
       {u"--codes"_s},
       0,
       {"answers at 38400 baud"},
       {}},
      {"CAN ERROR on 03",
       {u"--baud"_s, u"115200"_s, u"--word"_s, u"canerror@03"_s},
       "%1",
       fast + QStringList{u"--codes"_s},
       1,
       {"answered \"CAN ERROR\" to stored trouble codes (03)"},
       {}},
      // 0x0E66 / 8192 V; cylinder 3 counted 0x47 = 71 misfires, at most 0x32 = 50.
      {"monitor-tests",
       can,
       "%1",
       fast + QStringList{u"--monitor-tests"_s},
       0,
       {"On-board tests: 19 results from engine (7E8): 1 failed, 1 not run, 17 passed",
        "transmission (7E9): no on-board test results",
        "rich to lean sensor threshold voltage (01): 0.4500 V (limits 0.4000 to 0.5000)  passed",
        "misfire counts, last or current driving cycle (0C): 71 (limits 0 to 50)  FAILED",
        "3               71             38  FAILED"},
       {}},
      {"report as HTML",
       can,
       "%1",
       fast + QStringList{u"--report"_s, html},
       0,
       {"ISO 15765-4 CAN", "2G1FK1EJ2A9134567", "Freeze frame of P0171", "misfire cylinder 3 (A4)"},
       html},
      {"report as PDF", can, "%1", fast + QStringList{u"--report"_s, pdf}, 0, {"%PDF-", "%%EOF"}, pdf},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    testing::Simulator sim(c.simulator);
    testing::Tarvex run(QStringList{u"--port"_s, QString::fromLatin1(c.port).arg(sim.device)} + c.arguments);
    EXPECT_EQ(run.status(), c.status) << run.told();
    const QByteArray told = c.file.isEmpty() ? run.out + run.err : testing::contents(c.file);
    for (const char* said : c.said) EXPECT_TRUE(told.contains(said)) << said << "\n" << run.told();
    EXPECT_FALSE(run.out.contains("none")) << run.told();
    if (!c.file.isEmpty()) {
      EXPECT_TRUE(run.out.contains("Report written to")) << run.told();
    }
    // A run that ends well says nothing on its error output but the line speed it found.
    for (const QByteArray& line : run.err.split('\n'))
      EXPECT_TRUE(line.isEmpty() || c.status != 0 || line.contains("answers at")) << line.data();
  }
}

}  // namespace
}  // namespace tarvex
