// tarvex_perf: the program's windows polling tarvex-sim over a pseudo-terminal
// (rates against the wire limit, turnaround, CPU, memory) and tarvex's
// start-up under a virtual X server, printed as one table. --smoke runs every
// part briefly so that the harness keeps working; it judges no figure.

#include <poll.h>
#include <sys/resource.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <QApplication>
#include <QCommandLineParser>
#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <vector>

#include "app/main_window.h"
#include "link/qt_serial_port.h"
#include "tests/support/quick_clock.h"

namespace tarvex {
namespace {

using namespace std::chrono_literals;

// ---------------------------------------------------------------------------
// The wire limit: the characters that must pass the line, one after another,
// for one exchange. The line carries both directions at once and the adapter
// echoes each character as it comes in, so the echo overlaps the command
// except for the echo of its last character: the command, that echo, then
// the answer and "\r\r>".

constexpr double kBitsPerCharacter = 10;  // 8N1
constexpr int kBauds[] = {9600, 38400, 115200};

struct ExchangeKind {
  const char* name;
  const char* request;
  const char* answer;  // the answer line as the adapter prints it, blank after each byte
};
constexpr ExchangeKind kKinds[] = {
    {"enhanced, 1 byte", "22000D01", "62 00 0D 3C "},
    {"enhanced, 2 bytes", "22000C01", "62 00 0C 1A F8 "},
    {"standard speed", "010D", "41 0D 3C "},
};

int toAdapter(const ExchangeKind& k) {
  return int(qstrlen(k.request)) + 1;  // command and "\r"
}
int fromAdapter(const ExchangeKind& k) {
  return toAdapter(k) + int(qstrlen(k.answer)) + 3;  // echo, answer, "\r", "\r>"
}
// Characters on the critical path: everything from the adapter and one more
// character time for the command's first character to come in.
int criticalPath(const ExchangeKind& k) {
  return fromAdapter(k) + 1;
}
double charSeconds(int baud) {
  return kBitsPerCharacter / baud;
}

// ---------------------------------------------------------------------------
// Measuring at the port seam: every window's port is wrapped, so the figures
// are taken where the program hands bytes to the device and takes them back.

Micros now() {
  return std::chrono::duration_cast<Micros>(std::chrono::steady_clock::now().time_since_epoch());
}

// The system's share of the process's CPU time: the kernel's work for the
// process (waking it, poll, read, write), apart from the program's own.
double systemSeconds() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return double(usage.ru_stime.tv_sec) + double(usage.ru_stime.tv_usec) / 1e6;
}

double cpuSeconds() {
  timespec t{};
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

double residentMiB() {
  QFile statm(QStringLiteral("/proc/self/statm"));
  if (!statm.open(QIODevice::ReadOnly)) return 0;
  const QList<QByteArray> fields = statm.readAll().split(' ');
  return fields.size() > 1 ? fields[1].toDouble() * double(::sysconf(_SC_PAGESIZE)) / (1024 * 1024) : 0;
}

// What one run saw: an exchange ends where the next request goes out after a
// prompt came in.
struct Recorder {
  bool counting = false;
  std::optional<Micros> firstAt;  // the first counted request
  Micros lastAt{0};
  long exchanges = 0;   // counted exchanges completed after firstAt
  long wireChars = 0;   // their critical-path characters
  long reads = 0;       // chunks taken from the port while counting
  long unanswered = 0;  // requests that went out with no prompt before them (time-outs)
  double cpuAtFirst = 0;
  double systemAtFirst = 0;
  // Laid out and touched before counting, so that keeping the samples does
  // not show as the program's memory growing.
  std::vector<double> turnaroundUs;
  std::size_t samples = 0;
  std::vector<std::pair<long, double>> residentAt;  // exchanges, MiB
  std::vector<long> residentWanted;

  long requests = 0;  // every write, counted or not
  bool prompt = false;
  Micros promptAt{0};
  long backChars = 0;

  void onRead(Micros at, const QByteArray& data) {
    backChars += data.size();
    if (counting) ++reads;
    if (data.contains('>')) {
      prompt = true;
      promptAt = at;
    }
  }
  void onWrite(Micros at) {
    ++requests;
    if (counting) {
      if (!prompt) {
        ++unanswered;
      } else if (!firstAt) {
        firstAt = at;
        cpuAtFirst = cpuSeconds();
        systemAtFirst = systemSeconds();
      } else {
        ++exchanges;
        wireChars += backChars + 1;
        if (samples < turnaroundUs.size()) turnaroundUs[samples++] = double((at - promptAt).count());
        for (long n : residentWanted)
          if (n == exchanges) residentAt.emplace_back(n, residentMiB());
      }
      if (firstAt) lastAt = at;
    }
    prompt = false;
    backChars = 0;
  }
};

class TimedPort final : public SerialPort {
 public:
  TimedPort(std::unique_ptr<SerialPort> inner, Recorder& recorder)
      : inner_(std::move(inner)), recorder_(recorder) {
    inner_->setNotify([this](PortEvent event) { notify(event); });
  }
  bool open() override { return inner_->open(); }
  void close() override { inner_->close(); }
  bool isOpen() const override { return inner_->isOpen(); }
  bool write(const QByteArray& data) override {
    const bool ok = inner_->write(data);
    recorder_.onWrite(now());
    return ok;
  }
  QByteArray readAll() override {
    QByteArray data = inner_->readAll();
    recorder_.onRead(now(), data);
    return data;
  }
  QString deviceName() const override { return inner_->deviceName(); }
  QString errorString() const override { return inner_->errorString(); }

 private:
  std::unique_ptr<SerialPort> inner_;
  Recorder& recorder_;
};

class TimedPortFactory final : public PortFactory {
 public:
  TimedPortFactory(const QString& device, qint32 baud, Recorder& recorder)
      : inner_(device, baud), recorder_(recorder) {}
  std::unique_ptr<SerialPort> createPort(const PortUse& use) override {
    return std::make_unique<TimedPort>(inner_.createPort(use), recorder_);
  }
  QString deviceName() const override { return inner_.deviceName(); }
  bool isHeld() const override { return inner_.isHeld(); }

 private:
  QtPortFactory inner_;
  Recorder& recorder_;
};

class NoFileDialog final : public FileDialog {
 public:
  std::optional<QString> chooseSaveFile(QWidget*, const QString&, const QString&, const QString&,
                                        const QString&) override {
    return std::nullopt;
  }
};

// Runs the event loop as the program does, asleep while nothing happens (a
// loop that polls would count its own spinning as the program's CPU), and
// looks every 10 ms whether to stop.
void runEvents(Micros until, const std::function<bool()>& done) {
  QEventLoop loop;
  QTimer look;
  QObject::connect(&look, &QTimer::timeout, [&] {
    if (now() >= until || done()) loop.quit();
  });
  look.start(10);
  loop.exec();
}

// ---------------------------------------------------------------------------
// tarvex-sim for one run.

class Simulator {
 public:
  Simulator(int baud, int latencyMs) {
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process_.start(
        QStringLiteral(TARVEX_SIM_PATH),
        {"--baud", QString::number(baud), "--latency", QStringLiteral("%1-%1").arg(latencyMs),
         "--turnaround-us", "0", "--reset-ms", "20", "--drive-after", "0", "--line-times", times_,
         // The program's own pace is measured here: no adapter time beyond the wire's and the car's.
         "--no-listen"});
    QDeadlineTimer deadline(10'000);
    while (!process_.canReadLine() && !deadline.hasExpired()) process_.waitForReadyRead(100);
    device_ = QString::fromLocal8Bit(process_.readLine()).trimmed();
  }
  ~Simulator() {
    process_.terminate();
    process_.waitForFinished(10'000);
  }
  const QString& device() const { return device_; }

  // Keeps the line times as this file (for a closer look).
  void keepTimesAs(const QString& path) { keepAs_ = path; }

  // What the simulator's line times say about the exchanges whose prompt went
  // out in [from, to].
  struct Seen {
    std::vector<double> gapUs;   // its prompt out to the next request in
    std::vector<double> lateUs;  // its prompt out later than the line allows after the request came in
  };
  // Stops it and reads its line times.
  Seen stop(int baud = 0, Micros from = {}, Micros to = {}) {
    if (process_.state() != QProcess::NotRunning) {
      process_.terminate();
      process_.waitForFinished(10'000);
    }
    Seen seen;
    if (!keepAs_.isEmpty()) {
      QFile::remove(keepAs_);
      QFile::copy(times_, keepAs_);
    }
    QFile file(times_);
    if (!file.open(QIODevice::ReadOnly)) return seen;
    qint64 promptAt = -1;   // none outstanding
    qint64 requestAt = -1;  // the last request's arrival
    qint64 sent = 0;        // characters sent since
    for (const QByteArray& line : file.readAll().split('\n')) {
      const QList<QByteArray> f = line.split(' ');
      if (f.size() < 3) continue;
      const qint64 at = f[1].toLongLong();
      const bool inside = at >= from.count() && at <= to.count();
      if (f[0] == "W") {
        sent += f[2].toLongLong();
        if (f.size() > 3) {
          promptAt = at;
          if (baud > 0 && requestAt >= 0 && inside)
            seen.lateUs.push_back(double(at - requestAt) - double(sent + 1) * charSeconds(baud) * 1e6);
        }
      } else if (f[0] == "R") {
        if (promptAt >= 0 && inside) seen.gapUs.push_back(double(at - promptAt));
        promptAt = -1;
        requestAt = at;
        sent = 0;
      }
    }
    return seen;
  }

 private:
  QTemporaryDir dir_;
  QString times_ = dir_.filePath(QStringLiteral("times.txt"));
  QProcess process_;
  QString device_;
  QString keepAs_;
};

// ---------------------------------------------------------------------------
// One run: a window polls the simulator for a while.

// kBare: no window and no link, only a serial port that writes the drag
// strip's request again whenever a prompt comes in. It shows what the event
// loop, Qt's serial port and the system cost for the same exchanges.
enum class Poller { kScan, kDrag, kBare };

struct RunPlan {
  Poller poller;
  int baud;  // 0: the simulator does not pace the line
  int latencyMs;
  Micros duration;
  long maxExchanges = 0;  // stop early at this many; 0: no bound
  std::vector<long> residentAt = {};
};

struct RunResult {
  RunPlan plan{};
  long exchanges = 0;
  double seconds = 0;
  double wireSeconds = 0;
  double cpuSeconds = 0;     // an exchange
  double systemSeconds = 0;  // of which the kernel's
  double readsPerExchange = 0;
  long unanswered = 0;
  std::vector<double> turnaroundUs;
  std::vector<double> simTurnaroundUs;
  std::vector<double> simLateUs;
  std::vector<std::pair<long, double>> residentAt;
  QStringList messages;

  double rate() const { return seconds > 0 ? double(exchanges) / seconds : 0; }
  double wireShare() const { return seconds > 0 ? wireSeconds / seconds : 0; }
  double wireLimitRate() const { return wireSeconds > 0 ? double(exchanges) / wireSeconds : 0; }
  // With the car's latency: the answer waits for it after the command, while
  // the echo of the command's last character goes out.
  double latencyLimitRate() const {
    const double c = plan.baud > 0 ? charSeconds(plan.baud) : 0;
    const double each = std::max(c, plan.latencyMs / 1000.0) - c;
    const double total = wireSeconds + double(exchanges) * each;
    return total > 0 ? double(exchanges) / total : 0;
  }
};

const char* pollerName(Poller p) {
  return p == Poller::kScan ? "scan (main window)" : p == Poller::kDrag ? "drag strip" : "bare port";
}
const char* pollerFile(Poller p) {
  return p == Poller::kScan ? "scan" : p == Poller::kDrag ? "drag" : "bare";
}

QString baudName(int baud) {
  return baud > 0 ? QString::number(baud) : QStringLiteral("unpaced");
}

// The program whose start-up is timed.
QString appPath = QStringLiteral(TARVEX_APP_PATH);

// Where to keep each run's line times from the simulator; empty: nowhere.
QString keepDir;

RunResult runOnce(const RunPlan& plan) {
  RunResult result;
  result.plan = plan;
  Simulator sim(plan.baud, plan.latencyMs);
  if (!keepDir.isEmpty()) {
    sim.keepTimesAs(QStringLiteral("%1/%2-%3-%4ms.txt")
                        .arg(keepDir, pollerFile(plan.poller), baudName(plan.baud))
                        .arg(plan.latencyMs));
  }
  if (sim.device().isEmpty()) {
    result.messages << QStringLiteral("tarvex-sim did not start");
    return result;
  }
  Recorder recorder;
  recorder.residentWanted = plan.residentAt;
  recorder.turnaroundUs.assign(std::size_t(plan.maxExchanges ? plan.maxExchanges + 1 : 200'000), 0.0);
  TimedPortFactory ports(sim.device(), plan.baud > 0 ? plan.baud : 9600, recorder);
  testing::QuickClock clock;
  NoFileDialog dialog;
  {
    WindowRegistry windows(ports, clock, dialog,
                           [&](QWidget*, Urgency, const QString& message) { result.messages << message; });
    Tarvex main(windows);
    main.show();
    std::unique_ptr<SerialPort> bare;
    if (plan.poller == Poller::kScan) {
      main.pb_StartScan_Click();
    } else if (plan.poller == Poller::kDrag) {
      windows.showDragstrip().controls().get<QPushButton>(QStringLiteral("pb_Start"))->click();
    } else {
      bare = ports.createPort({QStringLiteral("the bare port")});
      bare->setNotify([&](PortEvent) {
        if (bare->readAll().contains('>')) bare->write("010D\r");
      });
      if (bare->open()) bare->write("010D\r");
    }
    // Past the set-up and the first answers before counting.
    runEvents(now() + 5s, [&] { return recorder.requests > 30 || !result.messages.isEmpty(); });
    recorder.counting = true;
    const Micros until = now() + plan.duration;
    runEvents(until, [&] {
      return !result.messages.isEmpty() || (plan.maxExchanges && recorder.exchanges >= plan.maxExchanges);
    });
    result.cpuSeconds = cpuSeconds() - recorder.cpuAtFirst;
    result.systemSeconds = systemSeconds() - recorder.systemAtFirst;
    const long inProgress = recorder.exchanges;
    recorder.counting = false;
    main.pb_StopScan_Click();
    if (bare) bare->close();
    result.exchanges = recorder.exchanges;
    result.cpuSeconds /= static_cast<double>(std::max<long>(1, inProgress));
    result.systemSeconds /= static_cast<double>(std::max<long>(1, inProgress));
  }
  result.seconds = recorder.firstAt ? double((recorder.lastAt - *recorder.firstAt).count()) / 1e6 : 0;
  result.wireSeconds = plan.baud > 0 ? double(recorder.wireChars) * charSeconds(plan.baud) : 0;
  result.readsPerExchange = double(recorder.reads) / double(std::max<long>(1, recorder.exchanges));
  result.unanswered = recorder.unanswered;
  recorder.turnaroundUs.resize(recorder.samples);
  result.turnaroundUs = std::move(recorder.turnaroundUs);
  result.residentAt = std::move(recorder.residentAt);
  Simulator::Seen seen = sim.stop(plan.baud, recorder.firstAt.value_or(Micros{}), recorder.lastAt);
  result.simTurnaroundUs = std::move(seen.gapUs);
  result.simLateUs = std::move(seen.lateUs);
  return result;
}

double percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  const auto k = std::size_t(p * double(v.size() - 1) + 0.5);
  std::nth_element(v.begin(), v.begin() + std::ptrdiff_t(k), v.end());
  return v[k];
}

void say(const char* format, auto... args) {
  std::printf(format, args...);
  std::fflush(stdout);
}

QString loadAverage() {
  QFile file(QStringLiteral("/proc/loadavg"));
  if (!file.open(QIODevice::ReadOnly)) return QStringLiteral("?");
  return QString::fromLatin1(file.readAll()).section(QLatin1Char(' '), 0, 2) +
         QStringLiteral(" on %1 cores").arg(QThread::idealThreadCount());
}

void warnAbout(const RunResult& r) {
  for (const QString& m : r.messages) say("    ! %s\n", qPrintable(m));
  if (r.unanswered) say("    ! %ld requests went out without a prompt (time-outs)\n", r.unanswered);
  if (r.exchanges == 0) say("    ! no exchange was completed\n");
}

// ---------------------------------------------------------------------------
// Start-up: process start to both windows mapped, under Xvfb, seen by an X
// client of our own that hears every top-level window being mapped. Nothing
// in the program knows it is watched.

// Listens to the display's root window for windows being mapped.
class MapWatcher {
 public:
  explicit MapWatcher(const QByteArray& display) : connection_(xcb_connect(display.constData(), nullptr)) {
    if (xcb_connection_has_error(connection_)) return;
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root;
    const std::uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(connection_, root, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(connection_);
  }
  ~MapWatcher() { xcb_disconnect(connection_); }
  bool connected() const { return !xcb_connection_has_error(connection_); }

  // When the last of the windows with these names was mapped; nothing if
  // they were not all mapped by the deadline.
  std::optional<Micros> waitForAll(QStringList names, Micros deadline) {
    std::optional<Micros> last;
    while (!names.isEmpty() && now() < deadline) {
      pollfd fd{xcb_get_file_descriptor(connection_), POLLIN, 0};
      ::poll(&fd, 1, 50);
      while (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) {
        const Micros at = now();
        if ((event->response_type & 0x7F) == XCB_MAP_NOTIFY) {
          const QString name = windowName(reinterpret_cast<xcb_map_notify_event_t*>(event)->window);
          if (names.removeOne(name)) last = at;
        }
        std::free(event);
      }
      if (xcb_connection_has_error(connection_)) return std::nullopt;
    }
    return names.isEmpty() ? last : std::nullopt;
  }

  // Forgets what has happened so far.
  void drain() {
    while (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) std::free(event);
  }

 private:
  QString windowName(xcb_window_t window) {
    const xcb_get_property_cookie_t cookie =
        xcb_get_property(connection_, 0, window, XCB_ATOM_WM_NAME, XCB_GET_PROPERTY_TYPE_ANY, 0, 256);
    xcb_get_property_reply_t* reply = xcb_get_property_reply(connection_, cookie, nullptr);
    if (!reply) return {};
    const QString name = QString::fromUtf8(static_cast<const char*>(xcb_get_property_value(reply)),
                                           xcb_get_property_value_length(reply));
    std::free(reply);
    return name;
  }

  xcb_connection_t* connection_;
};

struct StartUp {
  std::vector<double> seconds;
  QString skipped;
};

StartUp measureStartUp(int tries) {
  StartUp result;
  const QString xvfb = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
  if (xvfb.isEmpty()) {
    result.skipped = QStringLiteral("Xvfb is not installed (./bench.sh installs it)");
    return result;
  }
  int display = 90 + int(::getpid() % 100);
  while (QFile::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(display))) ++display;
  const QString displayName = QStringLiteral(":%1").arg(display);
  QProcess server;
  server.start(xvfb, {displayName, "-nolisten", "tcp", "-screen", "0", "1280x1024x24"});
  std::unique_ptr<MapWatcher> watcher;
  for (int i = 0; i < 100 && !(watcher && watcher->connected()); ++i) {
    QThread::msleep(50);
    watcher = std::make_unique<MapWatcher>(displayName.toLocal8Bit());
  }
  if (!watcher->connected()) {
    result.skipped = QStringLiteral("Xvfb did not start");
    return result;
  }
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("DISPLAY"), displayName);
  env.remove(QStringLiteral("QT_QPA_PLATFORM"));
  // One start first that is not counted: it fills the system's font caches.
  for (int i = -1; i < tries; ++i) {
    QProcess app;
    app.setProcessEnvironment(env);
    app.setProcessChannelMode(QProcess::ForwardedChannels);
    watcher->drain();
    const Micros start = now();
    app.start(appPath, {"--demo"});
    const std::optional<Micros> shown = watcher->waitForAll({"Tarvex - Mode 22", "Gauges"}, start + 20s);
    app.terminate();
    if (!app.waitForFinished(5000)) app.kill();
    app.waitForFinished(5000);
    if (!shown) {
      result.skipped = QStringLiteral("the windows did not appear");
      break;
    }
    if (i >= 0) result.seconds.push_back(double((*shown - start).count()) / 1e6);
  }
  watcher.reset();
  server.terminate();
  server.waitForFinished(5000);
  return result;
}

void reportStartUp(int tries) {
  say("\nStart-up of tarvex --demo under Xvfb, process start to both windows mapped (target: under 0.3 s)\n");
  const StartUp startUp = measureStartUp(tries);
  if (!startUp.skipped.isEmpty()) {
    say("  skipped: %s\n", qPrintable(startUp.skipped));
  } else {
    say("  median %.3f s, worst %.3f s over %zu starts\n", percentile(startUp.seconds, 0.5),
        *std::max_element(startUp.seconds.begin(), startUp.seconds.end()), startUp.seconds.size());
  }
}

}  // namespace
}  // namespace tarvex

int main(int argc, char** argv) {
  using namespace tarvex;
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  // The offscreen platform says so on every raise(); the table is easier to read without.
  qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (!message.contains(QLatin1String("does not support raise()")))
      std::fprintf(stderr, "%s%s\n", type == QtDebugMsg ? "" : "qt: ", qPrintable(message));
  });
  QApplication app(argc, argv);
  QCommandLineParser parser;
  parser.setApplicationDescription(
      QStringLiteral("Tarvex against tarvex-sim: speed, CPU, memory, start-up."));
  parser.addHelpOption();
  const QCommandLineOption smokeOption(QStringLiteral("smoke"), QStringLiteral("Every part, briefly."));
  const QCommandLineOption secondsOption(QStringLiteral("seconds"),
                                         QStringLiteral("Length of each rate run."), QStringLiteral("S"),
                                         QStringLiteral("5"));
  const QCommandLineOption longOption(QStringLiteral("exchanges"),
                                      QStringLiteral("Exchanges of the long run (turnaround, memory)."),
                                      QStringLiteral("N"), QStringLiteral("100000"));
  const QCommandLineOption keepOption(QStringLiteral("keep-line-times"),
                                      QStringLiteral("Keep each run's line times from tarvex-sim in DIR."),
                                      QStringLiteral("DIR"));
  const QCommandLineOption onlyOption(QStringLiteral("only"),
                                      QStringLiteral("Only one polling run: scan|drag,BAUD,LATENCY_MS."),
                                      QStringLiteral("RUN"));
  const QCommandLineOption startUpOption(QStringLiteral("start-up"),
                                         QStringLiteral("Only the start-up time."));
  const QCommandLineOption appOption(QStringLiteral("tarvex"),
                                     QStringLiteral("Time the start-up of this tarvex."),
                                     QStringLiteral("PATH"), appPath);
  parser.addOptions(
      {smokeOption, secondsOption, longOption, keepOption, onlyOption, startUpOption, appOption});
  parser.process(app);
  keepDir = parser.value(keepOption);
  appPath = parser.value(appOption);
  if (parser.isSet(startUpOption)) {
    reportStartUp(7);
    return 0;
  }
  const bool smoke = parser.isSet(smokeOption);
  const Micros runLength{qint64((smoke ? 0.3 : parser.value(secondsOption).toDouble()) * 1e6)};
  const long longRun = smoke ? 2000 : parser.value(longOption).toLong();

  if (parser.isSet(onlyOption)) {
    const QStringList f = parser.value(onlyOption).split(',');
    if (f.size() != 3) return 2;
    const RunResult r = runOnce({f[0] == "drag"   ? Poller::kDrag
                                 : f[0] == "bare" ? Poller::kBare
                                                  : Poller::kScan,
                                 f[1].toInt(), f[2].toInt(), runLength});
    say("%ld exchanges, %.1f req/s, %.1f%% of the wire, CPU %.3f ms an exchange (system %.3f), %.1f reads an "
        "exchange\n",
        r.exchanges, r.rate(), 100 * r.wireShare(), 1000 * r.cpuSeconds, 1000 * r.systemSeconds,
        r.readsPerExchange);
    say("turnaround in the program p50 %.3f p99 %.3f ms, at the simulator p50 %.3f p99 %.3f ms\n",
        percentile(r.turnaroundUs, 0.5) / 1000, percentile(r.turnaroundUs, 0.99) / 1000,
        percentile(r.simTurnaroundUs, 0.5) / 1000, percentile(r.simTurnaroundUs, 0.99) / 1000);
    say("beyond the wire, per exchange (medians): simulator late %.3f ms, its prompt to the next request "
        "%.3f ms, of which in the program %.3f ms\n",
        percentile(r.simLateUs, 0.5) / 1000, percentile(r.simTurnaroundUs, 0.5) / 1000,
        percentile(r.turnaroundUs, 0.5) / 1000);
    warnAbout(r);
    return 0;
  }

  say("Tarvex against tarvex-sim%s; load average before: %s\n", smoke ? " (smoke: figures mean nothing)" : "",
      qPrintable(loadAverage()));

  say("\nWire limit, requests/s (8N1: 10 bits a character; the adapter echoes as characters come in)\n");
  say("  %-19s %-9s %4s %5s %9s %9s %9s %9s\n", "exchange", "request", "out", "back", "critical", "9600",
      "38400", "115200");
  for (const ExchangeKind& k : kKinds) {
    say("  %-19s %-9s %4d %5d %9d", k.name, k.request, toAdapter(k), fromAdapter(k), criticalPath(k));
    for (int baud : kBauds) say(" %9.1f", 1 / (criticalPath(k) * charSeconds(baud)));
    say("\n");
  }

  say("\nPolling, zero-latency adapter (target: scan and drag strip at least 98%% of the wire limit)\n");
  say("  %-19s %7s %8s %8s %7s | beyond the wire, medians: %s\n", "poller", "baud", "req/s", "limit", "of it",
      "simulator late, its prompt to the next request, in the program");
  std::vector<RunResult> runs;
  for (Poller poller : {Poller::kScan, Poller::kDrag, Poller::kBare}) {
    for (int baud : kBauds) {
      RunResult r = runOnce({poller, baud, 0, runLength});
      say("  %-19s %7d %8.1f %8.1f %6.1f%% | %.3f ms, %.3f ms, %.3f ms\n", pollerName(poller), baud, r.rate(),
          r.wireLimitRate(), 100 * r.wireShare(), percentile(r.simLateUs, 0.5) / 1000,
          percentile(r.simTurnaroundUs, 0.5) / 1000, percentile(r.turnaroundUs, 0.5) / 1000);
      warnAbout(r);
      runs.push_back(std::move(r));
    }
  }

  say("\nPolling, the car answering in 20 ms, and in 10 ms (before these changes: 91 req/s unpaced at 10 "
      "ms)\n");
  say("  %-19s %7s %7s %8s %11s %7s %14s %7s\n", "poller", "baud", "latency", "req/s", "wire limit", "of it",
      "wire+latency", "of it");
  for (const auto& [latency, bauds] :
       {std::pair{20, std::vector<int>{9600, 38400, 115200}}, std::pair{10, std::vector<int>{0, 9600}}}) {
    for (Poller poller : {Poller::kScan, Poller::kDrag}) {
      for (int baud : bauds) {
        const RunResult r = runOnce({poller, baud, latency, runLength});
        say("  %-19s %7s %4d ms %8.1f %11s %7s %14.1f %6.1f%%\n", pollerName(poller),
            qPrintable(baudName(baud)), latency, r.rate(),
            baud ? qPrintable(QString::number(r.wireLimitRate(), 'f', 1)) : "-",
            baud ? qPrintable(QStringLiteral("%1%").arg(100 * r.wireShare(), 0, 'f', 1)) : "-",
            r.latencyLimitRate(), 100 * r.rate() / std::max(1e-9, r.latencyLimitRate()));
        warnAbout(r);
      }
    }
  }

  say("\nLong runs: unpaced line, zero latency, replies arriving whole\n");
  say("  Turnaround, reply's last character in to next request out (target: in the program median under "
      "0.1 ms, 99th percentile under 0.5 ms)\n");
  say("  %-19s %9s %9s %12s %12s %12s %12s\n", "poller", "exchanges", "req/s", "program p50", "program p99",
      "at sim p50", "at sim p99");
  std::vector<RunResult> longRuns;
  for (Poller poller : {Poller::kScan, Poller::kDrag, Poller::kBare}) {
    const long first = smoke ? 200 : 1000;
    RunResult r = runOnce({poller, 0, 0, 600s, longRun, {first, longRun}});
    say("  %-19s %9ld %9.1f %9.3f ms %9.3f ms %9.3f ms %9.3f ms\n", pollerName(poller), r.exchanges, r.rate(),
        percentile(r.turnaroundUs, 0.5) / 1000, percentile(r.turnaroundUs, 0.99) / 1000,
        percentile(r.simTurnaroundUs, 0.5) / 1000, percentile(r.simTurnaroundUs, 0.99) / 1000);
    warnAbout(r);
    longRuns.push_back(std::move(r));
  }

  say("\nCPU seconds per 1,000 exchanges (target: under 0.05 whole, under 0.15 a character at a time)\n");
  say("  %-19s %22s %34s\n", "poller", "whole replies (system)", "char by char, 9600 baud (system)");
  for (const RunResult& l : longRuns) {
    for (const RunResult& r : runs) {
      if (r.plan.poller == l.plan.poller && r.plan.baud == 9600)
        say("  %-19s %13.4f (%.4f) %13.4f (%.4f), %4.1f reads an exchange\n", pollerName(l.plan.poller),
            l.cpuSeconds * 1000, l.systemSeconds * 1000, r.cpuSeconds * 1000, r.systemSeconds * 1000,
            r.readsPerExchange);
    }
  }

  say("\nResident memory (target: within 1 MiB from 1,000 to 100,000 exchanges)\n");
  for (const RunResult& r : longRuns) {
    say("  %-19s", pollerName(r.plan.poller));
    for (const auto& [n, mib] : r.residentAt) say("  after %ld: %.2f MiB", n, mib);
    if (r.residentAt.size() == 2) say("  growth: %.3f MiB", r.residentAt[1].second - r.residentAt[0].second);
    say("\n");
  }

  reportStartUp(smoke ? 1 : 7);
  say("\nload average after: %s\n", qPrintable(loadAverage()));
  return 0;
}
