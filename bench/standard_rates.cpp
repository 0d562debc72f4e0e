// Standard-data requests and parameters a second at 38400 baud, one parameter
// a request against up to six, beside the wire limit (the bytes of one
// exchange, 10 bits each, at 38400 baud).
//
// First against a scripted car: an ELM327 on ISO 15765-4 CAN (11-bit,
// headers on) with an engine controller that supports twelve parameters and
// answers once the exchange's bytes have crossed the line (no time inside the
// adapter or the car), so the figures are the line's and the poll's own. Then
// against the simulated CAN car (tarvex-sim --car can: engine and
// transmission, the adapter's own work and the car's 10-40 ms latency, the
// line paced at 38400 baud), on simulated time. --smoke runs briefly.
#include <QCoreApplication>
#include <cstdio>
#include <cstring>

#include "obd/pids.h"
#include "sim/sim_port.h"
#include "standard/standard_poller.h"
#include "tests/support/drag_ports.h"
#include "tests/support/fake_clock.h"
#include "tests/support/route.h"

namespace tarvex {
namespace {

using namespace std::chrono_literals;
constexpr double kBaud = 38400;

QByteArray frame(QByteArray line, const std::vector<int>& data, std::size_t from, std::size_t count) {
  for (std::size_t i = from; i < from + count; ++i)
    line += ' ' + QByteArray::number(i < data.size() ? data[i] : 0, 16).rightJustified(2, '0').toUpper();
  return line;
}

// 11-bit CAN with headers, as the adapter prints single and multi-frame answers.
QByteArray engine(const std::vector<int>& data) {
  if (data.size() <= 7)
    return frame("7E8 0" + QByteArray::number(qsizetype(data.size())), data, 0, data.size());
  QByteArray text =
      frame("7E8 10 " + QByteArray::number(qsizetype(data.size()), 16).rightJustified(2, '0').toUpper(), data,
            0, 6);
  for (std::size_t at = 6, n = 1; at < data.size(); at += 7, ++n)
    text += "\r" + frame("7E8 2" + QByteArray::number(qsizetype(n % 16), 16).toUpper(), data, at, 7);
  return text;
}

QByteArray answer(QByteArray request, bool manyPerRequest) {
  if (request == "ATDPN") return "A6";
  if (request == "ATZ") return "ELM327 v2.1";
  if (request.startsWith("AT")) return "OK";
  if (request.size() % 2) request.chop(1);                                     // the count digit
  if (request == "0100") return engine({0x41, 0x00, 0x1E, 0x3F, 0x80, 0x03});  // 04-07 0B-11 1F, more
  if (request == "0120") return engine({0x41, 0x20, 0x00, 0x00, 0x00, 0x00});
  if (!request.startsWith("01") || request.size() < 4 || request == "0101") return "NO DATA";
  const int count = int(request.size() - 2) / 2;
  if (count > 1 && !manyPerRequest) return "NO DATA";  // a car that takes one a request
  std::vector<int> data{0x41};
  for (int i = 0; i < count; ++i) {
    const int pid = request.mid(2 + 2 * i, 2).toInt(nullptr, 16);
    data.push_back(pid);
    for (int b = 0; b < obd::findPid(pid)->bytes; ++b) data.push_back(0x40 + b);
  }
  return engine(data);
}

struct Figures {
  double requests = 0, parameters = 0, wireRequests = 0, wireParameters = 0;
};

Figures run(bool manyPerRequest, Millis polled) {
  testing::FakeSerialPort device;
  testing::FakeClock clock;
  testing::ProxyPort port{device};
  std::unique_ptr<Timer> timer = clock.createTimer();
  Readings readings;
  AdapterTraits traits;
  StandardPoller poller{port, *timer, clock, traits, readings};
  testing::route(port, *timer, poller.session());
  [[maybe_unused]] const Status started = poller.start();
  double wireSeconds = 0, wireParameters = 0;
  int exchanges = 0;
  Micros pollFrom{-1};
  while (pollFrom < Micros{0} || clock.now() - pollFrom < polled) {
    QByteArray request = device.writes().back();
    request.chop(1);
    const QByteArray reply = request + "\r" + answer(request, manyPerRequest) + "\r\r>";
    // The request and its reply, one after the other on the line.
    const double seconds = double(request.size() + 1 + reply.size()) * 10 / kBaud;
    clock.advance(Micros(qint64(seconds * 1e6)));
    const qsizetype before = device.writes().size();
    device.receive(reply);
    if (device.writes().size() == before) clock.advance(20ms);
    if (poller.stage() == StandardStage::kPolling) {
      if (pollFrom < Micros{0}) {
        pollFrom = clock.now();
        continue;
      }
      wireSeconds += seconds;
      wireParameters += request.startsWith("01") ? double(request.size() - 2) / 2 : 0;
      ++exchanges;
    }
  }
  const PollRates r = poller.rates();
  return {r.requestsPerSecond, r.parametersPerSecond, exchanges / wireSeconds, wireParameters / wireSeconds};
}

// The simulated CAN car, its line at 38400 baud, on simulated time.
PollRates runSim(int mostPerRequest, Millis polled) {
  testing::FakeClock clock;
  sim::Vehicle car(sim::VehicleConfig{.car = sim::Car::Can});
  sim::SimAdapterConfig config;
  config.timing.baud = int(kBaud);
  sim::SimAdapter adapter(car, clock.now(), config);
  sim::SimPortFactory ports(clock, adapter);
  const std::unique_ptr<SerialPort> port = ports.createPort({QStringLiteral("the benchmark"), true});
  std::unique_ptr<Timer> timer = clock.createTimer();
  Readings readings;
  StandardPoller poller{*port, *timer, clock, ports.traits(), readings};
  poller.setMostPerRequest(mostPerRequest);
  testing::route(*port, *timer, poller.session());
  [[maybe_unused]] const Status started = poller.start();
  for (int i = 0; i < 600 && poller.stage() != StandardStage::kPolling; ++i) clock.advance(100ms);
  clock.advance(polled);
  return poller.rates();
}

}  // namespace
}  // namespace tarvex

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const bool smoke = argc > 1 && std::strcmp(argv[1], "--smoke") == 0;
  const tarvex::Millis polled = smoke ? tarvex::Millis(2000) : tarvex::Millis(10000);
  std::printf("Standard data at 38400 baud, scripted CAN car (12 parameters), %lld s polled\n",
              static_cast<long long>(polled.count() / 1000));
  std::printf("%-22s %12s %14s %16s %18s\n", "mode", "requests/s", "parameters/s", "wire requests/s",
              "wire parameters/s");
  for (bool many : {false, true}) {
    const tarvex::Figures f = tarvex::run(many, polled);
    std::printf("%-22s %12.1f %14.1f %16.1f %18.1f\n", many ? "up to six a request" : "one a request",
                f.requests, f.parameters, f.wireRequests, f.wireParameters);
  }
  std::printf("\nStandard data at 38400 baud, the simulated CAN car (tarvex-sim --car can), %lld s polled\n",
              static_cast<long long>(polled.count() / 1000));
  std::printf("%-22s %12s %14s\n", "mode", "requests/s", "parameters/s");
  for (int most : {1, 6}) {
    const tarvex::PollRates r = tarvex::runSim(most, polled);
    std::printf("%-22s %12.1f %14.1f\n", most == 1 ? "one a request" : "up to six a request",
                r.requestsPerSecond, r.parametersPerSecond);
  }
  return 0;
}
