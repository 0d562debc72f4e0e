// --report FILE: the car read for the mechanic and written as HTML, or as a
// PDF through Qt's own printing. No window; a PDF needs fonts, so it runs on
// the offscreen platform, which needs no display either.
#include <QCoreApplication>
#include <QDateTime>
#include <QGuiApplication>
#include <memory>

#include "app/program.h"
#include "report/command_line.h"
#include "report/report_file.h"

namespace tarvex {

int runReport(int& argc, char** argv, const Options& options) {
  std::unique_ptr<QCoreApplication> app;
  if (isPdfPath(options.reportPath)) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    app = std::make_unique<QGuiApplication>(argc, argv);
  } else {
    app = std::make_unique<QCoreApplication>(argc, argv);
  }
  CarCommand car(options);
  if (car.refused()) return 2;
  ReportRun run(*car.port, car.clock, car.ports().traits(), options.reportPath, writeReport, car.out, car.err,
                car.units);
  return car.exec(run, [&run] { run.start(QDateTime::currentDateTime()); });
}

}  // namespace tarvex
