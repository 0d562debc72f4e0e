#pragma once

// tarvex-sim on a pseudo-terminal and the built tarvex as a user starts it.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <csignal>
#include <functional>

#include "scan/catalogue.h"
#include "scan/csv_log.h"
#include "tests/support/files.h"

namespace tarvex::testing {

using namespace Qt::StringLiterals;

inline void runEvents(int ms, const std::function<bool()>& done = {}) {
  QDeadlineTimer deadline(ms);
  while (!(done && done()) && !deadline.hasExpired())
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

// A quick adapter for the built program: 115200 baud, the car answering in 1 ms.
inline const QStringList kQuickSim{u"--baud"_s, u"115200"_s, u"--latency"_s, u"1-1"_s};

// For as long as the object lives; the lines it heard go to a log in its own folder.
struct Simulator {
  explicit Simulator(const QStringList& options = kQuickSim) {
    process.start(QStringLiteral(TARVEX_SIM_PATH),
                  QStringList{u"--reset-ms"_s, u"20"_s, u"--log"_s, commandLog} + options);
    QDeadlineTimer deadline(30'000);
    while (!process.canReadLine() && !deadline.hasExpired()) process.waitForReadyRead(100);
    device = QString::fromLocal8Bit(process.readLine()).trimmed();
  }
  ~Simulator() {
    process.terminate();
    process.waitForFinished(5000);
  }
  QStringList commands() const {
    return QString::fromLatin1(contents(commandLog)).split(u'\n', Qt::SkipEmptyParts);
  }

  QTemporaryDir dir;
  const QString commandLog = dir.filePath(u"commands.txt"_s);
  const QString log = dir.filePath(u"log.csv"_s);  // for the program under test
  QProcess process;
  QString device;
};

// With `windowLog`, its main window offscreen, driven by tests/e2e/drive_plugin.cpp to log
// there; otherwise no platform, so a window would fail. `inChild` runs before it starts.
struct Tarvex {
  QTemporaryDir config;  // its XDG_CONFIG_HOME and XDG_RUNTIME_DIR
  explicit Tarvex(const QStringList& arguments, const QString& windowLog = {},
                  std::function<void()> inChild = {}) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
      env.remove(QLatin1String(name));
    // Its own settings: what a run remembers must neither come from the user's nor reach them.
    env.insert(u"XDG_CONFIG_HOME"_s, config.path());
    env.insert(u"XDG_RUNTIME_DIR"_s, config.path());
    if (!windowLog.isEmpty()) {
      env.insert(u"QT_QPA_PLATFORM"_s, u"offscreen"_s);
      env.insert(u"QT_PLUGIN_PATH"_s, QStringLiteral(TARVEX_DRIVE_PLUGINS));
      env.insert(u"QT_QPA_GENERIC_PLUGINS"_s, u"tarvexdrive:"_s + windowLog);
    }
    process.setProcessEnvironment(env);
    process.setChildProcessModifier([inChild = std::move(inChild)] {
      // As started from a desktop or shell, whatever the test runner ignores.
      for (const int s : {SIGTERM, SIGINT, SIGHUP}) std::signal(s, SIG_DFL);
      if (inChild) inChild();
    });
    process.start(QStringLiteral(TARVEX_PATH), arguments);
    process.waitForStarted(30'000);
    process.closeWriteChannel();  // no terminal on its input
  }
  ~Tarvex() {
    process.kill();
    process.waitForFinished(5000);
  }
  // Until `done`, for at most 30 s or until the program ends.
  bool waitUntil(const std::function<bool()>& done) {
    QDeadlineTimer deadline(30'000);
    while (!done() && process.state() == QProcess::Running && !deadline.hasExpired()) {
      process.waitForReadyRead(20);
      out += process.readAllStandardOutput();
    }
    out += process.readAllStandardOutput();
    return done();
  }
  // Its exit status once it ended by itself (-1: it did not, within 60 s).
  int status() {
    const bool ended = process.waitForFinished(60'000) && process.exitStatus() == QProcess::NormalExit;
    out += process.readAllStandardOutput();
    err += process.readAllStandardError();
    return ended ? process.exitCode() : -1;
  }
  std::string told() { return (out + err + process.readAllStandardError()).toStdString(); }

  QProcess process;
  QByteArray out, err;
};

inline QStringList onPort(const QString& device, const QStringList& more = {}) {
  return QStringList{u"--port"_s, device, u"--baud"_s, u"115200"_s} + more;
}

// The header, then (`count`, unless -1) whole lines of 28 fields, no zero bytes.
inline ::testing::AssertionResult headerThenWholeLines(const QByteArray& log, qsizetype count = -1) {
  if (!log.startsWith(csvHeader()))
    return ::testing::AssertionFailure() << "no header: " << log.left(60).data();
  if (!log.endsWith("\r\n")) return ::testing::AssertionFailure() << "cut off: ..." << log.right(60).data();
  if (log.contains('\0')) return ::testing::AssertionFailure() << "holds zero bytes";
  if (count >= 0 && log.count("\r\n") != count + 1)
    return ::testing::AssertionFailure() << log.count("\r\n") - 1 << " lines, not " << count;
  for (const QByteArray& line : log.mid(csvHeader().size()).split('\n'))
    if (!line.isEmpty() && line.count(',') != kCsvBoxColumns)
      return ::testing::AssertionFailure() << "columns shifted: " << line.data();
  return ::testing::AssertionSuccess();
}

}  // namespace tarvex::testing
