// tarvex-sim: the simulated ELM327 adapter and car served on a
// pseudo-terminal (or over TCP, as a Wi-Fi adapter), so that the program can
// be run over a real path. Prints where to find it on its first line and runs
// until interrupted.

#include <sys/socket.h>
#include <unistd.h>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "core/clock.h"
#include "sim/sim_adapter.h"
#include "sim/sim_server.h"
#include "sim/vehicle.h"

namespace {

using tarvex::Micros;
using tarvex::Millis;
using namespace tarvex::sim;

int signalPipe[2] = {-1, -1};

void onSignal(int) {
  const char c = 1;
  [[maybe_unused]] const auto n = ::write(signalPipe[1], &c, 1);
}

[[noreturn]] void fail(const QString& message) {
  std::fprintf(stderr, "tarvex-sim: %s\n", qPrintable(message));
  std::exit(2);
}

double shareOption(const QCommandLineParser& p, const QString& name) {
  bool ok = false;
  const double v = p.value(name).toDouble(&ok);
  if (!ok || v < 0 || v > 1) fail(QStringLiteral("--%1 wants a share between 0 and 1").arg(name));
  return v;
}

long long numberOption(const QCommandLineParser& p, const QString& name, long long min, long long max) {
  bool ok = false;
  const long long v = p.value(name).toLongLong(&ok);
  if (!ok || v < min || v > max)
    fail(QStringLiteral("--%1 wants a whole number from %2 to %3").arg(name).arg(min).arg(max));
  return v;
}

// "[HOST:]PORT", the host 127.0.0.1 unless given.
std::pair<QString, quint16> tcpOption(const QString& text) {
  const qsizetype colon = text.lastIndexOf(QLatin1Char(':'));
  QString host = colon >= 0 ? text.left(colon) : QStringLiteral("127.0.0.1");
  if (host == QLatin1String("localhost")) host = QStringLiteral("127.0.0.1");
  bool ok = false;
  const uint port = text.mid(colon + 1).toUInt(&ok);
  if (!ok || port > 65535 || host.isEmpty())
    fail(QStringLiteral("--tcp wants [HOST:]PORT, as 127.0.0.1:35000"));
  return {host, quint16(port)};
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QCoreApplication::setApplicationName(QStringLiteral("tarvex-sim"));

  QString profiles;
  for (const QString& name : adapterProfileNames())
    profiles += QStringLiteral("\n  %1: %2").arg(name, adapterProfile(name)->summary);
  QCommandLineParser p;
  p.setApplicationDescription(
      QStringLiteral("Simulated ELM327 adapter on a car (a J1850 VPW GM car, or a CAN car), served on a "
                     "pseudo-terminal or over TCP.\n"
                     "Prints the device path (or HOST:PORT) on its first line, then runs until interrupted.\n"
                     "Adapters (--adapter):") +
      profiles);
  p.addHelpOption();
  QList<QCommandLineOption> options = {
      {QStringLiteral("car"),
       QStringLiteral(
           "The car: vpw (a GM engine controller on J1850 VPW) or can (engine 7E8 and transmission "
           "7E9 on ISO 15765-4 CAN, 11-bit, 500 kbit/s; the adapter starts on automatic search)."),
       QStringLiteral("CAR"), QStringLiteral("vpw")},
      {QStringLiteral("adapter"),
       QStringLiteral("The adapter: %1 (see above).").arg(adapterProfileNames().join(QStringLiteral(", "))),
       QStringLiteral("NAME"), QStringLiteral("clone")},
      {QStringLiteral("baud"),
       QStringLiteral(
           "Pace both directions as a serial line at N baud, 8N1, and hear only a client at that speed "
           "(at another, answer garbage): 9600, 19200, 38400, 57600, 115200, 230400 or 500000; "
           "0: no pacing, any speed. Default: the adapter's (38400; clone-minimal 9600)."),
       QStringLiteral("N")},
      {QStringLiteral("tcp"),
       QStringLiteral("Serve over TCP instead, as a Wi-Fi adapter, one client at a time; the host is "
                      "127.0.0.1 unless given (many adapters are sold at 192.168.0.10:35000); port 0: "
                      "any free one. Prints HOST:PORT on its first line."),
       QStringLiteral("[HOST:]PORT")},
      {QStringLiteral("latency"), QStringLiteral("The car's answer latency, MIN-MAX milliseconds."),
       QStringLiteral("MIN-MAX"), QStringLiteral("10-40")},
      {QStringLiteral("turnaround-us"),
       QStringLiteral("The adapter's own work per command line, microseconds."), QStringLiteral("US"),
       QStringLiteral("2000")},
      {QStringLiteral("reset-ms"), QStringLiteral("Time an ATZ reset takes, milliseconds."),
       QStringLiteral("MS"), QStringLiteral("900")},
      {QStringLiteral("no-listen"),
       QStringLiteral(
           "Prompt right after the last answer instead of listening for more as ATAT and ATST say: no "
           "adapter does so; for measuring a client alone.")},
      {QStringLiteral("seed"), QStringLiteral("Seed of the car and of the adapter's random draws."),
       QStringLiteral("N"), QStringLiteral("1")},
      {QStringLiteral("drive-after"),
       QStringLiteral("Seconds of parked idle after the cold start before driving."), QStringLiteral("S"),
       QStringLiteral("30")},
      {QStringLiteral("stand"), QStringLiteral("Seconds standing still before each launch."),
       QStringLiteral("S"), QStringLiteral("10")},
      {QStringLiteral("drop"), QStringLiteral("Share of the car's answers lost on the bus (NO DATA)."),
       QStringLiteral("SHARE"), QStringLiteral("0")},
      {QStringLiteral("late"), QStringLiteral("Answer late, after the client's 150 ms.")},
      {QStringLiteral("late-ms"),
       QStringLiteral("How late a late answer comes, milliseconds after the command."), QStringLiteral("MS"),
       QStringLiteral("250")},
      {QStringLiteral("twice"), QStringLiteral("Send the car's answer line twice.")},
      {QStringLiteral("word"),
       QStringLiteral("Say one of the adapter's own words instead of the car's answer to requests that begin "
                      "with COMMAND (hex digits; none: every request), to a SHARE of them or only the Nth; "
                      "may be given more than once, the first that applies wins. KIND: %1.")
           .arg(adapterWordNames().join(QStringLiteral(", "))),
       QStringLiteral("KIND[@COMMAND][/SHARE|#N]")},
      {QStringLiteral("inject"), QStringLiteral("Say one of the words of --word to every request."),
       QStringLiteral("KIND")},
      {QStringLiteral("fault-share"),
       QStringLiteral("Share of requests that --late, --twice and --inject apply to."),
       QStringLiteral("SHARE"), QStringLiteral("1")},
      {QStringLiteral("silent"), QStringLiteral("Answer nothing at all.")},
      {QStringLiteral("reset-every"), QStringLiteral("Reset by itself on every Nth command line; 0: never."),
       QStringLiteral("N"), QStringLiteral("0")},
      {QStringLiteral("lv-reset-every"),
       QStringLiteral("Print LV RESET and restart as after ATZ on every Nth command line; 0: never."),
       QStringLiteral("N"), QStringLiteral("0")},
      {QStringLiteral("stall-after"),
       QStringLiteral(
           "Hang on the Nth command line: read nothing more, answer nothing, stay present; 0: never."),
       QStringLiteral("N"), QStringLiteral("0")},
      {QStringLiteral("vanish-after"), QStringLiteral("Disappear on the Nth command line; 0: never."),
       QStringLiteral("N"), QStringLiteral("0")},
      {QStringLiteral("log"),
       QStringLiteral("Append every command line received to FILE, and <LF> for each line feed."),
       QStringLiteral("FILE")},
      {QStringLiteral("line-times"),
       QStringLiteral(
           "On exit, write to FILE when each chunk was read from the client and each went out (steady clock, "
           "microseconds)."),
       QStringLiteral("FILE")},
  };
  for (QCommandLineOption& o : options) {
    if (!o.defaultValues().isEmpty())
      o.setDescription(o.description() +
                       QStringLiteral(" Default: %1.").arg(o.defaultValues().join(QLatin1Char(','))));
  }
  p.addOptions(options);
  p.process(app);

  const auto profile = adapterProfile(p.value(QStringLiteral("adapter")));
  if (!profile)
    fail(QStringLiteral("--adapter wants %1").arg(adapterProfileNames().join(QStringLiteral(", "))));
  SimAdapterConfig config = SimAdapterConfig::of(*profile);
  if (p.isSet(QStringLiteral("baud")))
    config.timing.baud = int(numberOption(p, QStringLiteral("baud"), 0, 1'000'000'000));
  const QStringList latency = p.value(QStringLiteral("latency")).split(QLatin1Char('-'));
  bool okMin = false, okMax = false;
  if (latency.size() == 2) {
    config.timing.latencyMin = Millis{latency[0].toInt(&okMin)};
    config.timing.latencyMax = Millis{latency[1].toInt(&okMax)};
  }
  if (!okMin || !okMax || config.timing.latencyMin.count() < 0 ||
      config.timing.latencyMax < config.timing.latencyMin) {
    fail(QStringLiteral("--latency wants MIN-MAX in milliseconds, MIN <= MAX"));
  }
  config.timing.turnaround = Micros{numberOption(p, QStringLiteral("turnaround-us"), 0, 10'000'000)};
  config.timing.resetTime = Millis{numberOption(p, QStringLiteral("reset-ms"), 0, 60'000)};
  config.timing.listening = !p.isSet(QStringLiteral("no-listen"));
  config.seed =
      std::uint64_t(numberOption(p, QStringLiteral("seed"), 0, std::numeric_limits<long long>::max()));
  const double share = shareOption(p, QStringLiteral("fault-share"));
  config.faults.dropShare = shareOption(p, QStringLiteral("drop"));
  config.faults.lateShare = p.isSet(QStringLiteral("late")) ? share : 0;
  config.faults.lateBy = Millis{numberOption(p, QStringLiteral("late-ms"), 0, 60'000)};
  config.faults.twiceShare = p.isSet(QStringLiteral("twice")) ? share : 0;
  if (p.isSet(QStringLiteral("inject"))) {
    const auto word = adapterWord(p.value(QStringLiteral("inject")));
    if (!word) fail(QStringLiteral("--inject wants %1").arg(adapterWordNames().join(QStringLiteral(", "))));
    config.faults.inject = *word;
    config.faults.injectShare = share;
  }
  for (const QString& text : p.values(QStringLiteral("word"))) {
    QString why;
    const auto rule = parseWordRule(text, &why);
    if (!rule) fail(QStringLiteral("--word %1: %2").arg(text, why));
    config.faults.words.push_back(*rule);
  }
  config.faults.silent = p.isSet(QStringLiteral("silent"));
  config.faults.resetEvery = int(numberOption(p, QStringLiteral("reset-every"), 0, 1'000'000'000));
  config.faults.lvResetEvery = int(numberOption(p, QStringLiteral("lv-reset-every"), 0, 1'000'000'000));
  config.faults.stallAfter = int(numberOption(p, QStringLiteral("stall-after"), 0, 1'000'000'000));
  config.faults.vanishAfter = int(numberOption(p, QStringLiteral("vanish-after"), 0, 1'000'000'000));

  VehicleConfig vehicleConfig;
  const QString car = p.value(QStringLiteral("car"));
  if (car == QLatin1String("can")) {
    vehicleConfig.car = Car::Can;
  } else if (car != QLatin1String("vpw")) {
    fail(QStringLiteral("--car wants vpw or can"));
  }
  vehicleConfig.seed = config.seed;
  vehicleConfig.idleBeforeDrive = Millis{numberOption(p, QStringLiteral("drive-after"), 0, 86'400) * 1000};
  vehicleConfig.standStill = Millis{numberOption(p, QStringLiteral("stand"), 1, 86'400) * 1000};
  std::optional<std::pair<QString, quint16>> tcp;
  if (p.isSet(QStringLiteral("tcp"))) tcp = tcpOption(p.value(QStringLiteral("tcp")));

  QFile log;
  if (p.isSet(QStringLiteral("log"))) {
    log.setFileName(p.value(QStringLiteral("log")));
    if (!log.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text)) {
      fail(QStringLiteral("cannot open %1: %2").arg(log.fileName(), log.errorString()));
    }
  }

  if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0) fail(QStringLiteral("no signal pipe"));
  QSocketNotifier signalNotifier(signalPipe[0], QSocketNotifier::Read);
  QObject::connect(&signalNotifier, &QSocketNotifier::activated, &app, &QCoreApplication::quit);
  std::signal(SIGINT, onSignal);
  std::signal(SIGTERM, onSignal);

  tarvex::SystemClock clock;
  Vehicle vehicle(vehicleConfig);
  SimAdapter adapter(vehicle, clock.now(), config);
  if (log.isOpen()) {
    adapter.setCommandObserver([&log](const QByteArray& line) {
      log.write(line + '\n');
      log.flush();
    });
    // The adapter ignores line feeds, so only the log shows that one came.
    adapter.setLineFeedObserver([&log] {
      log.write("<LF>\n");
      log.flush();
    });
  }
  std::optional<LineTimes> times;
  if (p.isSet(QStringLiteral("line-times"))) times.emplace();
  LineTimes* noted = times ? &*times : nullptr;
  QString error;
  const std::unique_ptr<SimServer> server =
      tcp ? serveTcp(adapter, clock, tcp->first, tcp->second, noted, &error)
          : servePty(adapter, clock,
                     config.timing.baud == 0 ? std::nullopt : std::optional<int>(config.timing.baud), noted,
                     &error);
  if (!server) fail(error);
  // Each new address on a line of its own: the first, then a terminal's after a dropped link.
  auto print = [](const QString& address) {
    std::printf("%s\n", qPrintable(address));
    std::fflush(stdout);
  };
  print(server->address());
  server->setAddressObserver(print);
  const int status = app.exec();
  if (times && !times->save(p.value(QStringLiteral("line-times"))))
    fail(QStringLiteral("cannot write %1").arg(p.value(QStringLiteral("line-times"))));
  return status;
}
