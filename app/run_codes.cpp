// --codes, --vin and --clear-codes: plain text on the standard streams, no
// window and no display.
#include <unistd.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QSettings>
#include <QTextStream>

#include "app/preferences.h"
#include "app/program.h"
#include "codes/command_line.h"

namespace tarvex {

int runCodes(int& argc, char** argv, const Options& options) {
  QCoreApplication app(argc, argv);
  QSettings settings;
  RememberedLine remembered(settings);
  SystemClock clock;
  QTextStream in(stdin), out(stdout), err(stderr);
  Result<Adapter> adapter = makeAdapter(options, clock, remembered);
  if (!adapter) {
    err << "tarvex: " << adapter.failure().reason << "\n" << Qt::flush;
    return 2;
  }
  PortFactory& ports = *adapter.value().ports;
  // The line speed found on a first run is worth a word; the output stays the codes'.
  ports.setNotice([&err](const QString& text) { err << "tarvex: " << text << "\n" << Qt::flush; });
  TerminalConfirm terminal(in, err, ::isatty(STDIN_FILENO) == 1);
  AlwaysYes always;
  const CodesCommand command = options.mode == Mode::kVin          ? CodesCommand::kVin
                               : options.mode == Mode::kClearCodes ? CodesCommand::kClearCodes
                                                                   : CodesCommand::kCodes;
  std::unique_ptr<SerialPort> port = ports.createPort(PortUse{QStringLiteral("the command line"), true});
  CommandRun run(command, *port, clock, ports.traits(),
                 options.yes ? static_cast<Confirm&>(always) : terminal, out, err);
  // The units given are kept; without them, those kept before.
  Preferences preferences(settings);
  if (options.units) preferences.setUnits(*options.units);
  run.setUnits(preferences.units());
  QEventLoop loop;
  run.setFinished([&loop](int) { loop.quit(); });
  const std::unique_ptr<QSocketNotifier> quit = onQuitSignal([&loop] { loop.quit(); });
  run.start();
  if (!run.status()) loop.exec();
  return run.status().value_or(1);
}

}  // namespace tarvex
