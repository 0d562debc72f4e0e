#include "app/options.h"

#include <QCommandLineParser>
#include <QFileInfo>

#include "app/headless_log.h"
#include "link/line_speed.h"
#include "link/port_address.h"
#include "link/qt_serial_port.h"

namespace tarvex {
namespace {

QCommandLineOption option(const char* name, const QString& description, const char* value = nullptr,
                          const QString& defaultValue = {}) {
  return value ? QCommandLineOption(QString::fromLatin1(name), description, QString::fromLatin1(value),
                                    defaultValue)
               : QCommandLineOption(QString::fromLatin1(name), description);
}

Failure refused(const QString& reason) {
  return Failure{Failure::Kind::kInvalid, QStringLiteral("tarvex"), reason, {}};
}

}  // namespace

Result<Options> parseOptions(const QStringList& arguments) {
  QCommandLineParser parser;
  parser.setApplicationDescription(QStringLiteral(
      "Tarvex: reads any OBD-II car through an ELM327 adapter (standard data, trouble codes in words), and "
      "scans the enhanced parameters of a GM engine controller."));
  const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                QStringLiteral("Displays help on command line options."));
  const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                   QStringLiteral("Displays the version and exits."));
  const QCommandLineOption port =
      option("port",
             QStringLiteral(
                 "Serial device of the adapter, or tcp://HOST:PORT for a Wi-Fi adapter (default: %1, or the "
                 "one that last answered).")
                 .arg(defaultPortName()),
             "DEVICE");
  const QCommandLineOption baud =
      option("baud",
             QStringLiteral(
                 "Line speed: %1, or auto to find the adapter's speed (default: the speed that last answered "
                 "on that device; on a first run %2, looked for when the adapter does not answer there).")
                 .arg(baudRatesText())
                 .arg(kDefaultBaud),
             "N|auto");
  const QCommandLineOption demo = option(
      "demo",
      QStringLiteral("Use the built-in simulated adapter and car instead of a device (default: off)."));
  const QCommandLineOption car = option(
      "car",
      QStringLiteral("With --demo: the simulated car, vpw (a GM engine controller on J1850 VPW) or can (an "
                     "engine and a transmission controller on ISO 15765-4 CAN) (default: vpw)."),
      "vpw|can", QStringLiteral("vpw"));
  const QCommandLineOption adapter =
      option("adapter",
             QStringLiteral("With --demo: the simulated adapter, %1 (default: clone).")
                 .arg(sim::adapterProfileNames().join(QStringLiteral(", "))),
             "NAME", QStringLiteral("clone"));
  const QCommandLineOption replay =
      option("replay",
             QStringLiteral(
                 "Plays a log Tarvex wrote back through its windows instead of a car: the boxes, the gauges "
                 "and the charts show the recorded drive; no port is opened (default: off)."),
             "FILE");
  const QCommandLineOption list = option(
      "list-ports", QStringLiteral("Lists the serial ports of this computer and exits (default: off)."));
  const QCommandLineOption log =
      option("log",
             QStringLiteral(
                 "Logs without a window or a display: scans and writes a CSV line a round to FILE, the same "
                 "lines as the main window's log, until SIGINT or SIGTERM (or --rounds lines). Prints "
                 "progress on a terminal, nothing but errors otherwise (default: off)."),
             "FILE");
  const QCommandLineOption rounds = option(
      "rounds", QStringLiteral("With --log: ends after N log lines (default: runs until stopped)."), "N");
  const QCommandLineOption params = option(
      "params",
      QStringLiteral("With --log: the log columns to scan, separated by commas, e.g. RPM,Speed,MAF (default: "
                     "those the main window starts with)."),
      "LIST");
  const QCommandLineOption standard = option(
      "standard",
      QStringLiteral("With --log: logs Standard data instead of the GM scan: any OBD-II car's standard "
                     "parameters (and your own, see --parameters), the same CSV as the Standard data "
                     "window's log (default: off)."));
  const QCommandLineOption pids =
      option("pids",
             QStringLiteral(
                 "With --log --standard: the parameters to log by their short names, separated by commas, "
                 "e.g. RPM,VSS,ECT (default: every one the car reports)."),
             "LIST");
  const QCommandLineOption units = option(
      "units",
      QStringLiteral("The units of Standard data, its log, the charts, the freeze frames, the on-board tests "
                     "and the report: metric, us or "
                     "uk, then quantity=unit pairs, e.g. uk,temperature=F; kept for later runs (default: "
                     "the units chosen last, else metric)."),
      "SYSTEM");
  const QCommandLineOption parameters =
      option("parameters",
             QStringLiteral("Your own parameters (a CSV of Name,ShortName,ModeAndPID,Equation,Min,Max,Units,"
                            "Header) for Standard data; kept for later runs (default: those imported last)."),
             "FILE");
  const QCommandLineOption codes = option(
      "codes",
      QStringLiteral("Prints the protocol, the MIL, every trouble code with its status and description, "
                     "and readiness, then exits (no display needed). Exits 1 when a read failed."));
  const QCommandLineOption vin =
      option("vin", QStringLiteral("Prints the vehicle identification number, then exits."));
  const QCommandLineOption clear =
      option("clear-codes",
             QStringLiteral("Clears the trouble codes and freeze frames after asking on the terminal, "
                            "then prints the codes read again."));
  const QCommandLineOption yes = option("yes", QStringLiteral("With --clear-codes: clear without asking."));
  const QCommandLineOption monitorTests =
      option("monitor-tests",
             QStringLiteral(
                 "Prints the on-board test results (service 06) of every controller: each test's value, "
                 "limits and verdict, the failed ones first, and the misfire counts, then exits (no display "
                 "needed). Exits 1 when a read failed."));
  const QCommandLineOption report = option(
      "report",
      QStringLiteral("Reads the car and writes a report for the mechanic to FILE: adapter, protocol, VIN, "
                     "calibration IDs, MIL, trouble codes, freeze frame, readiness and on-board tests. HTML, "
                     "or PDF when FILE ends in .pdf (no display needed). Exits 1 when a read failed."),
      "FILE");
  parser.addOptions({help,  version, port,   baud,   demo,         car,   adapter, replay,
                     list,  log,     rounds, params, standard,     pids,  units,   parameters,
                     codes, vin,     clear,  yes,    monitorTests, report});

  Options o;
  o.help = parser.helpText().replace(QStringLiteral("<executable_name>"), QStringLiteral("tarvex"));
  if (!parser.parse(arguments)) return refused(parser.errorText());
  if (!parser.positionalArguments().isEmpty())
    return refused(QStringLiteral("unexpected argument: %1").arg(parser.positionalArguments().first()));
  if (parser.isSet(help))
    o.mode = Mode::kHelp;
  else if (parser.isSet(version))
    o.mode = Mode::kVersion;
  else if (parser.isSet(list))
    o.mode = Mode::kListPorts;
  else if (parser.isSet(clear))
    o.mode = Mode::kClearCodes;
  else if (parser.isSet(codes))
    o.mode = Mode::kCodes;
  else if (parser.isSet(vin))
    o.mode = Mode::kVin;
  else if (parser.isSet(log))
    o.mode = Mode::kLog;
  if (o.mode == Mode::kHelp || o.mode == Mode::kVersion || o.mode == Mode::kListPorts) return o;
  // The car's own results and the report are runs of their own.
  for (const QCommandLineOption* own : {&monitorTests, &report}) {
    if (!parser.isSet(*own)) continue;
    for (const QCommandLineOption* other : {&clear, &codes, &vin, &log, &monitorTests, &report})
      if (other != own && parser.isSet(*other))
        return refused(QStringLiteral("--%1 does not go with --%2: one run at a time.")
                           .arg(own->names().first(), other->names().first()));
    o.mode = own == &monitorTests ? Mode::kMonitorTests : Mode::kReport;
  }
  if (o.mode == Mode::kReport) {
    o.reportPath = parser.value(report);
    if (o.reportPath.isEmpty())
      return refused(QStringLiteral("--report needs the name of the file to write."));
  }

  if (parser.isSet(baud)) {
    o.baud = parseBaud(parser.value(baud));
    if (!o.baud)
      return refused(QStringLiteral("--baud %1 is no line speed Tarvex can use; use %2, or auto.")
                         .arg(parser.value(baud), baudRatesText()));
  }
  if (parser.isSet(port)) {
    o.port = parser.value(port);
    if (Status usable = checkPort(*o.port, parser.isSet(baud)); !usable) return usable.failure();
  }
  o.demo = parser.isSet(demo);
  const QString carName = parser.value(car);
  if (carName != QLatin1String("vpw") && carName != QLatin1String("can"))
    return refused(QStringLiteral("--car %1 is no simulated car; give vpw or can.").arg(carName));
  o.car = carName == QLatin1String("can") ? sim::Car::Can : sim::Car::GmVpw;
  const std::optional<sim::AdapterProfile> profile = sim::adapterProfile(parser.value(adapter));
  if (!profile)
    return refused(QStringLiteral("--adapter %1 is no simulated adapter; give %2.")
                       .arg(parser.value(adapter), sim::adapterProfileNames().join(QStringLiteral(", "))));
  o.adapter = *profile;
  for (const QCommandLineOption* withDemo : {&car, &adapter})
    if (!o.demo && parser.isSet(*withDemo))
      return refused(QStringLiteral("--%1 goes with --demo.").arg(withDemo->names().first()));
  if (o.demo && (parser.isSet(port) || parser.isSet(baud)))
    return refused(QStringLiteral("--demo uses the simulated adapter: it takes no --port or --baud."));

  for (const QCommandLineOption* withLog : {&rounds, &params})
    if (o.mode != Mode::kLog && parser.isSet(*withLog))
      return refused(QStringLiteral("--%1 goes with --log FILE.").arg(withLog->names().first()));
  if (parser.isSet(yes) && o.mode != Mode::kClearCodes)
    return refused(QStringLiteral("--yes goes with --clear-codes."));
  o.yes = parser.isSet(yes);
  if (parser.isSet(replay) && o.mode != Mode::kWindows)
    return refused(QStringLiteral("--replay plays a log in the windows; it does not go with --%1.")
                       .arg(o.mode == Mode::kLog            ? QStringLiteral("log")
                            : o.mode == Mode::kMonitorTests ? QStringLiteral("monitor-tests")
                            : o.mode == Mode::kReport       ? QStringLiteral("report")
                                                      : QStringLiteral("codes, --vin or --clear-codes")));

  // Standard data's options, where they mean something.
  o.standard = parser.isSet(standard);
  if (o.standard && o.mode != Mode::kLog)
    return refused(QStringLiteral("--standard goes with --log FILE (the window has View > Standard data)."));
  if (parser.isSet(pids) && !o.standard)
    return refused(QStringLiteral("--pids goes with --log FILE --standard."));
  if (o.standard && parser.isSet(params))
    return refused(
        QStringLiteral("--params names the GM scan's columns; with --standard, name them with --pids."));
  const bool gmLog = o.mode == Mode::kLog && !o.standard;
  if (parser.isSet(units) && (gmLog || o.mode == Mode::kVin))
    return refused(
        QStringLiteral("--units goes with the windows, --log --standard, --codes, --clear-codes, "
                       "--monitor-tests or --report; the GM scan's log and the VIN keep their own."));
  if (parser.isSet(parameters) && o.mode != Mode::kWindows && !o.standard)
    return refused(QStringLiteral("--parameters goes with the windows or --log FILE --standard."));
  if (parser.isSet(units)) {
    QString why;
    o.units = UnitChoice::fromText(parser.value(units), &why);
    if (!o.units) return refused(QStringLiteral("--units: %1").arg(why));
  }
  if (parser.isSet(parameters)) {
    o.parameters = importParameters(parser.value(parameters));
    if (!o.parameters->failure.isEmpty())
      return refused(QStringLiteral("cannot read the parameter file %1: %2")
                         .arg(parser.value(parameters), o.parameters->failure));
  }
  if (parser.isSet(pids)) o.pids = parser.value(pids);

  if (o.mode == Mode::kLog) {
    o.logPath = parser.value(log);
    if (o.logPath.isEmpty()) return refused(QStringLiteral("--log needs the name of the file to write."));
    if (parser.isSet(rounds)) {
      bool ok = false;
      o.rounds = parser.value(rounds).toLongLong(&ok);
      if (!ok || *o.rounds < 1)
        return refused(QStringLiteral("--rounds %1 is no number of lines; give a whole number from 1 up.")
                           .arg(parser.value(rounds)));
    }
    if (parser.isSet(params)) {
      const ParamChoice chosen = parseParams(parser.value(params));
      if (!chosen.error.isEmpty()) return refused(QStringLiteral("--params: %1").arg(chosen.error));
      o.boxes = chosen.boxes;
    }
  }
  // A log that is not there is told before any window (or display) is needed.
  if (parser.isSet(replay)) {
    o.replay = parser.value(replay);
    const QFileInfo file(*o.replay);
    if (!file.isReadable())
      return refused(QStringLiteral("cannot open %1 for replay: %2")
                         .arg(*o.replay, file.exists() ? QStringLiteral("it cannot be read")
                                                       : QStringLiteral("there is no such file")));
  }
  return o;
}

}  // namespace tarvex
