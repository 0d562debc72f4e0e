// tarvex-sim: the simulated ELM327 adapter and car served on a
// pseudo-terminal, so that the program can be run over a real serial path.
// Prints the device path on its first line and runs until interrupted.

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/timerfd.h>
#include <termios.h>
#include <unistd.h>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "core/clock.h"
#include "sim/sim_adapter.h"
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

// The terminal's code for a line speed the adapter can run at.
std::optional<speed_t> lineSpeed(int baud) {
  static const std::pair<int, speed_t> kSpeeds[] = {{9600, B9600},    {19200, B19200},   {38400, B38400},
                                                    {57600, B57600},  {115200, B115200}, {230400, B230400},
                                                    {500000, B500000}};
  for (const auto& [n, code] : kSpeeds)
    if (n == baud) return code;
  return std::nullopt;
}

long long numberOption(const QCommandLineParser& p, const QString& name, long long min, long long max) {
  bool ok = false;
  const long long v = p.value(name).toLongLong(&ok);
  if (!ok || v < min || v > max)
    fail(QStringLiteral("--%1 wants a whole number from %2 to %3").arg(name).arg(min).arg(max));
  return v;
}

// When each chunk from the client was read and each chunk went out, on the
// steady clock in microseconds, so that a client's timing can be checked from
// the adapter's end. Kept in memory while serving (a file write could delay a
// delivery) and written out at the end.
class LineTimes {
 public:
  void read(Micros at, qsizetype n) { add({at, n, 'R', false}); }
  void wrote(Micros at, const QByteArray& out) { add({at, out.size(), 'W', out.contains('>')}); }
  // Lines "R|W microseconds characters", with " >" when the prompt went out.
  bool save(const QString& path) const {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) return false;
    QByteArray text;
    for (const Entry& e : entries_) {
      text += e.kind + (' ' + QByteArray::number(qint64(e.at.count())) + ' ' + QByteArray::number(e.n));
      text += e.prompt ? " >\n" : "\n";
    }
    return file.write(text) == text.size();
  }

 private:
  struct Entry {
    Micros at;
    qsizetype n;
    char kind;
    bool prompt;
  };
  // A bound on the memory a long run can take: a few million chunks.
  static constexpr std::size_t kLimit = 4'000'000;
  void add(const Entry& e) {
    if (entries_.size() < kLimit) entries_.push_back(e);
  }
  std::vector<Entry> entries_;
};

// The simulated device behind the master side of a pseudo-terminal.
class Server {
 public:
  // `speed`: the only line speed the adapter hears; nullopt: any. `times`:
  // where to note the line's timing, if anywhere.
  Server(SimAdapter& adapter, tarvex::Clock& clock, int master, int slave, std::optional<speed_t> speed,
         LineTimes* times)
      : adapter_(adapter), clock_(clock), master_(master), slave_(slave), speed_(speed), times_(times) {
    // Woken to the microsecond at the adapter's next event: a millisecond timer
    // would deliver each character up to a millisecond late, more than a whole
    // character takes at 38400 baud and above. The timer's clock is the steady
    // clock that clock_ reads.
    wake_ = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (wake_ < 0) fail(QStringLiteral("no timer"));
    waker_ = new QSocketNotifier(wake_, QSocketNotifier::Read);
    QObject::connect(waker_, &QSocketNotifier::activated, [this] {
      std::uint64_t expirations = 0;
      [[maybe_unused]] const auto n = ::read(wake_, &expirations, sizeof expirations);
      deliver();
    });
    reader_ = new QSocketNotifier(master_, QSocketNotifier::Read);
    QObject::connect(reader_, &QSocketNotifier::activated, [this] { take(); });
  }
  ~Server() {
    delete reader_;
    delete waker_;
    ::close(wake_);
    closeDevice();
  }

 private:
  // One bufferful per wake, so that a flood cannot keep the timer from
  // delivering; the notifier wakes again while more is waiting.
  void take() {
    char buf[4096];
    const ssize_t n = ::read(master_, buf, sizeof buf);
    if (n > 0) {
      if (times_) times_->read(clock_.now(), n);
      const QByteArray bytes(buf, int(n));
      clientAtOurSpeed() ? adapter_.receive(bytes, clock_.now())
                         : adapter_.receiveAtWrongSpeed(bytes, clock_.now());
    }
    arm();
  }

  // The client sets its speed on the terminal whose slave side is held open
  // here; it may change it between chunks, as when it probes for the adapter.
  bool clientAtOurSpeed() const {
    termios tio{};
    if (!speed_ || ::tcgetattr(slave_, &tio) != 0) return true;
    const speed_t in = ::cfgetispeed(&tio);
    return ::cfgetospeed(&tio) == *speed_ && (in == *speed_ || in == B0);  // B0: as the output
  }

  void deliver() {
    const Micros now = clock_.now();
    QByteArray out = adapter_.takeOutputDue(now);
    // The client hears them at the speed it is set to as they arrive: an
    // answer to a probe at another speed is garbage, and a later one is text
    // once the client has come to the adapter's speed.
    if (!out.isEmpty() && !clientAtOurSpeed()) out = SimAdapter::heardAtAnotherSpeed(out);
    // Nobody reading and the terminal full: the characters are lost, as on a line.
    if (!out.isEmpty() && master_ >= 0) {
      [[maybe_unused]] const auto n = ::write(master_, out.constData(), out.size());
      if (times_) times_->wrote(clock_.now(), out);
    }
    if (adapter_.goneBy(now) && master_ >= 0) {
      std::fprintf(stderr, "tarvex-sim: the device vanished\n");
      reader_->setEnabled(false);
      closeDevice();
      return;
    }
    arm();
  }

  void arm() {
    if (adapter_.stalledAt() && reader_->isEnabled()) {
      // Hung but present: the terminal fills up and the client's writes stop going out.
      std::fprintf(stderr, "tarvex-sim: the device stalled\n");
      reader_->setEnabled(false);
    }
    std::optional<Micros> next = adapter_.nextEventTime();
    if (auto gone = adapter_.vanishedAt()) next = next ? std::min(*next, *gone) : *gone;
    itimerspec when{};  // all zero: disarmed
    if (next) {
      const auto us = std::max<std::int64_t>(1, next->count());
      when.it_value = {time_t(us / 1'000'000), long(us % 1'000'000) * 1000};
    }
    ::timerfd_settime(wake_, TFD_TIMER_ABSTIME, &when, nullptr);
  }

  void closeDevice() {
    if (master_ >= 0) ::close(master_);
    if (slave_ >= 0) ::close(slave_);
    master_ = slave_ = -1;
  }

  SimAdapter& adapter_;
  tarvex::Clock& clock_;
  int master_;
  int slave_;
  std::optional<speed_t> speed_;
  LineTimes* times_;
  int wake_ = -1;
  QSocketNotifier* waker_ = nullptr;
  QSocketNotifier* reader_ = nullptr;
};

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QCoreApplication::setApplicationName(QStringLiteral("tarvex-sim"));

  QCommandLineParser p;
  p.setApplicationDescription(
      QStringLiteral("Simulated ELM327 v1.5 adapter on a car (a J1850 VPW GM car, or a CAN car), served on a "
                     "pseudo-terminal.\n"
                     "Prints the device path on its first line, then runs until interrupted."));
  p.addHelpOption();
  QList<QCommandLineOption> options = {
      {QStringLiteral("car"),
       QStringLiteral(
           "The car: vpw (a GM engine controller on J1850 VPW) or can (engine 7E8 and transmission "
           "7E9 on ISO 15765-4 CAN, 11-bit, 500 kbit/s; the adapter starts on automatic search)."),
       QStringLiteral("CAR"), QStringLiteral("vpw")},
      {QStringLiteral("baud"),
       QStringLiteral(
           "Pace both directions as a serial line at N baud, 8N1, and hear only a client at that speed "
           "(at another, answer garbage): 9600, 19200, 38400, 57600, 115200, 230400 or 500000; "
           "0: no pacing, any speed."),
       QStringLiteral("N"), QStringLiteral("9600")},
      {QStringLiteral("latency"), QStringLiteral("The car's answer latency, MIN-MAX milliseconds."),
       QStringLiteral("MIN-MAX"), QStringLiteral("10-40")},
      {QStringLiteral("turnaround-us"),
       QStringLiteral("The adapter's own work per command line, microseconds."), QStringLiteral("US"),
       QStringLiteral("2000")},
      {QStringLiteral("reset-ms"), QStringLiteral("Time an ATZ reset takes, milliseconds."),
       QStringLiteral("MS"), QStringLiteral("900")},
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
      {QStringLiteral("inject"), QStringLiteral("Put searching, businit, canerror or noise into answers."),
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

  SimAdapterConfig config;
  config.timing.baud = int(numberOption(p, QStringLiteral("baud"), 0, 1'000'000'000));
  const std::optional<speed_t> speed = lineSpeed(config.timing.baud);
  if (config.timing.baud != 0 && !speed)
    fail(QStringLiteral("--baud wants 0, 9600, 19200, 38400, 57600, 115200, 230400 or 500000"));
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
  config.seed =
      std::uint64_t(numberOption(p, QStringLiteral("seed"), 0, std::numeric_limits<long long>::max()));
  const double share = shareOption(p, QStringLiteral("fault-share"));
  config.faults.dropShare = shareOption(p, QStringLiteral("drop"));
  config.faults.lateShare = p.isSet(QStringLiteral("late")) ? share : 0;
  config.faults.lateBy = Millis{numberOption(p, QStringLiteral("late-ms"), 0, 60'000)};
  config.faults.twiceShare = p.isSet(QStringLiteral("twice")) ? share : 0;
  if (p.isSet(QStringLiteral("inject"))) {
    const QString kind = p.value(QStringLiteral("inject"));
    if (kind == QLatin1String("searching")) {
      config.faults.inject = Injection::Searching;
    } else if (kind == QLatin1String("businit")) {
      config.faults.inject = Injection::BusInit;
    } else if (kind == QLatin1String("canerror")) {
      config.faults.inject = Injection::CanError;
    } else if (kind == QLatin1String("noise")) {
      config.faults.inject = Injection::Noise;
    } else {
      fail(QStringLiteral("--inject wants searching, businit, canerror or noise"));
    }
    config.faults.injectShare = share;
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

  QFile log;
  if (p.isSet(QStringLiteral("log"))) {
    log.setFileName(p.value(QStringLiteral("log")));
    if (!log.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text)) {
      fail(QStringLiteral("cannot open %1: %2").arg(log.fileName(), log.errorString()));
    }
  }

  const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0)
    fail(QStringLiteral("no pseudo-terminal"));
  char path[128];
  if (::ptsname_r(master, path, sizeof path) != 0) fail(QStringLiteral("no pseudo-terminal name"));
  // Held open here too, so the terminal does not hang up between clients.
  const int slave = ::open(path, O_RDWR | O_NOCTTY);
  if (slave < 0) fail(QStringLiteral("cannot open %1").arg(QString::fromLocal8Bit(path)));
  termios tio{};
  ::tcgetattr(slave, &tio);
  ::cfmakeraw(&tio);  // no echo, no line-end translation: the adapter does its own
  ::cfsetspeed(&tio, B9600);
  ::tcsetattr(slave, TCSANOW, &tio);
  ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);

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
  Server server(adapter, clock, master, slave, speed, times ? &*times : nullptr);

  std::printf("%s\n", path);
  std::fflush(stdout);
  const int status = app.exec();
  if (times && !times->save(p.value(QStringLiteral("line-times"))))
    fail(QStringLiteral("cannot write %1").arg(p.value(QStringLiteral("line-times"))));
  return status;
}
