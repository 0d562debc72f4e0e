// --report FILE: the car read for the mechanic and written as HTML, or as a
// PDF through Qt's own printing. No window; a PDF needs fonts, so it runs on
// the offscreen platform, which needs no display either.
#include <QCoreApplication>
#include <QDateTime>
#include <QEventLoop>
#include <QGuiApplication>
#include <QSettings>
#include <QTextStream>
#include <memory>

#include "app/preferences.h"
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
  ReportRun run(*port, clock, ports.traits(), options.reportPath, writeReport, out, err, preferences.units());
  QEventLoop loop;
  run.setFinished([&loop](int) { loop.quit(); });
  const std::unique_ptr<QSocketNotifier> quit = onQuitSignal([&loop] { loop.quit(); });
  run.start(QDateTime::currentDateTime());
  if (!run.status()) loop.exec();
  return run.status().value_or(1);
}

}  // namespace tarvex
