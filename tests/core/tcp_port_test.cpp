#include "link/tcp_port.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QSettings>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>

#include "link/line_speed.h"
#include "link/remembered_line.h"
#include "tests/support/fake_clock.h"

namespace tarvex {
namespace {

using testing::FakeClock;

// Runs the event loop until `done` holds, or a deadline far beyond any loopback delay.
bool spinUntil(const std::function<bool()>& done) {
  QTimer deadline;
  deadline.setSingleShot(true);
  deadline.start(10000);
  while (!done() && deadline.isActive()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  return done();
}

struct Adapter {
  Adapter() { EXPECT_TRUE(server.listen(QHostAddress::LocalHost)); }
  TcpAddress address() const { return {QStringLiteral("127.0.0.1"), server.serverPort()}; }
  QTcpSocket* accept() {
    return spinUntil([this] { return server.hasPendingConnections(); }) ? server.nextPendingConnection()
                                                                        : nullptr;
  }
  QTcpServer server;
};

// A port of `ports`, its events and its answer to whenReady heard.
struct Watched {
  explicit Watched(PortFactory& ports) : port(ports.createPort({QStringLiteral("the main window")})) {
    port->setNotify([this](PortEvent e) {
      events.push_back(e);
      if (e == PortEvent::kError) openWhenFailed = port->isOpen();
    });
  }
  bool open() {
    if (!port->open()) return false;
    port->whenReady([this](bool ok) { ready = ok; });
    return true;
  }
  bool waitReady() {
    return spinUntil([this] { return ready.has_value(); });
  }
  std::unique_ptr<SerialPort> port;
  std::vector<PortEvent> events;
  std::optional<bool> ready, openWhenFailed;
};

struct Settings {
  QTemporaryDir dir;
  QSettings settings{dir.filePath(QStringLiteral("tarvex.conf")), QSettings::IniFormat};
  RememberedLine line{settings};
};

// Connected, a tcp:// port carries bytes both ways, says what it waits for, is remembered
// and is the only port of its factory; a drop is told.
TEST(TcpPort, ConnectsAndCarriesBytesBothWays) {
  Adapter adapter;
  FakeClock clock;
  Settings s;
  const QString address = adapter.address().text();
  Result<std::unique_ptr<PortFactory>> made = makePortFactory(address, std::nullopt, s.line, clock);
  ASSERT_TRUE(made);
  QStringList statuses;
  made.value()->setStatus([&statuses](const QString& text) { statuses << text; });
  Watched w(*made.value());
  SerialPort* port = w.port.get();

  ASSERT_TRUE(w.open());
  QTcpSocket* far = adapter.accept();
  ASSERT_TRUE(far && w.waitReady());
  EXPECT_TRUE(*w.ready && port->isOpen() && !port->gettingReady());
  // One port of a factory has the adapter.
  const std::unique_ptr<SerialPort> second =
      made.value()->createPort({QStringLiteral("the trouble-code window")});
  EXPECT_FALSE(second->open());
  EXPECT_EQ(second->errorString(), QStringLiteral("it is in use by the main window"));
  EXPECT_EQ(port->deviceName(), address);
  EXPECT_EQ(statuses,
            QStringList({QStringLiteral("Connecting to the adapter at %1...").arg(address), QString()}));

  ASSERT_TRUE(port->write("ATI\r"));
  QByteArray heard;
  ASSERT_TRUE(spinUntil([&] { return (heard += far->readAll()) == "ATI\r"; })) << heard.toStdString();

  far->write("ATI\rELM327 v1.5\r\r>");
  QByteArray received;
  ASSERT_TRUE(spinUntil([&] {
    if (!w.events.empty()) received += port->readAll();
    return received.endsWith('>');
  }));
  EXPECT_EQ(received, QByteArray("ATI\rELM327 v1.5\r\r>"));
  EXPECT_EQ(std::count(w.events.begin(), w.events.end(), PortEvent::kError), 0);
  EXPECT_EQ(s.line.device(), address);

  // A dropped connection is told once, like a pulled serial adapter, the port already closed.
  w.events.clear();
  far->close();
  ASSERT_TRUE(spinUntil([&w] { return !w.events.empty(); }));
  EXPECT_EQ(w.events, std::vector<PortEvent>{PortEvent::kError});
  EXPECT_EQ(w.openWhenFailed, false);
  EXPECT_EQ(port->errorString(), QStringLiteral("the adapter closed the connection"));
  EXPECT_FALSE(made.value()->isHeld() || port->write("0100\r"));
  EXPECT_TRUE(second->open());
}

// Nothing listens, or a host is still looked up at the time-out (not before): told through whenReady.
TEST(TcpPort, FailedConnectionIsToldThroughWhenReady) {
  TcpAddress address;
  {
    Adapter gone;
    address = gone.address();
  }
  FakeClock clock;
  TcpPortFactory refusing(address, clock), slow({QStringLiteral("localhost"), 35000}, clock);
  Watched r(refusing), s(slow);
  ASSERT_TRUE(r.open() && r.waitReady() && s.open());
  clock.advance(Millis{4999});
  EXPECT_TRUE(s.port->gettingReady());
  clock.advance(Millis{1});
  ASSERT_TRUE(s.waitReady());
  EXPECT_TRUE(r.port->errorString().startsWith(QStringLiteral("cannot connect: Connection refused")))
      << r.port->errorString().toStdString();
  EXPECT_EQ(s.port->errorString(),
            QStringLiteral(
                "cannot connect: no answer within 5 s; is this computer on the adapter's Wi-Fi network?"));
  for (Watched* w : {&r, &s}) EXPECT_TRUE(!*w->ready && !w->port->isOpen() && w->events.empty());
  EXPECT_FALSE(refusing.isHeld() || slow.isHeld());
}

TEST(PortAddress, TcpAddressesAreParsedOrRefusedWithAReason) {
  const std::tuple<const char*, const char*, quint16> parsed[] = {
      {"tcp://192.168.0.10:35000", "192.168.0.10", 35000},
      {"TCP://wifi-obd.local:23", "wifi-obd.local", 23},
      {"tcp://[fe80::1]:35000", "fe80::1", 35000},
      {"tcp://[fe80::1%wlan0]:35000", "fe80::1%wlan0", 35000},  // with the Wi-Fi's interface
      {"tcp://10.0.0.1:65535", "10.0.0.1", 65535},
      {"tcp://192.168.000.010:1", "192.168.0.10", 1},  // decimal, not octal
  };
  for (const auto& [text, host, port] : parsed) {
    const TcpParse p = parseTcpAddress(QString::fromLatin1(text));
    ASSERT_TRUE(p.address) << text << ": " << p.problem.toStdString();
    EXPECT_EQ(std::pair(p.address->host, p.address->port), std::pair(QString::fromLatin1(host), port));
  }
  // Refused, with a part of the reason.
  const std::pair<const char*, const char*> refused[] = {
      {"tcp://192.168.0.10", "port is missing"},     {"tcp://192.168.0.10:", "from 1 to 65535"},
      {"tcp://192.168.0.10:0", "from 1 to 65535"},   {"tcp://192.168.0.10:65536", "from 1 to 65535"},
      {"tcp://192.168.0.10:+35", "from 1 to 65535"}, {"tcp://192.168.0.10:35000/", "from 1 to 65535"},
      {"tcp://:35000", "host is missing"},           {"tcp://192.168.0.256:35000", "no IPv4 address"},
      {"tcp://192.168.0:35000", "no IPv4 address"},  {"tcp://fe80::1:35000", "in brackets"},
      {"tcp://[fe80::1:35000", "closing bracket"},   {"tcp://[adapter]:35000", "no IPv6 address"},
      {"tcp://[::1]35000", "port is missing"},       {"tcp://obd_link:35000", "no host name"},
      {"tcp://-obd:35000", "no host name"},          {"tcp://wifi obd:35000", "no host name"}};
  for (const auto& [text, problem] : refused) {
    const TcpParse p = parseTcpAddress(QString::fromLatin1(text));
    EXPECT_TRUE(!p.address && p.problem.contains(QLatin1String(problem)))
        << text << ": " << p.problem.toStdString();
  }
  EXPECT_EQ((TcpAddress{QStringLiteral("fe80::1"), 35000}.text()), QStringLiteral("tcp://[fe80::1]:35000"));
}

// The port from the command line or the remembered line; a network adapter takes no --baud.
TEST(PortAddress, TheCommandLineOrTheRememberedLineChoosesTheKindOfPort) {
  const std::optional<QString> none;
  // --port, --baud, the remembered port, the device made (none: refused) or a part of the refusal.
  const std::tuple<std::optional<QString>, std::optional<qint32>, const char*, const char*, const char*>
      cases[] = {
          {QStringLiteral("tcp://127.0.0.1:35000"), {}, nullptr, "tcp://127.0.0.1:35000", nullptr},
          {none, {}, "tcp://127.0.0.1:35000", "tcp://127.0.0.1:35000", nullptr},
          {QStringLiteral("/dev/ttyUSB0"), 38400, "tcp://127.0.0.1:35000", "/dev/ttyUSB0", nullptr},
          {QStringLiteral("tcp://127.0.0.1:35000"), 38400, nullptr, nullptr, "--baud is for a serial device"},
          {none, kFindBaud, "tcp://127.0.0.1:35000", nullptr, "--baud is for a serial device"},
          {QStringLiteral("tcp://127.0.0.1"), {}, nullptr, nullptr, "--port tcp://127.0.0.1: the port is"},
      };
  for (const auto& [port, baud, stored, device, problem] : cases) {
    SCOPED_TRACE(port.value_or(QStringLiteral("(none)")).toStdString());
    Settings s;
    if (stored) s.settings.setValue(QStringLiteral("port"), QString::fromLatin1(stored));
    FakeClock clock;
    const Result<std::unique_ptr<PortFactory>> made = makePortFactory(port, baud, s.line, clock);
    if (!device) {
      ASSERT_FALSE(made);
      const QString& refusal = made.failure().reason;
      EXPECT_TRUE(refusal.contains(QLatin1String(problem))) << refusal.toStdString();
      const Status checked = checkPort(port.value_or(QString::fromLatin1(stored)), baud.has_value());
      EXPECT_EQ(checked ? QString() : checked.failure().reason, refusal);
      continue;
    }
    ASSERT_TRUE(made) << made.failure().reason.toStdString();
    const std::unique_ptr<PortFactory>& ports = made.value();
    EXPECT_EQ(ports->deviceName(), QLatin1String(device));
    if (isTcpAddress(ports->deviceName())) {  // opens at once, gets ready while it connects
      std::unique_ptr<SerialPort> opened = ports->createPort({QStringLiteral("the main window")});
      EXPECT_TRUE(opened->open() && opened->gettingReady());
    }
  }
}

}  // namespace
}  // namespace tarvex
