// The built program over tarvex-sim, with no display or offscreen driven by drive_plugin.cpp.
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFileInfo>
#include <cstring>

#include "tests/support/e2e_rig.h"

namespace tarvex {
namespace {

using namespace testing;

// Nothing is logged; the ports listed are the terminals with a driver behind them.
TEST(Program, OptionsAreCheckedBeforeAnythingStarts) {
  QStringList ttys;
  for (const QFileInfo& tty :
       QDir(QStringLiteral("/sys/class/tty")).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot))
    if (QFile::exists(tty.filePath() + "/device/driver")) ttys << "/dev/" + tty.fileName();
  QTemporaryDir dir;
  const QString log = dir.filePath("log.csv"), missing = dir.filePath("missing.csv");
  const struct {
    QStringList arguments;
    int exitCode;
    QStringList said;
  } cases[] = {
      {{"--version"}, 0, {"tarvex 1.5\n"}},
      {{"--help"},
       0,
       {"--port <DEVICE>", "default: /dev/ttyS0", "--baud <N|auto>", "first run", "--demo",
        "--adapter <NAME>", "--list-ports", "--version"}},
      {{"--list-ports"}, 0, {}},
      {{"--baud", "38400", "--list-ports"}, 0, {}},
      {{"--baud", "auto", "--list-ports"}, 0, {}},
      {{"--baud", "1234"}, 2, {"--baud 1234", "9600, 19200, 38400, 57600, 115200, 230400 or 500000"}},
      {{"--no-such-option"}, 2, {"no-such-option"}},
      {{"--car", "bmw", "--demo"}, 2, {"--car bmw", "vpw or can"}},
      {{"--adapter", "clone"}, 2, {"--adapter goes with --demo"}},
      {{"--demo", "--adapter", "cheap"}, 2, {"--adapter cheap", "genuine, clone"}},
      {{"--demo", "--port", "/dev/ttyUSB0"}, 2, {"--demo uses the simulated adapter"}},
      {{"--yes", "--codes"}, 2, {"--yes goes with --clear-codes"}},
      {{"--rounds", "3"}, 2, {"--rounds goes with --log"}},
      {{"--log", log, "--rounds", "0"}, 2, {"--rounds 0"}},
      {{"--log", log, "--rounds", "x"}, 2, {"--rounds x"}},
      {{"--log", log, "--params", ""}, 2, {"give at least one of the log's columns"}},
      {{"--log", log, "--params", "Boost"}, 2, {"Boost", "RPM,Speed,IAT"}},  // the names there are
      {{"--log", log, "--params", "RPM,Boost"}, 2, {"Boost"}},
      {{"--standard"}, 2, {"--standard goes with --log"}},
      {{"--log", log, "--pids", "RPM"}, 2, {"--pids goes with"}},
      {{"--log", log, "--standard", "--params", "RPM"}, 2, {"name them with --pids"}},
      {{"--log", log, "--standard", "--pids", "RPM,Boost"}, 2, {"Boost", "MAP,RPM,VSS"}},  // standard's
      {{"--log", log, "--units", "us"}, 2, {"keep their own"}},                            // the GM log's
      {{"--log", log, "--standard", "--units", "imperial"}, 2, {"--units: "}},
      {{"--log", log, "--standard", "--parameters", missing}, 2, {"cannot read the parameter file"}},
      {{"--codes", "--parameters", missing}, 2, {"--parameters goes with"}},
      {{"--replay", "x.csv", "--codes"}, 2, {"--replay plays a log in the windows"}},
      {{"--monitor-tests", "--codes"}, 2, {"--monitor-tests does not go with --codes"}},
      {{"--report", "r.html", "--log", "x.csv"}, 2, {"--report does not go with --log"}},
      {{"--report", ""}, 2, {"--report needs the name of the file to write"}},
      {{"--replay", "x.csv", "--monitor-tests"}, 2, {"it does not go with --monitor-tests"}},
      {{"--replay", "/nonexistent/drive.csv"}, 2, {"/nonexistent/drive.csv"}},
      {{"--port", "tcp://192.168.0.10"}, 2, {"--port tcp://192.168.0.10", "port is missing"}},
      {{"--port", "tcp://192.168.0.10:35000", "--baud", "38400"}, 2, {"--baud is for a serial device"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.arguments.join(' ').toStdString());
    Tarvex run(c.arguments);
    EXPECT_EQ(run.status(), c.exitCode) << run.told();
    const QString said = QString::fromLocal8Bit(run.out + run.err);
    for (const QString& text : c.said) EXPECT_TRUE(said.contains(text)) << run.told();
    EXPECT_FALSE(QFile::exists(log));
    if (!c.arguments.contains("--list-ports")) continue;
    QStringList listed;
    for (const QString& line : said.split('\n', Qt::SkipEmptyParts)) listed << line.section('\t', 0, 0);
    EXPECT_TRUE(ttys.isEmpty() ? said.startsWith("No serial ports found") : listed == ttys) << run.told();
  }
}

// Refused at once, not waited on for a writer that never comes.
TEST(Program, ReplayOfANamedPipeIsRefusedWithoutWaiting) {
  QTemporaryDir dir;
  const QString fifo = dir.filePath(QStringLiteral("drive.csv"));
  ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
  Tarvex run({QStringLiteral("--replay"), fifo}, dir.filePath(QStringLiteral("unused.csv")));
  EXPECT_EQ(run.status(), 2) << run.told();
  EXPECT_TRUE(run.err.contains("is a named pipe (FIFO), not a log.")) << run.told();
}

// Qt's lock file LCK..<name under /dev, '/' as '_'>, in the first of these folders it may write to.
QStringList lockFiles(const QString& device) {
  const QString name = QStringLiteral("/LCK..") + device.mid(5).replace(QLatin1Char('/'), QLatin1Char('_'));
  QStringList found;
  for (const char* dir : {"/var/lock", "/etc/locks", "/var/spool/locks", "/var/spool/uucp", "/tmp",
                          "/var/tmp", "/var/lock/lockdev", "/run/lock"})
    if (const QString lock = QFileInfo(QLatin1String(dir) + name).canonicalFilePath();
        !lock.isEmpty() && !found.contains(lock))
      found << lock;
  return found;
}

// As closing the windows does: status 0, the port's lock file gone, the log on a whole line.
TEST(Program, EndsOnASignalAsWhenItsWindowsAreClosed) {
  const std::pair<bool, int> cases[] = {{true, SIGTERM}, {true, SIGHUP}, {false, SIGINT}};
  for (const auto& [windows, sig] : cases) {
    SCOPED_TRACE(std::string(windows ? "windows, " : "--log, ") + strsignal(sig));
    Simulator adapter;
    Tarvex tarvex(
        testing::onPort(adapter.device, windows ? QStringList() : QStringList{"--log", adapter.log}),
        windows ? adapter.log : QString());
    ASSERT_TRUE(tarvex.waitUntil([&] { return contents(adapter.log).count("\r\n") >= 3; })) << tarvex.told();
    EXPECT_FALSE(lockFiles(adapter.device).isEmpty());  // held while it scans
    ::kill(pid_t(tarvex.process.processId()), sig);
    EXPECT_EQ(tarvex.status(), 0) << tarvex.told();
    EXPECT_EQ(lockFiles(adapter.device), QStringList());
    EXPECT_TRUE(testing::headerThenWholeLines(contents(adapter.log)));
    EXPECT_TRUE(windows || tarvex.err.isEmpty()) << tarvex.told();
    for (const QString& stale : lockFiles(adapter.device)) QFile::remove(stale);
  }
}

// ulimit -f fails a write as a full disk does: told, the log's lines whole, the program alive.
TEST(Program, FileSizeLimitStopsTheLogOnItsLastWholeLine) {
  Simulator adapter;
  const rlim_t limit = rlim_t(csvHeader().size()) + 500;  // a round or two
  Tarvex tarvex(testing::onPort(adapter.device), adapter.log, [limit] {
    rlimit r{};
    ::getrlimit(RLIMIT_FSIZE, &r);
    r.rlim_cur = limit;
    ::setrlimit(RLIMIT_FSIZE, &r);
  });
  ASSERT_TRUE(tarvex.waitUntil([&] { return tarvex.out.contains("message: "); })) << tarvex.told();
  EXPECT_TRUE(tarvex.out.contains(adapter.log.toLocal8Bit()) && tarvex.out.contains("File too large"))
      << tarvex.told();
  EXPECT_EQ(tarvex.process.state(), QProcess::Running);
  const QByteArray written = contents(adapter.log);
  EXPECT_TRUE(testing::headerThenWholeLines(written));
  EXPECT_GE(written.count("\r\n"), 2);
  EXPECT_LE(written.size(), qsizetype(limit));
}

}  // namespace
}  // namespace tarvex
