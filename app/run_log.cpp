// Logging without a window or a display (--log): the main window's scan and
// its log, with a progress line on a terminal.
#include <QCoreApplication>
#include <QSettings>

#include "app/headless_log.h"
#include "app/program.h"

namespace tarvex {

int runLog(int& argc, char** argv, const Options& options) {
  QCoreApplication app(argc, argv);
  QSettings settings;
  RememberedLine remembered(settings);
  SystemClock clock;
  Console console;
  Result<Adapter> adapter = makeAdapter(options, clock, remembered);
  if (!adapter) {
    console.error(QStringLiteral("tarvex: ") + adapter.failure().reason);
    return 2;
  }
  PortFactory& ports = *adapter.value().ports;
  // What the port has to tell (the line speed found) is no error: only a terminal hears it.
  if (console.terminal())
    ports.setNotice([&console](const QString& text) { console.error(QStringLiteral("tarvex: ") + text); });
  HeadlessLog logger(ports, clock, {options.logPath, options.rounds, options.boxes, console.terminal()},
                     {[&console](const QString& line) { console.error(line); },
                      [&console](const QString& text) { console.progress(text); }});
  QObject::connect(&logger, &HeadlessLog::finished, [](int status) { QCoreApplication::exit(status); });
  const std::unique_ptr<QSocketNotifier> quit = onQuitSignal([&logger] { logger.finish(); });
  int status = 1;
  if (logger.start()) status = QCoreApplication::exec();
  ports.setNotice({});
  return status;
}

}  // namespace tarvex
