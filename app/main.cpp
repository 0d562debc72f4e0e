// tarvex: the options read into one checked value, then the runner of the
// mode asked for.
#include <QCoreApplication>
#include <cstdio>

#include "app/options.h"
#include "app/program.h"

int main(int argc, char** argv) {
  tarvex::ignoreFileSizeSignal();
  QCoreApplication::setApplicationName(QStringLiteral("tarvex"));
  QCoreApplication::setApplicationVersion(QStringLiteral(TARVEX_VERSION));
  QCoreApplication::setOrganizationName(QStringLiteral("Tarvex"));

  // Read before the window system is touched, so --help, --version and
  // --list-ports, and every refusal, need no display.
  QStringList arguments;
  for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
  const tarvex::Result<tarvex::Options> options = tarvex::parseOptions(arguments);
  if (!options) {
    std::fprintf(stderr, "tarvex: %s\n\nSee tarvex --help.\n", qPrintable(options.failure().reason));
    return 2;
  }
  switch (options->mode) {
    case tarvex::Mode::kHelp:
      std::fputs(qPrintable(options->help), stdout);
      return 0;
    case tarvex::Mode::kVersion:
      std::printf("tarvex %s\n", TARVEX_VERSION);
      return 0;
    case tarvex::Mode::kListPorts:
      tarvex::listPorts();
      return 0;
    case tarvex::Mode::kLog:
      return tarvex::runLog(argc, argv, *options);
    case tarvex::Mode::kCodes:
    case tarvex::Mode::kVin:
    case tarvex::Mode::kClearCodes:
      return tarvex::runCodes(argc, argv, *options);
    case tarvex::Mode::kMonitorTests:
      return tarvex::runMonitorTests(argc, argv, *options);
    case tarvex::Mode::kReport:
      return tarvex::runReport(argc, argv, *options);
    case tarvex::Mode::kWindows:
      break;
  }
  return tarvex::runWindows(argc, argv, *options);
}
