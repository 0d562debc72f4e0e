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

// Runs the event loop until `done` holds, or gives up after a deadline far
// beyond anything on the loopback interface.
bool spinUntil(const std::function<bool()>& done) {
  QTimer deadline;
  deadline.setSingleShot(true);
  deadline.start(10000);
  while (!done() && deadline.isActive()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  return done();
}

// A stand-in for the adapter's TCP server, on an ephemeral loopback port.
struct Adapter {
  Adapter() { EXPECT_TRUE(server.listen(QHostAddress::LocalHost)); }
  TcpAddress address() const { return {QStringLiteral("127.0.0.1"), server.serverPort()}; }
  QTcpSocket* accept() {
    if (!spinUntil([this] { return server.hasPendingConnections(); })) return nullptr;
    return server.nextPendingConnection();
  }
  QTcpServer server;
};

// What a port told: its events, and the answer to whenReady.
struct Watched {
  explicit Watched(SerialPort& watched) : port(watched) {
    port.setNotify([this](PortEvent e) { events.push_back(e); });
  }
  bool open() {
    if (!port.open()) return false;
    port.whenReady([this](bool ok) { ready = ok; });
    return true;
  }
  SerialPort& port;
  std::vector<PortEvent> events;
  std::optional<bool> ready;
};

struct Settings {
  QTemporaryDir dir;
  QSettings settings{dir.filePath(QStringLiteral("tarvex.conf")), QSettings::IniFormat};
  RememberedLine line{settings};
};

// The ports main makes for tcp://: connected, they carry commands out and
// answers in, the status line says what is being waited for, and the address
// is remembered once the adapter gave a whole answer.
TEST(TcpPort, ConnectsAndCarriesBytesBothWays) {
  Adapter adapter;
  FakeClock clock;
  Settings s;
  const QString address = adapter.address().text();
  Result<std::unique_ptr<PortFactory>> made = makePortFactory(address, std::nullopt, s.line, clock);
  ASSERT_TRUE(made);
  std::unique_ptr<PortFactory> ports = std::move(made.value());
  QStringList statuses;
  ports->setStatus([&statuses](const QString& text) { statuses << text; });
  std::unique_ptr<SerialPort> port = ports->createPort({QStringLiteral("the main window")});
  Watched w(*port);

  ASSERT_TRUE(w.open());
  QTcpSocket* far = adapter.accept();
  ASSERT_TRUE(far);
  ASSERT_TRUE(spinUntil([&w] { return w.ready.has_value(); }));
  EXPECT_TRUE(*w.ready);
  EXPECT_TRUE(port->isOpen());
  EXPECT_FALSE(port->gettingReady());
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
}

// Nothing listens: open() has begun, and the refusal comes through whenReady
// with the system's words; the adapter is free for the next try.
TEST(TcpPort, RefusedConnectionIsToldThroughWhenReady) {
  TcpAddress address;
  {
    Adapter gone;
    address = gone.address();
  }
  FakeClock clock;
  TcpPortFactory ports(address, clock);
  std::unique_ptr<SerialPort> port = ports.createPort({QStringLiteral("the main window")});
  Watched w(*port);
  ASSERT_TRUE(w.open());
  ASSERT_TRUE(spinUntil([&w] { return w.ready.has_value(); }));
  EXPECT_FALSE(*w.ready);
  EXPECT_TRUE(port->errorString().startsWith(QStringLiteral("cannot connect: Connection refused")))
      << port->errorString().toStdString();
  EXPECT_FALSE(port->isOpen());
  EXPECT_FALSE(ports.isHeld());
  EXPECT_TRUE(w.events.empty());
}

// A host that is still being looked up when the time-out falls due: the port
// gives up then, not before, and says why.
TEST(TcpPort, ConnectionThatTakesTooLongTimesOut) {
  FakeClock clock;
  TcpPortFactory ports({QStringLiteral("localhost"), 35000}, clock);
  std::unique_ptr<SerialPort> port = ports.createPort({QStringLiteral("the main window")});
  Watched w(*port);
  ASSERT_TRUE(w.open());
  clock.advance(Millis{4999});
  EXPECT_TRUE(port->gettingReady());
  clock.advance(Millis{1});
  ASSERT_TRUE(spinUntil([&w] { return w.ready.has_value(); }));
  EXPECT_FALSE(*w.ready);
  EXPECT_EQ(port->errorString(),
            QStringLiteral(
                "cannot connect: no answer within 5 s; is this computer on the adapter's Wi-Fi network?"));
  EXPECT_FALSE(port->isOpen());
  EXPECT_FALSE(ports.isHeld());
}

// The adapter (or the Wi-Fi) drops the connection: told once, like a pulled
// serial adapter, with the port already closed.
TEST(TcpPort, ConnectionClosedByTheAdapterIsAnError) {
  Adapter adapter;
  FakeClock clock;
  TcpPortFactory ports(adapter.address(), clock);
  std::unique_ptr<SerialPort> port = ports.createPort({QStringLiteral("the main window")});
  Watched w(*port);
  std::optional<bool> openWhenTold;
  port->setNotify([&](PortEvent e) {
    w.events.push_back(e);
    if (e == PortEvent::kError) openWhenTold = port->isOpen();
  });
  ASSERT_TRUE(w.open());
  QTcpSocket* far = adapter.accept();
  ASSERT_TRUE(far);
  ASSERT_TRUE(spinUntil([&w] { return w.ready.has_value(); }));
  far->close();
  ASSERT_TRUE(spinUntil([&w] { return !w.events.empty(); }));
  EXPECT_EQ(w.events, std::vector<PortEvent>{PortEvent::kError});
  EXPECT_EQ(openWhenTold, false);
  EXPECT_EQ(port->errorString(), QStringLiteral("the adapter closed the connection"));
  EXPECT_FALSE(ports.isHeld());
  EXPECT_FALSE(port->write("0100\r"));
}

TEST(TcpPort, OnlyOnePortOfAFactoryHasTheAdapter) {
  Adapter adapter;
  FakeClock clock;
  TcpPortFactory ports(adapter.address(), clock);
  std::unique_ptr<SerialPort> first = ports.createPort({QStringLiteral("the main window")});
  std::unique_ptr<SerialPort> second = ports.createPort({QStringLiteral("the trouble-code window")});
  ASSERT_TRUE(first->open());
  EXPECT_TRUE(ports.isHeld());
  EXPECT_FALSE(second->open());
  EXPECT_EQ(second->errorString(), QStringLiteral("it is in use by the main window"));
  first->close();
  EXPECT_FALSE(ports.isHeld());
  EXPECT_TRUE(second->open());
}

TEST(PortAddress, TcpAddressesAreParsedOrRefusedWithAReason) {
  const struct {
    const char* text;
    const char* host;  // nullptr: refused
    quint16 port;
    const char* problem;  // a part of the reason
  } cases[] = {
      {"tcp://192.168.0.10:35000", "192.168.0.10", 35000, nullptr},
      {"TCP://wifi-obd.local:23", "wifi-obd.local", 23, nullptr},
      {"tcp://[fe80::1]:35000", "fe80::1", 35000, nullptr},
      {"tcp://[fe80::1%wlan0]:35000", "fe80::1%wlan0", 35000, nullptr},  // with the Wi-Fi's interface
      {"tcp://10.0.0.1:65535", "10.0.0.1", 65535, nullptr},
      {"tcp://192.168.000.010:1", "192.168.0.10", 1, nullptr},  // decimal, not octal
      {"tcp://192.168.0.10", nullptr, 0, "port is missing"},
      {"tcp://192.168.0.10:", nullptr, 0, "from 1 to 65535"},
      {"tcp://192.168.0.10:0", nullptr, 0, "from 1 to 65535"},
      {"tcp://192.168.0.10:65536", nullptr, 0, "from 1 to 65535"},
      {"tcp://192.168.0.10:+35", nullptr, 0, "from 1 to 65535"},
      {"tcp://192.168.0.10:35000/", nullptr, 0, "from 1 to 65535"},
      {"tcp://:35000", nullptr, 0, "host is missing"},
      {"tcp://192.168.0.256:35000", nullptr, 0, "no IPv4 address"},
      {"tcp://192.168.0:35000", nullptr, 0, "no IPv4 address"},
      {"tcp://fe80::1:35000", nullptr, 0, "in brackets"},
      {"tcp://[fe80::1:35000", nullptr, 0, "closing bracket"},
      {"tcp://[adapter]:35000", nullptr, 0, "no IPv6 address"},
      {"tcp://[::1]35000", nullptr, 0, "port is missing"},
      {"tcp://obd_link:35000", nullptr, 0, "no host name"},
      {"tcp://-obd:35000", nullptr, 0, "no host name"},
      {"tcp://wifi obd:35000", nullptr, 0, "no host name"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const TcpParse parsed = parseTcpAddress(QString::fromLatin1(c.text));
    if (!c.host) {
      EXPECT_FALSE(parsed.address);
      EXPECT_TRUE(parsed.problem.contains(QLatin1String(c.problem))) << parsed.problem.toStdString();
      continue;
    }
    ASSERT_TRUE(parsed.address) << parsed.problem.toStdString();
    EXPECT_EQ(parsed.address->host, QLatin1String(c.host));
    EXPECT_EQ(parsed.address->port, c.port);
  }
  EXPECT_EQ((TcpAddress{QStringLiteral("fe80::1"), 35000}.text()), QStringLiteral("tcp://[fe80::1]:35000"));
}

// Which port a run gets, from the command line or the remembered line; a
// network adapter takes no --baud, whichever way it was named.
TEST(PortAddress, TheCommandLineOrTheRememberedLineChoosesTheKindOfPort) {
  const std::optional<QString> none;
  const struct {
    std::optional<QString> port;
    std::optional<qint32> baud;
    const char* stored;
    const char* device;   // nullptr: refused
    const char* problem;  // a part of the reason
  } cases[] = {
      {QStringLiteral("tcp://127.0.0.1:35000"), {}, nullptr, "tcp://127.0.0.1:35000", nullptr},
      {none, {}, "tcp://127.0.0.1:35000", "tcp://127.0.0.1:35000", nullptr},
      {QStringLiteral("/dev/ttyUSB0"), 38400, "tcp://127.0.0.1:35000", "/dev/ttyUSB0", nullptr},
      {QStringLiteral("tcp://127.0.0.1:35000"), 38400, nullptr, nullptr, "--baud is for a serial device"},
      {none, kFindBaud, "tcp://127.0.0.1:35000", nullptr, "--baud is for a serial device"},
      {QStringLiteral("tcp://127.0.0.1"), {}, nullptr, nullptr, "--port tcp://127.0.0.1: the port is"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.port.value_or(QStringLiteral("(none)")).toStdString());
    Settings s;
    if (c.stored) s.settings.setValue(QStringLiteral("port"), QString::fromLatin1(c.stored));
    FakeClock clock;
    const Result<std::unique_ptr<PortFactory>> made = makePortFactory(c.port, c.baud, s.line, clock);
    if (!c.device) {
      ASSERT_FALSE(made);
      const QString& refusal = made.failure().reason;
      EXPECT_TRUE(refusal.contains(QLatin1String(c.problem))) << refusal.toStdString();
      const Status checked = checkPort(c.port.value_or(QString::fromLatin1(c.stored)), c.baud.has_value());
      EXPECT_EQ(checked ? QString() : checked.failure().reason, refusal);
      continue;
    }
    ASSERT_TRUE(made) << made.failure().reason.toStdString();
    const std::unique_ptr<PortFactory>& ports = made.value();
    EXPECT_EQ(ports->deviceName(), QLatin1String(c.device));
    if (isTcpAddress(ports->deviceName())) {
      // A network port: it opens at once and gets ready while it connects.
      std::unique_ptr<SerialPort> port = ports->createPort({QStringLiteral("the main window")});
      EXPECT_TRUE(port->open() && port->gettingReady());
    }
  }
}

}  // namespace
}  // namespace tarvex
