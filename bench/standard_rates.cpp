// Standard data at the adapter's real limit: parameters a second that the
// Standard data poll gets from tarvex-sim's CAN car (engine and transmission,
// 10-40 ms answer latency, the line at 38400 baud) through each adapter
// profile, against the best a client can get from that profile: an ideal
// client that knows the car already and sends the very requests the poll sent
// (the count digit where the adapter takes it), each the moment the last
// prompt came, so that only the line, the controllers' answer time and, where
// the digit is refused, the adapter's listening time remain. Also the time
// from ATZ to the poll's first value. On simulated time; --smoke runs briefly.
#include <QCoreApplication>
#include <cstdio>
#include <cstring>
#include <set>

#include "obd/answer.h"
#include "obd/pids.h"
#include "sim/sim_port.h"
#include "standard/standard_poller.h"
#include "tests/support/fake_clock.h"
#include "tests/support/route.h"

namespace tarvex {
namespace {

using namespace std::chrono_literals;
constexpr int kBaud = 38400;

struct Rig {
  explicit Rig(const QString& profile) : adapter(car, clock.now(), config(profile)), ports(clock, adapter) {}
  static sim::SimAdapterConfig config(const QString& profile) {
    sim::SimAdapterConfig c = sim::SimAdapterConfig::of(*sim::adapterProfile(profile));
    c.timing.baud = kBaud;
    return c;
  }
  testing::FakeClock clock;
  sim::Vehicle car{sim::VehicleConfig{.car = sim::Car::Can}};
  sim::SimAdapter adapter;
  sim::SimPortFactory ports;
};

struct PollFigures {
  double firstValueSeconds = 0;
  double parametersPerSecond = 0;
  QList<QByteArray> requests;  // what the poll sent while measured, in order
};

PollFigures poll(const QString& profile, Millis polled) {
  Rig rig(profile);
  const std::unique_ptr<SerialPort> port = rig.ports.createPort({QStringLiteral("the benchmark"), true});
  std::unique_ptr<Timer> timer = rig.clock.createTimer();
  Readings readings;
  StandardPoller poller{*port, *timer, rig.clock, rig.ports.traits(), readings};
  testing::route(*port, *timer, poller.session());
  const Micros start = rig.clock.now();
  std::optional<Micros> first;
  const int watch = readings.watch([&](const QList<int>&) {
    if (!first) first = rig.clock.now();
  });
  long values = 0;
  poller.handlers().onValue = [&](int) { ++values; };
  if (!poller.start()) return {};
  for (int i = 0; i < 600 && poller.stage() != StandardStage::kPolling; ++i) rig.clock.advance(10ms);
  rig.clock.advance(1s);  // the first rounds, with what is read only once
  PollFigures f;
  rig.adapter.setCommandObserver([&](const QByteArray& line) { f.requests << line; });
  const long before = values;
  rig.clock.advance(polled);
  rig.adapter.setCommandObserver({});
  readings.unwatch(watch);
  f.firstValueSeconds = first ? double((*first - start).count()) / 1e6 : -1;
  f.parametersPerSecond = double(values - before) * 1000.0 / double(polled.count());
  poller.stop();
  return f;
}

// The ideal client: the car's protocol known (no search), each of the poll's
// requests out the moment the last prompt came; the parameters it got a second.
double best(const QString& profile, const QList<QByteArray>& requests) {
  Rig rig(profile);
  const std::unique_ptr<SerialPort> port = rig.ports.createPort({QStringLiteral("the ideal client"), true});
  QByteArray heard;
  port->setNotify([&](PortEvent) { heard += port->readAll(); });
  if (!port->open()) return 0;
  const auto exchange = [&](const QByteArray& line) {
    heard.clear();
    port->write(line + '\r');
    while (!heard.contains('>')) rig.clock.advance(100us);
    return heard;
  };
  for (const char* line : {"ATZ", "ATE1", "ATH1", "ATSP6"}) exchange(line);
  long parameters = 0;
  const Micros from = rig.clock.now();
  for (const QByteArray& request : requests) {
    const QByteArray answer = exchange(request);
    if (!request.startsWith("01")) continue;
    std::vector<int> pids;
    for (qsizetype i = 2; i + 1 < request.size(); i += 2)
      pids.push_back(request.mid(i, 2).toInt(nullptr, 16));
    const obd::Answer read = obd::parseAnswer(QString::fromLatin1(answer), obd::Bus::kCan11, true);
    std::set<int> got;
    for (const obd::PidAnswer& a : obd::parseMulti(pids, read.messages).answers) got.insert(a.pid);
    parameters += long(got.size());
  }
  return double(parameters) * 1e6 / double((rig.clock.now() - from).count());
}

}  // namespace
}  // namespace tarvex

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const bool smoke = argc > 1 && std::strcmp(argv[1], "--smoke") == 0;
  const tarvex::Millis polled = smoke ? tarvex::Millis(2000) : tarvex::Millis(20000);
  std::printf("Standard data, tarvex-sim's CAN car at 38400 baud, %lld s polled\n",
              static_cast<long long>(polled.count() / 1000));
  std::printf("%-10s %16s %14s %14s %8s\n", "adapter", "first value (s)", "parameters/s", "best/s", "share");
  for (const char* profile : {"genuine", "clone"}) {
    const tarvex::PollFigures f = tarvex::poll(QString::fromLatin1(profile), polled);
    const double ideal = tarvex::best(QString::fromLatin1(profile), f.requests);
    std::printf("%-10s %16.2f %14.1f %14.1f %7.0f%%\n", profile, f.firstValueSeconds, f.parametersPerSecond,
                ideal, ideal > 0 ? 100 * f.parametersPerSecond / ideal : 0);
  }
  return 0;
}
