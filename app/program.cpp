#include "app/program.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>

#include "app/preferences.h"
#include "link/port_address.h"
#include "link/qt_serial_port.h"
#include "sim/sim_port.h"

namespace tarvex {

Result<Adapter> makeAdapter(const Options& options, Clock& clock, RememberedLine& remembered) {
  Adapter a;
  if (options.demo) {
    a.vehicle = std::make_unique<sim::Vehicle>(sim::VehicleConfig{.car = options.car});
    a.simulated = std::make_unique<sim::SimAdapter>(*a.vehicle, clock.now(),
                                                    sim::SimAdapterConfig::of(options.adapter));
    a.ports = std::make_unique<sim::SimPortFactory>(clock, *a.simulated);
    return a;
  }
  Result<std::unique_ptr<PortFactory>> ports = makePortFactory(options.port, options.baud, remembered, clock);
  if (!ports) return ports.failure();
  a.ports = std::move(ports.value());
  return a;
}

CarCommand::CarCommand(const Options& options) : adapter(makeAdapter(options, clock, remembered)) {
  Preferences preferences(settings);
  if (options.units) preferences.setUnits(*options.units);
  units = preferences.units();
  if (!adapter) return;
  ports().setNotice([this](const QString& text) { err << "tarvex: " << text << "\n" << Qt::flush; });
  port = ports().createPort(PortUse{QStringLiteral("the command line"), true});
}

bool CarCommand::refused() {
  if (adapter) return false;
  err << "tarvex: " << adapter.failure().reason << "\n" << Qt::flush;
  return true;
}

void listPorts() {
  const QList<SerialDeviceInfo> devices = serialDevices();
  if (devices.isEmpty()) {
    std::puts(
        "No serial ports found. Plug the adapter in (or bind its Bluetooth serial device) and look again.");
    return;
  }
  for (const SerialDeviceInfo& d : devices) {
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

namespace {

int quitPipe[2] = {-1, -1};

extern "C" void onQuit(int caught) {
  const int saved = errno;
  const char number = static_cast<char>(caught);
  [[maybe_unused]] const ssize_t written = ::write(quitPipe[1], &number, 1);
  errno = saved;
}

}  // namespace

void ignoreFileSizeSignal() {
  std::signal(SIGXFSZ, SIG_IGN);
}

std::unique_ptr<QSocketNotifier> onQuitSignal(std::function<void()> quit) {
  if (quitPipe[0] < 0 && ::pipe2(quitPipe, O_CLOEXEC | O_NONBLOCK) != 0) return nullptr;
  struct sigaction action {};
  action.sa_handler = onQuit;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
    struct sigaction before {};
    ::sigaction(signal, nullptr, &before);
    if (before.sa_handler == SIG_IGN) continue;  // started under nohup: it stays ignored
    ::sigaction(signal, &action, nullptr);
  }
  auto notifier = std::make_unique<QSocketNotifier>(quitPipe[0], QSocketNotifier::Read);
  QObject::connect(notifier.get(), &QSocketNotifier::activated, [quit = std::move(quit)] {
    char drained[16];
    while (::read(quitPipe[0], drained, sizeof drained) > 0) {
    }
    quit();
  });
  return notifier;
}

Console::Console() : terminal_(::isatty(STDOUT_FILENO) == 1) {}

void Console::error(const QString& line) {
  endLine();
  std::fprintf(stderr, "%s\n", qPrintable(line));
  std::fflush(stderr);
}

void Console::progress(const QString& text) {
  if (text.isEmpty()) return endLine();
  winsize size{};
  const int columns = ::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 1 ? size.ws_col : 80;
  std::printf("\r%s\x1b[K", qPrintable(text.left(columns - 1)));
  std::fflush(stdout);
  open_ = true;
}

void Console::endLine() {
  if (!open_) return;
  std::fputs("\n", stdout);
  std::fflush(stdout);
  open_ = false;
}

}  // namespace tarvex
