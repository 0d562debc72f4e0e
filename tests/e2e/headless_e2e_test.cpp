// The built program logging without a window (tarvex --port P --log FILE)
// over tarvex-sim on a pseudo-terminal, with no display at all.
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <csignal>
#include <cstring>
#include <functional>

#include "link/text.h"
#include "scan/catalogue.h"
#include "scan/csv_log.h"
#include "ui/layouts.h"

namespace tarvex {
namespace {

QByteArray contents(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// tarvex-sim on a pseudo-terminal, for as long as the object lives.
struct Sim {
  explicit Sim(QStringList extra = {}) {
    process.start(
        QStringLiteral(TARVEX_SIM_PATH),
        QStringList{QStringLiteral("--baud"), QStringLiteral("115200"), QStringLiteral("--reset-ms"),
                    QStringLiteral("20"), QStringLiteral("--latency"), QStringLiteral("1-1")} +
            extra);
    QDeadlineTimer deadline(30'000);
    while (!process.canReadLine() && !deadline.hasExpired()) process.waitForReadyRead(100);
    device = QString::fromLocal8Bit(process.readLine()).trimmed();
  }
  ~Sim() {
    process.terminate();
    process.waitForFinished(5000);
  }
  QProcess process;
  QString device;
};

// The built tarvex; `window`: its main window on the offscreen platform, driven
// to log into `log` (tests/e2e/drive_plugin.cpp); otherwise no display at all.
struct Tarvex {
  Tarvex(const QStringList& arguments, bool window = false, const QString& log = {},
         std::function<void()> inChild = {}) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
      env.remove(QLatin1String(name));
    if (window) {
      env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
      env.insert(QStringLiteral("QT_PLUGIN_PATH"), QStringLiteral(TARVEX_DRIVE_PLUGINS));
      env.insert(QStringLiteral("QT_QPA_GENERIC_PLUGINS"), QStringLiteral("tarvexdrive:") + log);
    }
    process.setProcessEnvironment(env);
    process.setChildProcessModifier([inChild = std::move(inChild)] {
      for (const int s : {SIGTERM, SIGINT, SIGHUP}) std::signal(s, SIG_DFL);
      if (inChild) inChild();
    });
    process.start(QStringLiteral(TARVEX_PATH), arguments);
    process.waitForStarted(30'000);
  }
  ~Tarvex() {
    process.kill();
    process.waitForFinished(5000);
  }
  bool waitUntil(const std::function<bool()>& done) {
    QDeadlineTimer deadline(30'000);
    while (!done() && process.state() == QProcess::Running && !deadline.hasExpired())
      process.waitForFinished(20);
    return done();
  }
  // Its exit status once it ended by itself (-1: it did not, within 30 s).
  int status() {
    if (!process.waitForFinished(30'000) || process.exitStatus() != QProcess::NormalExit) return -1;
    out = process.readAllStandardOutput();
    err = process.readAllStandardError();
    return process.exitCode();
  }
  QProcess process;
  QByteArray out, err;
};

QStringList headless(const QString& device, const QString& log, const QStringList& more = {}) {
  return QStringList{QStringLiteral("--port"), device, QStringLiteral("--baud"), QStringLiteral("115200"),
                     QStringLiteral("--log"),  log} +
         more;
}

// A log's data lines in form: numbers become '#' and the time column 'T', so
// two runs a moment apart compare equal while any other text must match.
QList<QByteArray> form(const QByteArray& log) {
  QList<QByteArray> lines = log.split('\n');
  QList<QByteArray> shaped;
  for (qsizetype i = 1; i + 1 < lines.size(); ++i) {
    QList<QByteArray> fields = lines[i].chopped(1).split(',');
    for (QByteArray& f : fields) {
      bool number = false;
      f.toDouble(&number);
      if (number) f = "#";
    }
    if (!fields.isEmpty()) fields.last() = "T";
    shaped << fields.join(',');
  }
  return shaped;
}

::testing::AssertionResult headerThenWholeLines(const QByteArray& log, qsizetype count) {
  if (!log.startsWith(csvHeader()))
    return ::testing::AssertionFailure() << "no header: " << log.left(60).data();
  if (!log.endsWith("\r\n")) return ::testing::AssertionFailure() << "cut off: ..." << log.right(60).data();
  if (count >= 0 && log.count("\r\n") != count + 1)
    return ::testing::AssertionFailure() << log.count("\r\n") - 1 << " lines, not " << count;
  const QList<QByteArray> lines = log.mid(csvHeader().size()).split('\n');
  for (const QByteArray& line : lines)  // 28 fields: the columns never shift
    if (!line.isEmpty() && line.count(',') != kCsvBoxColumns)
      return ::testing::AssertionFailure() << "columns shifted: " << line.data();
  return ::testing::AssertionSuccess();
}

// No display and no platform named: three lines of the same form as those the
// main window writes, time in the same words, nothing said on a pipe, status 0.
TEST(Headless, ThreeRoundsWithoutADisplayWriteWhatTheWindowWrites) {
  QTemporaryDir dir;
  const QString log = dir.filePath(QStringLiteral("headless.csv"));
  const QString windowLog = dir.filePath(QStringLiteral("window.csv"));
  {
    Sim sim;
    Tarvex window({QStringLiteral("--port"), sim.device, QStringLiteral("--baud"), QStringLiteral("115200")},
                  true, windowLog);
    ASSERT_TRUE(window.waitUntil([&] { return contents(windowLog).count("\r\n") >= 4; }));
  }
  Sim sim;
  const QDateTime before = QDateTime::currentDateTime();
  Tarvex run(headless(sim.device, log, {QStringLiteral("--rounds"), QStringLiteral("3")}));
  ASSERT_EQ(run.status(), 0) << run.err.data();
  const QDateTime after = QDateTime::currentDateTime();
  EXPECT_EQ(run.out, QByteArray());
  EXPECT_EQ(run.err, QByteArray());
  const QByteArray written = contents(log);
  ASSERT_TRUE(headerThenWholeLines(written, 3));
  EXPECT_EQ(form(written), form(contents(windowLog)).mid(0, 3));
  // The time column as the window words it, for a moment of the run.
  const QByteArray lastTime = written.split('\n').at(3).chopped(1).split(',').last();
  bool during = false;
  for (QDateTime t = before.addSecs(-1); t <= after.addSecs(1) && !during; t = t.addSecs(1))
    during = logTimeText(t).toUtf8() == lastTime;
  EXPECT_TRUE(during) << lastTime.data();
}

// A signal mid-run ends it with status 0, the log on a whole line.
TEST(Headless, EndsOnASignalOnAWholeLine) {
  for (const int sig : {SIGINT, SIGTERM}) {
    SCOPED_TRACE(strsignal(sig));
    Sim sim;
    QTemporaryDir dir;
    const QString log = dir.filePath(QStringLiteral("log.csv"));
    Tarvex run(headless(sim.device, log));
    ASSERT_TRUE(run.waitUntil([&] { return contents(log).count("\r\n") >= 4; }));
    ::kill(pid_t(run.process.processId()), sig);
    ASSERT_EQ(run.status(), 0) << run.err.data();
    EXPECT_TRUE(headerThenWholeLines(contents(log), -1));
    EXPECT_EQ(run.err, QByteArray());
  }
}

// Only the columns named are asked for; the others keep what a fresh window
// shows in their boxes.
TEST(Headless, ParamsPickTheColumnsAskedFor) {
  QTemporaryDir dir;
  const QString heard = dir.filePath(QStringLiteral("heard.txt"));
  const QString log = dir.filePath(QStringLiteral("log.csv"));
  {
    Sim sim({QStringLiteral("--log"), heard});
    Tarvex run(headless(sim.device, log,
                        {QStringLiteral("--rounds"), QStringLiteral("2"), QStringLiteral("--params"),
                         QStringLiteral("speed,FuelStatusB2")}));
    ASSERT_EQ(run.status(), 0) << run.err.data();
  }
  QStringList requests;
  for (const QString& line : QString::fromLatin1(contents(heard)).split(QLatin1Char('\n')))
    if (line.startsWith(QStringLiteral("22")) && !requests.contains(line.trimmed()))
      requests << line.trimmed();
  EXPECT_EQ(requests, (QStringList{"22000D01", "22000301"}));  // road speed, fuel status
  const QByteArray written = contents(log);
  ASSERT_TRUE(headerThenWholeLines(written, 2));
  const QList<QByteArray> fields = written.split('\n').at(2).split(',');
  EXPECT_EQ(fields[0], toQString(tarvexLayout().control("RPM")->text).toUtf8());  // not asked: as laid out
  bool number = false;
  fields[1].toInt(&number);
  EXPECT_TRUE(number) << fields[1].data();
  EXPECT_NE(fields[23], toQString(tarvexLayout().control("FuelSysStatusB2")->text).toUtf8());
}

// Wrong words on the command line: status 2, told why, no log made.
TEST(Headless, BadOptionsAreRefusedWithStatusTwo) {
  QTemporaryDir dir;
  const QString log = dir.filePath(QStringLiteral("log.csv"));
  const QList<QStringList> cases{
      {QStringLiteral("--no-such-option")},
      {QStringLiteral("--rounds"), QStringLiteral("3")},  // without --log
      {QStringLiteral("--log"), log, QStringLiteral("--rounds"), QStringLiteral("0")},
      {QStringLiteral("--log"), log, QStringLiteral("--rounds"), QStringLiteral("x")},
      {QStringLiteral("--log"), log, QStringLiteral("--params"), QStringLiteral("RPM,Boost")},
      {QStringLiteral("--log"), log, QStringLiteral("--baud"), QStringLiteral("1234")},
  };
  for (const QStringList& arguments : cases) {
    SCOPED_TRACE(arguments.join(' ').toStdString());
    Tarvex run(arguments);
    EXPECT_EQ(run.status(), 2);
    EXPECT_FALSE(run.err.isEmpty());
    EXPECT_FALSE(QFile::exists(log));
  }
  Tarvex unknown({QStringLiteral("--log"), log, QStringLiteral("--params"), QStringLiteral("Boost")});
  ASSERT_EQ(unknown.status(), 2);
  EXPECT_TRUE(unknown.err.contains("Boost") && unknown.err.contains("RPM,Speed,IAT"));  // the names there are
}

// Faults of the field: told on stderr with what failed, status 1, and a log
// that holds whole lines only.
TEST(Headless, FaultsAreToldAndEndTheRunWithStatusOne) {
  struct Case {
    const char* name;
    QStringList simOptions;
    std::function<QStringList(const QString& device, const QString& log)> arguments;
    std::function<void()> inChild;
    const char* told;  // in the error
  };
  QTemporaryDir dir;
  const QString held = dir.filePath(QStringLiteral("held.csv"));
  const auto plain = [](const QString& device, const QString& log) { return headless(device, log); };
  const rlim_t limit = rlim_t(csvHeader().size()) + 500;  // a round or two
  const Case cases[] = {
      {"no such device",
       {},
       [](const QString&, const QString& log) {
         return headless(QStringLiteral("/dev/tarvex-no-such-device"), log);
       },
       {},
       "tarvex-no-such-device"},
      {"log folder missing",
       {},
       [&](const QString& device, const QString&) {
         return headless(device, dir.filePath(QStringLiteral("no/such/log.csv")));
       },
       {},
       "no/such/log.csv"},
      {"log in use",
       {},
       [&](const QString& device, const QString&) { return headless(device, held); },
       {},
       "in use"},
      {"adapter gone",
       {QStringLiteral("--vanish-after"), QStringLiteral("80")},
       plain,
       {},
       "Lost the adapter"},
      {"log full",
       {},
       plain,
       [limit] {
         rlimit r{};
         ::getrlimit(RLIMIT_FSIZE, &r);
         r.rlim_cur = limit;
         ::setrlimit(RLIMIT_FSIZE, &r);
       },
       "File too large"},
  };
  QFile holder(held);
  ASSERT_TRUE(holder.open(QIODevice::WriteOnly));
  ASSERT_EQ(::flock(holder.handle(), LOCK_EX | LOCK_NB), 0);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Sim sim(c.simOptions);
    const QString log = dir.filePath(QString::fromLatin1(c.name) + QStringLiteral(".csv"));
    Tarvex run(c.arguments(sim.device, log), false, {}, c.inChild);
    EXPECT_EQ(run.status(), 1);
    EXPECT_TRUE(run.err.contains(c.told)) << run.err.data();
    if (QFile::exists(log)) {
      EXPECT_TRUE(headerThenWholeLines(contents(log), -1));
    }
  }
}

}  // namespace
}  // namespace tarvex
