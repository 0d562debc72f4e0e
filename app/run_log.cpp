// Logging without a window or a display (--log): the main window's scan and
// its log, or with --standard Standard data's poll and its log, with a
// progress line on a terminal.
#include <QCoreApplication>
#include <QSettings>

#include "app/headless_log.h"
#include "app/preferences.h"
#include "app/program.h"

namespace tarvex {

namespace {

// Runs a logger until it finishes; its exit status.
template <class Logger>
int runLogger(Logger& logger) {
  logger.setFinished([](int status) { QCoreApplication::exit(status); });
  const std::unique_ptr<QSocketNotifier> quit = onQuitSignal([&logger] { logger.finish(); });
  return logger.start() ? QCoreApplication::exec() : 1;
}

}  // namespace

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
  const HeadlessOutput output{[&console](const QString& line) { console.error(line); },
                              [&console](const QString& text) { console.progress(text); }};
  int status = 1;
  if (!options.standard) {
    HeadlessLog logger(ports, clock, {options.logPath, options.rounds, options.boxes, console.terminal()},
                       output);
    status = runLogger(logger);
  } else {
    // The units and own parameters given are kept; without them, those kept before.
    Preferences preferences(settings);
    if (options.units) preferences.setUnits(*options.units);
    std::vector<obd::UserParameter> own =
        obd::readUserParameters(preferences.parameters().content).parameters;
    if (options.parameters) {
      for (const QString& line : options.parameters->leftOut)
        console.error(QStringLiteral("tarvex: left out ") + line);
      preferences.setParameters(options.parameters->kept);
      own = options.parameters->parameters;
    }
    std::optional<PidChoice> chosen;
    if (options.pids) {
      chosen = parsePids(*options.pids, own);
      if (!chosen->error.isEmpty()) {
        console.error(QStringLiteral("tarvex: --pids: %1\n\nSee tarvex --help.").arg(chosen->error));
        return 2;
      }
    }
    const TripSettings trip = preferences.trip();
    HeadlessStandardLog logger(ports, clock,
                               {options.logPath, options.rounds, chosen, preferences.units(), std::move(own),
                                trip.fuel, trip.calibration, console.terminal()},
                               output);
    status = runLogger(logger);
  }
  ports.setNotice({});
  return status;
}

}  // namespace tarvex
