// --monitor-tests: the on-board test results as plain text on the standard
// streams, no window and no display.
#include <QCoreApplication>

#include "app/program.h"
#include "monitors/command_line.h"

namespace tarvex {

int runMonitorTests(int& argc, char** argv, const Options& options) {
  QCoreApplication app(argc, argv);
  CarCommand car(options);
  if (car.refused()) return 2;
  MonitorRun run(*car.port, car.clock, car.ports().traits(), car.out, car.err, car.units);
  return car.exec(run, [&run] { run.start(); });
}

}  // namespace tarvex
