#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <QApplication>
#include <QCommandLineParser>
#include <QFileInfo>
#include <QPointer>
#include <QSettings>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>

#include "app/headless_log.h"
#include "app/main_window.h"
#include "codes/command_line.h"
#include "link/line_speed.h"
#include "link/port_address.h"
#include "link/qt_serial_port.h"
#include "link/remembered_line.h"
#include "sim/sim_adapter.h"
#include "sim/sim_port.h"
#include "sim/vehicle.h"
#include "ui/file_dialog.h"
#include "ui/port_chooser.h"

namespace {

// One line per device, for a user looking for the adapter.
void listPorts() {
  const QList<tarvex::SerialDeviceInfo> devices = tarvex::serialDevices();
  if (devices.isEmpty()) {
    std::puts(
        "No serial ports found. Plug the adapter in (or bind its Bluetooth serial device) and look again.");
    return;
  }
  for (const tarvex::SerialDeviceInfo& d : devices) {
    QStringList about;
    if (!d.description.isEmpty()) about << d.description;
    if (!d.manufacturer.isEmpty()) about << d.manufacturer;
    if (d.vendorId && d.productId) {
      about << QStringLiteral("USB %1:%2")
                   .arg(*d.vendorId, 4, 16, QLatin1Char('0'))
                   .arg(*d.productId, 4, 16, QLatin1Char('0'));
    }
    about << (d.busy ? QStringLiteral("busy") : QStringLiteral("free"));
    std::printf("%s\t%s\n", qPrintable(d.device), qPrintable(about.join(QStringLiteral(", "))));
  }
}

// A file-size limit (ulimit -f) raises SIGXFSZ on the first write past it,
// which would end the program in the middle of a log line. Ignored, the write
// fails with EFBIG instead and the log stops on its last whole line, as on a
// full disk.
void ignoreFileSizeSignal() {
  std::signal(SIGXFSZ, SIG_IGN);
}

// SIGTERM, SIGINT and SIGHUP end the program the way closing its windows does:
// the port is closed (its lock file removed) and the log closed on a whole
// line. The handler only writes the signal to a pipe; the event loop reads it.
int quitPipe[2] = {-1, -1};

extern "C" void onQuitSignal(int caught) {
  const int saved = errno;
  const char number = static_cast<char>(caught);
  [[maybe_unused]] const ssize_t written = ::write(quitPipe[1], &number, 1);
  errno = saved;
}

bool catchQuitSignals() {
  if (::pipe2(quitPipe, O_CLOEXEC | O_NONBLOCK) != 0) return false;
  struct sigaction action {};
  action.sa_handler = onQuitSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (const int quitSignal : {SIGTERM, SIGINT, SIGHUP}) {
    struct sigaction before {};
    ::sigaction(quitSignal, nullptr, &before);
    if (before.sa_handler == SIG_IGN) continue;  // started under nohup: it stays ignored
    ::sigaction(quitSignal, &action, nullptr);
  }
  return true;
}

// The device and speed on which the adapter last answered, unless --port or
// --baud say otherwise; whatever answers in this run is kept for the next.
// Nothing, and the reason on stderr, when that port cannot be used.
std::unique_ptr<tarvex::PortFactory> devicePorts(const std::optional<QString>& port,
                                                 const std::optional<qint32>& baud,
                                                 tarvex::RememberedLine& remembered, tarvex::Clock& clock) {
  QString refusal;
  std::unique_ptr<tarvex::PortFactory> ports =
      tarvex::makePortFactory(port, baud, remembered, clock, refusal);
  if (!ports) std::fprintf(stderr, "tarvex: %s\n", qPrintable(refusal));
  return ports;
}

// The adapter every window (or the log without one) talks to: the built-in
// simulated car, or the device.
struct Adapter {
  std::unique_ptr<tarvex::sim::Vehicle> vehicle;
  std::unique_ptr<tarvex::sim::SimAdapter> simulated;
  std::unique_ptr<tarvex::PortFactory> ports;
};

Adapter makeAdapter(bool demo, tarvex::sim::Car car, const std::optional<QString>& port,
                    const std::optional<qint32>& baud, tarvex::Clock& clock,
                    tarvex::RememberedLine& remembered) {
  Adapter a;
  if (demo) {
    a.vehicle = std::make_unique<tarvex::sim::Vehicle>(tarvex::sim::VehicleConfig{.car = car});
    a.simulated = std::make_unique<tarvex::sim::SimAdapter>(*a.vehicle, clock.now());
    a.ports = std::make_unique<tarvex::sim::SimPortFactory>(clock, *a.simulated);
  } else {
    a.ports = devicePorts(port, baud, remembered, clock);
  }
  return a;
}

// Lets the event loop see the quit signals, and runs `onQuit` when one came.
std::unique_ptr<QSocketNotifier> watchQuitSignals(std::function<void()> onQuit) {
  auto notifier = std::make_unique<QSocketNotifier>(quitPipe[0], QSocketNotifier::Read);
  QObject::connect(notifier.get(), &QSocketNotifier::activated, [onQuit = std::move(onQuit)] {
    char drained[16];
    while (::read(quitPipe[0], drained, sizeof drained) > 0) {
    }
    onQuit();
  });
  return notifier;
}

// What the log without a window prints: on a terminal, one line of progress
// rewritten in place, cut to the terminal's width; errors on lines of their own.
class Console {
 public:
  Console() : terminal_(::isatty(STDOUT_FILENO) == 1) {}
  bool terminal() const { return terminal_; }
  void error(const QString& line) {
    endLine();
    std::fprintf(stderr, "%s\n", qPrintable(line));
    std::fflush(stderr);
  }
  void progress(const QString& text) {
    if (text.isEmpty()) return endLine();
    winsize size{};
    const int columns = ::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 1 ? size.ws_col : 80;
    std::printf("\r%s\x1b[K", qPrintable(text.left(columns - 1)));
    std::fflush(stdout);
    open_ = true;
  }

 private:
  void endLine() {
    if (!open_) return;
    std::fputs("\n", stdout);
    std::fflush(stdout);
    open_ = false;
  }
  bool terminal_;
  bool open_ = false;
};

}  // namespace

int main(int argc, char** argv) {
  ignoreFileSizeSignal();
  QCoreApplication::setApplicationName(QStringLiteral("tarvex"));
  QCoreApplication::setApplicationVersion(QStringLiteral(TARVEX_VERSION));

  // The options are read before the window system is touched, so --help,
  // --version and --list-ports work without a display.
  QStringList arguments;
  for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
  QCommandLineParser parser;
  parser.setApplicationDescription(QStringLiteral(
      "Tarvex: scans the enhanced parameters of a GM engine controller through an ELM327 adapter."));
  const QCommandLineOption helpOption({QStringLiteral("h"), QStringLiteral("help")},
                                      QStringLiteral("Displays help on command line options."));
  const QCommandLineOption versionOption({QStringLiteral("v"), QStringLiteral("version")},
                                         QStringLiteral("Displays the version and exits."));
  const QCommandLineOption portOption(
      QStringLiteral("port"),
      QStringLiteral("Serial device of the adapter, or tcp://HOST:PORT for a Wi-Fi adapter (default: %1, or "
                     "the one that last answered).")
          .arg(tarvex::defaultPortName()),
      QStringLiteral("DEVICE"), tarvex::defaultPortName());
  const QCommandLineOption baudOption(
      QStringLiteral("baud"),
      QStringLiteral("Line speed: %1, or auto to find the adapter's speed when a window first opens the port "
                     "(default: %2, or the speed that last answered on that device).")
          .arg(tarvex::baudRatesText())
          .arg(tarvex::kDefaultBaud),
      QStringLiteral("N|auto"), QString::number(tarvex::kDefaultBaud));
  const QCommandLineOption demoOption(
      QStringLiteral("demo"),
      QStringLiteral("Use the built-in simulated adapter and car instead of a device (default: off)."));
  const QCommandLineOption carOption(
      QStringLiteral("car"),
      QStringLiteral("With --demo: the simulated car, vpw (a GM engine controller on J1850 VPW) or can (an "
                     "engine and a transmission controller on ISO 15765-4 CAN) (default: vpw)."),
      QStringLiteral("vpw|can"), QStringLiteral("vpw"));
  const QCommandLineOption replayOption(
      QStringLiteral("replay"),
      QStringLiteral("Plays a log Tarvex wrote back through its windows instead of a car: the boxes, the "
                     "gauges and the charts show the recorded drive; no port is opened (default: off)."),
      QStringLiteral("FILE"));
  const QCommandLineOption listOption(
      QStringLiteral("list-ports"),
      QStringLiteral("Lists the serial ports of this computer and exits (default: off)."));
  const QCommandLineOption logOption(
      QStringLiteral("log"),
      QStringLiteral("Logs without a window or a display: scans and writes a CSV line a round to FILE, the "
                     "same lines as the main window's log, until SIGINT or SIGTERM (or --rounds lines). "
                     "Prints progress on a terminal, nothing but errors otherwise (default: off)."),
      QStringLiteral("FILE"));
  const QCommandLineOption roundsOption(
      QStringLiteral("rounds"),
      QStringLiteral("With --log: ends after N log lines (default: runs until stopped)."),
      QStringLiteral("N"));
  const QCommandLineOption paramsOption(
      QStringLiteral("params"),
      QStringLiteral("With --log: the log columns to scan, separated by commas, e.g. RPM,Speed,MAF "
                     "(default: those the main window starts with)."),
      QStringLiteral("LIST"));
  parser.addOptions({helpOption, versionOption, portOption, baudOption, demoOption, carOption, replayOption,
                     listOption, logOption, roundsOption, paramsOption});
  const tarvex::CodesOptions codesOptions(parser);  // --codes, --vin, --clear-codes, --yes
  const QString help =
      parser.helpText().replace(QStringLiteral("<executable_name>"), QStringLiteral("tarvex"));
  if (!parser.parse(arguments)) {
    std::fprintf(stderr, "%s\n\n%s", qPrintable(parser.errorText()), qPrintable(help));
    return 2;
  }
  if (parser.isSet(helpOption)) {
    std::fputs(qPrintable(help), stdout);
    return 0;
  }
  if (parser.isSet(versionOption)) {
    std::printf("tarvex %s\n", TARVEX_VERSION);
    return 0;
  }
  if (!parser.positionalArguments().isEmpty()) {
    std::fprintf(stderr, "Unexpected argument: %s\n\n%s", qPrintable(parser.positionalArguments().first()),
                 qPrintable(help));
    return 2;
  }
  const std::optional<qint32> baud = tarvex::parseBaud(parser.value(baudOption));
  if (!baud) {
    std::fprintf(stderr, "tarvex: --baud %s is no line speed Tarvex can use; use %s, or auto.\n",
                 qPrintable(parser.value(baudOption)), qPrintable(tarvex::baudRatesText()));
    return 2;
  }
  if (parser.isSet(portOption)) {
    if (const std::optional<QString> refusal =
            tarvex::portRefusal(parser.value(portOption), parser.isSet(baudOption))) {
      std::fprintf(stderr, "tarvex: %s\n", qPrintable(*refusal));
      return 2;
    }
  }
  if (parser.isSet(listOption)) {
    listPorts();
    return 0;
  }
  // --codes, --vin and --clear-codes: plain text, no window and no display.
  if (const std::optional<tarvex::CodesCommand> command = codesOptions.command()) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Tarvex"));
    QSettings settings;
    tarvex::RememberedLine remembered(settings);
    tarvex::SystemClock clock;
    const std::unique_ptr<tarvex::PortFactory> ports =
        devicePorts(parser.isSet(portOption) ? std::optional(parser.value(portOption)) : std::nullopt,
                    parser.isSet(baudOption) ? baud : std::nullopt, remembered, clock);
    if (!ports) return 2;
    return tarvex::runCodesCommand(*command, *ports, clock, codesOptions.yes());
  }
  const QString carName = parser.value(carOption);
  if (carName != QStringLiteral("vpw") && carName != QStringLiteral("can")) {
    std::fprintf(stderr, "tarvex: --car %s is no simulated car; give vpw or can.\n", qPrintable(carName));
    return 2;
  }
  const tarvex::sim::Car car =
      carName == QStringLiteral("can") ? tarvex::sim::Car::Can : tarvex::sim::Car::GmVpw;
  const bool headless = parser.isSet(logOption);
  for (const QCommandLineOption* withLog : {&roundsOption, &paramsOption}) {
    if (!headless && parser.isSet(*withLog)) {
      std::fprintf(stderr, "tarvex: --%s goes with --log FILE.\n", qPrintable(withLog->names().first()));
      return 2;
    }
  }
  std::optional<qint64> rounds;
  if (parser.isSet(roundsOption)) {
    bool ok = false;
    rounds = parser.value(roundsOption).toLongLong(&ok);
    if (!ok || *rounds < 1) {
      std::fprintf(stderr, "tarvex: --rounds %s is no number of lines; give a whole number from 1 up.\n",
                   qPrintable(parser.value(roundsOption)));
      return 2;
    }
  }
  const tarvex::ParamChoice params = tarvex::parseParams(parser.value(paramsOption));
  if (!params.error.isEmpty()) {
    std::fprintf(stderr, "tarvex: --params: %s\n", qPrintable(params.error));
    return 2;
  }
  if (headless && parser.value(logOption).isEmpty()) {
    std::fputs("tarvex: --log needs the name of the file to write.\n", stderr);
    return 2;
  }

  // A log that is not there is told before any window (or display) is needed.
  if (parser.isSet(replayOption) && !QFileInfo(parser.value(replayOption)).isReadable()) {
    std::fprintf(
        stderr, "tarvex: cannot open %s for replay: %s\n", qPrintable(parser.value(replayOption)),
        QFileInfo::exists(parser.value(replayOption)) ? "it cannot be read" : "there is no such file");
    return 2;
  }
  const bool quitSignalsCaught = catchQuitSignals();
  // Without a window no display is needed, nor touched.
  std::unique_ptr<QCoreApplication> app =
      headless ? std::make_unique<QCoreApplication>(argc, argv) : std::make_unique<QApplication>(argc, argv);

  QCoreApplication::setOrganizationName(QStringLiteral("Tarvex"));
  QSettings settings;
  tarvex::RememberedLine remembered(settings);

  tarvex::SystemClock clock;
  Adapter adapter =
      makeAdapter(parser.isSet(demoOption), car,
                  parser.isSet(portOption) ? std::optional(parser.value(portOption)) : std::nullopt,
                  parser.isSet(baudOption) ? baud : std::nullopt, clock, remembered);
  if (!adapter.ports) return 2;  // told by devicePorts

  if (headless) {
    Console console;
    // What the port has to tell (the line speed found) is no error: only a terminal hears it.
    if (console.terminal()) {
      adapter.ports->setNotice(
          [&console](const QString& text) { console.error(QStringLiteral("tarvex: ") + text); });
    }
    tarvex::HeadlessLog logger(*adapter.ports, clock,
                               {parser.value(logOption), rounds, params.boxes, console.terminal()},
                               {[&console](const QString& line) { console.error(line); },
                                [&console](const QString& text) { console.progress(text); }});
    QObject::connect(&logger, &tarvex::HeadlessLog::finished,
                     [](int status) { QCoreApplication::exit(status); });
    std::unique_ptr<QSocketNotifier> quitNotifier;
    if (quitSignalsCaught) quitNotifier = watchQuitSignals([&logger] { logger.finish(); });
    if (!logger.start()) return 1;
    const int status = QCoreApplication::exec();
    adapter.ports->setNotice({});
    return status;
  }

  std::unique_ptr<QSocketNotifier> quitNotifier;
  if (quitSignalsCaught) {
    quitNotifier = watchQuitSignals([] {
      QApplication::closeAllWindows();
      QApplication::quit();
    });
  }
  tarvex::PortFactory* ports = adapter.ports.get();

  tarvex::QtFileDialog fileDialog;
  tarvex::QtPortChooser portChooser([] {
    QStringList busy;
    for (const tarvex::SerialDeviceInfo& d : tarvex::serialDevices())
      if (d.busy) busy << d.device;
    return busy;
  });
  tarvex::WindowRegistry windows(*ports, clock, fileDialog, {}, &portChooser);
  QPointer<tarvex::Tarvex> mainWindow = new tarvex::Tarvex(windows);
  mainWindow->setAttribute(Qt::WA_DeleteOnClose);
  if (parser.isSet(replayOption)) {
    if (const std::optional<QString> refused = mainWindow->openReplay(parser.value(replayOption))) {
      std::fprintf(stderr, "tarvex: %s\n", qPrintable(*refused));
      delete mainWindow.data();
      return 2;
    }
  }
  mainWindow->show();
  const int status = QCoreApplication::exec();
  // A closed window's deletion may still be pending when the loop ends; its
  // port and log are closed on the way out all the same.
  delete mainWindow.data();
  return status;
}
