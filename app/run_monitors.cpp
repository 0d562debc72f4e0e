// --monitor-tests: the on-board test results as plain text on the standard
// streams, no window and no display.
#include <QCoreApplication>
#include <QEventLoop>
#include <QSettings>
#include <QTextStream>

#include "app/preferences.h"
#include "app/program.h"
#include "monitors/command_line.h"

namespace tarvex {

int runMonitorTests(int& argc, char** argv, const Options& options) {
  QCoreApplication app(argc, argv);
  QSettings settings;
  RememberedLine remembered(settings);
  SystemClock clock;
  QTextStream out(stdout), err(stderr);
  Result<Adapter> adapter = makeAdapter(options, clock, remembered);
  if (!adapter) {
    err << "tarvex: " << adapter.failure().reason << "\n" << Qt::flush;
    return 2;
  }
  PortFactory& ports = *adapter.value().ports;
  std::unique_ptr<SerialPort> port = ports.createPort(PortUse{QStringLiteral("the command line"), true});
  Preferences preferences(settings);
  if (options.units) preferences.setUnits(*options.units);
  MonitorRun run(*port, clock, ports.traits(), out, err, preferences.units());
  QEventLoop loop;
  run.setFinished([&loop](int) { loop.quit(); });
  const std::unique_ptr<QSocketNotifier> quit = onQuitSignal([&loop] { loop.quit(); });
  run.start();
  if (!run.status()) loop.exec();
  return run.status().value_or(1);
}

}  // namespace tarvex
