// Runs that read the car and end, over tarvex-sim's GM car (VPW, P0171, P0300) or its CAN car.
#include "tests/support/e2e_rig.h"

namespace tarvex {
namespace {

using namespace Qt::StringLiterals;

// Wi-Fi, a clone refusing the unknown, one at an untold speed, one answering with its own word.
TEST(CarCommands, TellWhatTheCarSaysOverEveryAdapter) {
  QTemporaryDir dir;
  const QString html = dir.filePath(u"report.html"_s), pdf = dir.filePath(u"report.pdf"_s);
  const struct {
    const char* simulator;
    const char* arguments;  // %1: the simulator's device, %2: `file`
    int status;
    std::vector<const char*> said;  // on its output, or in `file`
    QString file;
  } cases[] = {
      // Clearing without a terminal to ask on is refused.
      {"--baud 115200 --latency 1-1", "--port %1 --baud 115200 --clear-codes", 1, {"--yes"}, {}},
      {"--baud 115200 --latency 1-1", "--port %1 --baud 115200 --vin", 0, {"VIN: 2G1FP22G6W2112345\n"}, {}},
      {"--tcp 127.0.0.1:0 --latency 1-1", "--port tcp://%1 --codes", 0, {"P0171  stored"}, {}},
      {"--adapter clone-minimal --baud 115200", "--port %1 --baud 115200 --codes", 0, {"P0300  stored"}, {}},
      {"--adapter clone", "--port %1 --codes", 0, {"answers at 38400 baud"}, {}},
      {"--baud 115200 --word canerror@03",
       "--port %1 --baud 115200 --codes",
       1,
       {"answered \"CAN ERROR\" to stored trouble codes (03)"},
       {}},
      // 0x0E66 / 8192 V; cylinder 3 counted 0x47 = 71 misfires, at most 0x32 = 50.
      {"--baud 115200 --latency 1-1 --car can",
       "--port %1 --baud 115200 --monitor-tests",
       0,
       {"On-board tests: 19 results from engine (7E8): 1 failed, 1 not run, 17 passed",
        "transmission (7E9): no on-board test results",
        "rich to lean sensor threshold voltage (01): 0.4500 V (limits 0.4000 to 0.5000)  passed",
        "misfire counts, last or current driving cycle (0C): 71 (limits 0 to 50)  FAILED",
        "3               71             38  FAILED"},
       {}},
      {"--baud 115200 --latency 1-1 --car can",
       "--port %1 --baud 115200 --report %2",
       0,
       {"ISO 15765-4 CAN", "2G1FK1EJ2A9134567", "Freeze frame of P0171", "misfire cylinder 3 (A4)"},
       html},
      {"--baud 115200 --latency 1-1 --car can",
       "--port %1 --baud 115200 --report %2",
       0,
       {"%PDF-", "%%EOF"},
       pdf},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.simulator) + " | " + c.arguments);
    testing::Simulator sim(QString::fromLatin1(c.simulator).split(u' '));
    QStringList arguments = QString::fromLatin1(c.arguments).split(u' ');
    for (QString& a : arguments) a.replace(u"%1"_s, sim.device).replace(u"%2"_s, c.file);
    testing::Tarvex run(arguments);
    EXPECT_EQ(run.status(), c.status) << run.told();
    const QByteArray told = c.file.isEmpty() ? run.out + run.err : testing::contents(c.file);
    for (const char* said : c.said) EXPECT_TRUE(told.contains(said)) << said << "\n" << run.told();
    EXPECT_FALSE(run.out.contains("none")) << run.told();
    EXPECT_TRUE(c.file.isEmpty() || run.out.contains("Report written to")) << run.told();
    // A run that ends well says nothing on its error output but the line speed it found.
    for (const QByteArray& line : run.err.split('\n'))
      EXPECT_TRUE(line.isEmpty() || c.status != 0 || line.contains("answers at")) << line.data();
  }
}

}  // namespace
}  // namespace tarvex
