// --codes, --vin and --clear-codes: plain text on the standard streams, no
// window and no display.
#include <unistd.h>

#include <QCoreApplication>
#include <QTextStream>

#include "app/program.h"
#include "codes/command_line.h"

namespace tarvex {

int runCodes(int& argc, char** argv, const Options& options) {
  QCoreApplication app(argc, argv);
  CarCommand car(options);
  if (car.refused()) return 2;
  QTextStream in(stdin);
  TerminalConfirm terminal(in, car.err, ::isatty(STDIN_FILENO) == 1);
  AlwaysYes always;
  const CodesCommand command = options.mode == Mode::kVin          ? CodesCommand::kVin
                               : options.mode == Mode::kClearCodes ? CodesCommand::kClearCodes
                                                                   : CodesCommand::kCodes;
  CommandRun run(command, *car.port, car.clock, car.ports().traits(),
                 options.yes ? static_cast<Confirm&>(always) : terminal, car.out, car.err);
  run.setUnits(car.units);
  return car.exec(run, [&run] { run.start(); });
}

}  // namespace tarvex
