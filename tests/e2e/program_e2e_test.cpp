// The built program as a user runs it, over tarvex-sim: on Qt's offscreen
// platform, its main window driven by tests/e2e/drive_plugin.cpp (ticks "Log
// to file", names the log, presses Start Scan, prints each message box).
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <csignal>
#include <cstring>
#include <functional>

#include "scan/csv_log.h"

namespace tarvex {
namespace {

// tarvex-sim on a pseudo-terminal, for as long as the object lives.
struct Adapter {
  Adapter() {
    process.start(
        QStringLiteral(TARVEX_SIM_PATH),
        QStringList{QStringLiteral("--baud"), QStringLiteral("115200"), QStringLiteral("--reset-ms"),
                    QStringLiteral("20"), QStringLiteral("--latency"), QStringLiteral("1-1")});
    QDeadlineTimer deadline(30'000);
    while (!process.canReadLine() && !deadline.hasExpired()) process.waitForReadyRead(100);
    device = QString::fromLocal8Bit(process.readLine()).trimmed();
  }
  ~Adapter() {
    process.terminate();
    process.waitForFinished(5000);
  }
  QProcess process;
  QString device;
};

// The built tarvex on `device`, scanning into `log`; `inChild` runs in the new
// process before the program starts.
struct Program {
  Program(const QString& device, const QString& log, std::function<void()> inChild = {}) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("QT_PLUGIN_PATH"), QStringLiteral(TARVEX_DRIVE_PLUGINS));
    env.insert(QStringLiteral("QT_QPA_GENERIC_PLUGINS"), QStringLiteral("tarvexdrive:") + log);
    process.setProcessEnvironment(env);
    process.setChildProcessModifier([inChild = std::move(inChild)] {
      // As a program started from a desktop or a shell finds them, whatever
      // the test runner ignores.
      for (const int s : {SIGTERM, SIGINT, SIGHUP}) std::signal(s, SIG_DFL);
      if (inChild) inChild();
    });
    process.start(
        QStringLiteral(TARVEX_PATH),
        QStringList{QStringLiteral("--port"), device, QStringLiteral("--baud"), QStringLiteral("115200")});
    process.waitForStarted(30'000);
  }
  ~Program() {
    process.kill();
    process.waitForFinished(5000);
  }
  // Until `done`, for at most 30 s or until the program ends.
  bool waitUntil(const std::function<bool()>& done) {
    QDeadlineTimer deadline(30'000);
    while (!done() && process.state() == QProcess::Running && !deadline.hasExpired()) {
      process.waitForReadyRead(20);
      said += QString::fromLocal8Bit(process.readAllStandardOutput());
    }
    said += QString::fromLocal8Bit(process.readAllStandardOutput());
    return done();
  }
  std::string told() { return (said + QString::fromLocal8Bit(process.readAllStandardError())).toStdString(); }

  QProcess process;
  QString said;  // its message boxes' texts, as the driver printed them
};

QByteArray contents(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

qsizetype lineCount(const QString& path) {
  return contents(path).count("\r\n");
}

// The header, then whole lines: nothing cut off at the end, no zero bytes.
::testing::AssertionResult wholeLines(const QByteArray& log) {
  if (!log.startsWith(csvHeader()))
    return ::testing::AssertionFailure() << "no header: " << log.left(40).data();
  if (!log.endsWith("\r\n")) return ::testing::AssertionFailure() << "cut off: ..." << log.right(40).data();
  if (log.contains('\0')) return ::testing::AssertionFailure() << "holds zero bytes";
  return ::testing::AssertionSuccess();
}

// Qt's serial port locks a device with a file LCK..<name under /dev, '/' as
// '_'> in the first of these folders it may write to.
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

// A signal mid-scan ends the program as closing its windows does: exit status
// 0, the port's lock file gone, the log on a whole line.
TEST(Program, EndsOnASignalAsWhenItsWindowsAreClosed) {
  for (const int sig : {SIGTERM, SIGINT, SIGHUP}) {
    SCOPED_TRACE(strsignal(sig));
    Adapter adapter;
    QTemporaryDir dir;
    const QString log = dir.filePath(QStringLiteral("log.csv"));
    Program tarvex(adapter.device, log);
    ASSERT_TRUE(tarvex.waitUntil([&] { return lineCount(log) >= 3; })) << tarvex.told();
    EXPECT_FALSE(lockFiles(adapter.device).isEmpty());  // held while it scans
    ::kill(pid_t(tarvex.process.processId()), sig);
    ASSERT_TRUE(tarvex.process.waitForFinished(30'000));
    EXPECT_EQ(tarvex.process.exitStatus(), QProcess::NormalExit) << tarvex.told();
    EXPECT_EQ(tarvex.process.exitCode(), 0) << tarvex.told();
    EXPECT_EQ(lockFiles(adapter.device), QStringList());
    EXPECT_TRUE(wholeLines(contents(log)));
    for (const QString& stale : lockFiles(adapter.device)) QFile::remove(stale);
  }
}

// Under a file-size limit (ulimit -f) the write past it fails as on a full
// disk: the reason is told, the log keeps its whole lines, the program lives.
TEST(Program, FileSizeLimitStopsTheLogOnItsLastWholeLine) {
  Adapter adapter;
  QTemporaryDir dir;
  const QString log = dir.filePath(QStringLiteral("log.csv"));
  const rlim_t limit = rlim_t(csvHeader().size()) + 500;  // a round or two
  Program tarvex(adapter.device, log, [limit] {
    rlimit r{};
    ::getrlimit(RLIMIT_FSIZE, &r);
    r.rlim_cur = limit;
    ::setrlimit(RLIMIT_FSIZE, &r);
  });
  ASSERT_TRUE(tarvex.waitUntil([&] { return tarvex.said.contains(QStringLiteral("message: ")); }))
      << tarvex.told();
  EXPECT_TRUE(tarvex.said.contains(log) && tarvex.said.contains(QStringLiteral("File too large")))
      << tarvex.told();
  EXPECT_EQ(tarvex.process.state(), QProcess::Running);
  const QByteArray written = contents(log);
  EXPECT_TRUE(wholeLines(written));
  EXPECT_GE(written.count("\r\n"), 2);
  EXPECT_LE(written.size(), qsizetype(limit));
}

}  // namespace
}  // namespace tarvex
