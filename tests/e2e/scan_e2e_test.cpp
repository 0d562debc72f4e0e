#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <QTimer>
#include <cstdarg>
#include <map>
#include <optional>

#include "core/text.h"
#include "link/qt_serial_port.h"
#include "scan/scan_cycle.h"
#include "tests/support/e2e_rig.h"
#include "tests/support/layout_boxes.h"
#include "tests/support/quick_clock.h"

// A pseudo-terminal keeps no modem lines, parity or driver settings: what the program asks of
// the line is taken on its way, by this executable's tcsetattr and ioctl before the C library's.
namespace {
std::map<int, std::vector<termios>> lineRequested;
std::map<int, bool> dtrRequested;
// When set, the terminal answers as a USB bridge's driver with these flags would.
std::optional<int> serialDriverFlags;
std::vector<int> serialFlagsAsked;
template <typename F>
F next(const char* name) {
  return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}
}  // namespace
extern "C" int tcsetattr(int fd, int action, const termios* tio) {
  lineRequested[fd].push_back(*tio);
  static const auto real = next<int (*)(int, int, const termios*)>("tcsetattr");
  return real(fd, action, tio);
}
extern "C" int ioctl(int fd, unsigned long request, ...) {
  va_list args;
  va_start(args, request);
  void* argument = va_arg(args, void*);
  va_end(args);
  if ((request == TIOCMBIS || request == TIOCMBIC || request == TIOCMSET) && argument) {
    const int lines = *static_cast<const int*>(argument);
    if (request == TIOCMSET) dtrRequested[fd] = lines & TIOCM_DTR;
    if (request != TIOCMSET && (lines & TIOCM_DTR)) dtrRequested[fd] = request == TIOCMBIS;
  }
  if ((request == TIOCGSERIAL || request == TIOCSSERIAL) && serialDriverFlags && argument) {
    auto* serial = static_cast<serial_struct*>(argument);
    if (request == TIOCGSERIAL) {
      *serial = serial_struct{};
      serial->flags = *serialDriverFlags;
    } else {
      serialFlagsAsked.push_back(serial->flags);
      serialDriverFlags = serial->flags;
    }
    return 0;
  }
  static const auto real = next<int (*)(int, unsigned long, void*)>("ioctl");
  return real(fd, request, argument);
}

namespace tarvex {
namespace {

using testing::runEvents;

// tarvex-sim at `baud`, its car standing and driving off at once.
struct Simulator : testing::Simulator {
  explicit Simulator(qint32 baud, const QStringList& more = {})
      : testing::Simulator(
            QStringList{"--baud", QString::number(baud), "--drive-after", "0", "--stand", "1"} + more) {}
};

// A scan as the main window runs one, over tarvex-sim's terminal at 9600 baud.
struct PtyScan {
  explicit PtyScan(const QStringList& simOptions = {}) : sim(9600, simOptions) {
    timer->setCallback([this] { scan.session().onReplyTimeout(); });
    port.setNotify([this](PortEvent event) {
      ++events;
      scan.session().onPortEvent(event);
    });
  }
  testing::QuickClock clock;
  Simulator sim;
  QtSerialPort port{sim.device, PortUse{QStringLiteral("the scan"), true}};
  const std::unique_ptr<Timer> timer = clock.createTimer();
  MemoryBoxes boxes = testing::boxesFromLayout();
  AdapterTraits traits;
  ScanCycle scan{port, *timer, clock, traits, boxes};
  int events = 0;  // port notifications
};

// The set-up goes out from the event loop, which goes on; a stop in the middle ends it.
TEST(ScanOverPty, SetUpLeavesTheEventLoopRunningAndStopsWhereItIsStopped) {
  PtyScan pty;
  int turns = 0;  // what a window would be doing: painting, answering clicks
  QTimer other;
  other.setInterval(5);
  QObject::connect(&other, &QTimer::timeout, [&] { ++turns; });
  other.start();
  ASSERT_TRUE(pty.scan.start(false, QString()));
  EXPECT_EQ(turns, 0);
  runEvents(150);  // half way between the second and the third line
  EXPECT_GT(turns, 5);
  pty.scan.stop();
  runEvents(500);
  EXPECT_EQ(pty.sim.commands(), (QStringList{"ATZ", "ATE1"}));
}

// The adapter pulled on line 100: the scan stops, every ended round logged, no more polling.
TEST(ScanOverPty, AdapterPulledMidScanStopsItWithEveryEndedRoundLogged) {
  PtyScan pty({"--seed", "7", "--vanish-after", "100"});
  QList<Failure> failures;
  pty.scan.setFailureHandler([&](const Failure& failure) { failures << failure; });
  pty.scan.setLocale(QLocale::c());
  ASSERT_TRUE(pty.scan.start(true, pty.sim.log));
  runEvents(30'000, [&] { return !failures.isEmpty(); });
  const int events = pty.events;
  runEvents(300);
  EXPECT_EQ(pty.events, events);  // the failed port is polled no more
  pty.scan.stop();
  ASSERT_EQ(failures.size(), 1);
  EXPECT_EQ(failures[0].kind, Failure::Kind::kLost);
  // 4 set-up lines and 96 requests: the fourth row went out with the fourth round's last request.
  EXPECT_TRUE(testing::headerThenWholeLines(testing::contents(pty.sim.log), 4));
  const QStringList commands = pty.sim.commands();
  ASSERT_GE(commands.size(), 4 + 3 * 22 + 20);
  EXPECT_FALSE(commands.contains(QStringLiteral("<LF>")));  // lines end with a carriage return alone
  // The set-up, then the selected parameters in catalogue order, round after round.
  EXPECT_EQ(commands.mid(0, 4), (QStringList{"ATZ", "ATE1", "ATSH 6C 10 F1", "ATST 10"}));
  QStringList round;
  for (const Parameter& p : catalogue())
    if (p.selectedAtStart) round << toQString(p.request);
  for (qsizetype i = 4; i < commands.size(); ++i) EXPECT_EQ(commands[i], round[(i - 4) % 22]) << i;
}

// No stale bytes, one window at a time; a device picked after a failed open is the factory's.
TEST(PortOverPty, OpensWithoutStaleBytesAndOnlyForOneWindowAtATime) {
  Simulator sim(9600);
  QtPortFactory ports(QStringLiteral("/dev/no-such-adapter"));
  const std::unique_ptr<SerialPort> main = ports.createPort({QStringLiteral("the main window")});
  const std::unique_ptr<SerialPort> dtc = ports.createPort({QStringLiteral("the trouble-code window")});
  EXPECT_FALSE(main->open());
  ports.setDeviceName(sim.device);  // as picked by the user: every port of the factory from now on
  ASSERT_TRUE(main->open());
  EXPECT_FALSE(dtc->open());
  EXPECT_EQ(dtc->errorString(), QStringLiteral("it is in use by the main window"));
  ASSERT_TRUE(main->write("ATI\r\n"));
  main->close();
  runEvents(100);                                           // the answer arrives while nobody holds the port
  EXPECT_EQ(sim.commands(), (QStringList{"ATI", "<LF>"}));  // the log shows a line feed that came
  QByteArray received;
  dtc->setNotify([&](PortEvent) { received += dtc->readAll(); });
  ASSERT_TRUE(dtc->open()) << dtc->errorString().toStdString();
  runEvents(200);
  EXPECT_EQ(received, QByteArray());
}

// Writes never wait: a device that stops taking data is a fault once the buffer is full.
TEST(PortOverPty, DeviceThatStopsTakingDataIsAFault) {
  Simulator sim(9600, {"--stall-after", "1"});
  QtSerialPort port(sim.device, PortUse{QStringLiteral("the test")});
  bool failed = false;
  port.setNotify([&](PortEvent event) { failed = failed || event == PortEvent::kError; });
  ASSERT_TRUE(port.open());
  ASSERT_TRUE(port.write("ATI\r"));  // the device hangs on this line
  for (int i = 0; i < 200 && !failed; ++i) failed = !port.write(QByteArray(1000, 'A'));
  EXPECT_TRUE(failed);
  EXPECT_FALSE(port.isOpen());
  EXPECT_EQ(port.errorString(), QStringLiteral("the device takes no data"));
}

// 9600 8N1, DTR up but on the drag strip's port; low latency asked, the driver's flags given back.
TEST(PortOverPty, OpensTheLineAt9600EightNoneOneWithLowLatency) {
  Simulator sim(9600);
  for (const bool dtr : {true, false}) {
    lineRequested.clear();
    dtrRequested.clear();
    serialFlagsAsked.clear();
    if (!dtr) serialDriverFlags = ASYNC_SKIP_TEST;
    QtSerialPort port(sim.device, PortUse{QStringLiteral("the test"), dtr});
    ASSERT_TRUE(port.open()) << port.errorString().toStdString();
    EXPECT_EQ(port.errorString(), QString());
    port.close();
    const std::vector<int> lowLatencyThenOwn{ASYNC_SKIP_TEST | ASYNC_LOW_LATENCY, ASYNC_SKIP_TEST};
    EXPECT_EQ(serialFlagsAsked, dtr ? std::vector<int>() : lowLatencyThenOwn);
    serialDriverFlags.reset();
    ASSERT_TRUE(port.open()) << port.errorString().toStdString();
    const int fd = ::open(sim.device.toLocal8Bit().constData(), O_RDWR | O_NOCTTY);
    termios shown{};
    ASSERT_EQ(::tcgetattr(fd, &shown), 0);
    ::close(fd);
    EXPECT_EQ(::cfgetospeed(&shown), speed_t(B9600));
    EXPECT_EQ(::cfgetispeed(&shown), speed_t(B9600));
    ASSERT_EQ(lineRequested.size(), 1u);
    for (const termios& asked : lineRequested.begin()->second) {
      EXPECT_EQ(asked.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS), tcflag_t(CS8));
      EXPECT_EQ(asked.c_iflag & (IXON | IXOFF | INPCK), tcflag_t(0));
    }
    ASSERT_EQ(dtrRequested.size(), 1u);
    EXPECT_EQ(dtrRequested.begin()->second, dtr);
  }
}

// Late answers to earlier probes and all; nothing reaches the window meanwhile; the factory keeps it.
TEST(PortOverPty, LineSpeedFoundAtEverySpeed) {
  for (const qint32 baud : kSearchOrder) {
    Simulator sim(baud);
    QtPortFactory ports(sim.device, kFindBaud);
    QStringList notices, status;
    ports.setNotice([&](const QString& text) { notices << text; });
    ports.setStatus([&](const QString& text) { status << text; });
    std::unique_ptr<SerialPort> port = ports.createPort({QStringLiteral("the test")});
    int events = 0;
    port->setNotify([&](PortEvent) { ++events; });
    ASSERT_TRUE(port->open()) << port->errorString().toStdString();
    EXPECT_TRUE(port->gettingReady());
    EXPECT_FALSE(port->write("ATI\r"));
    EXPECT_TRUE(port->isOpen());
    std::optional<bool> ready;
    port->whenReady([&](bool r) { ready = r; });
    runEvents(10'000, [&] { return ready.has_value(); });
    EXPECT_EQ(ready, true) << baud;
    EXPECT_EQ(events, 0) << baud;
    EXPECT_EQ(ports.baud(), baud);
    const QString told = notices.join(QString());
    EXPECT_TRUE(told.contains(QStringLiteral("answers at %1 baud; Tarvex uses").arg(baud)))
        << told.toStdString();
    EXPECT_EQ(status,
              (QStringList{QStringLiteral("Looking for the adapter's line speed on %1...").arg(sim.device),
                           QString()}));
    port->close();
    port = ports.createPort({QStringLiteral("the test")});
    ASSERT_TRUE(port->open());
    EXPECT_FALSE(port->gettingReady());
    QByteArray received;
    port->setNotify([&](PortEvent) { received += port->readAll(); });
    EXPECT_TRUE(port->write("ATI\r"));
    runEvents(500, [&] { return received.contains('>'); });
    EXPECT_EQ(received, QByteArray("ATI\rELM327 v1.5\r\r>")) << baud;
  }
}

// A killed adapter is a hang-up, told once (not ready if still searching); a port closed while
// searching never says it is ready, and nothing failed.
TEST(PortOverPty, AdapterKilledIsAHangUpAndASearchClosedSaysNothing) {
  const char* stages[] = {"closed while searching", "killed while searching", "killed after an answer"};
  for (int stage = 0; stage < 3; ++stage) {
    SCOPED_TRACE(stages[stage]);
    Simulator sim(stage < 2 ? 230400 : 9600);
    QtSerialPort port(sim.device, PortUse{QStringLiteral("the test")}, stage < 2 ? kFindBaud : 9600);
    QByteArray received;
    int errors = 0;
    port.setNotify([&](PortEvent event) {
      errors += event == PortEvent::kError;
      received += port.readAll();
    });
    ASSERT_TRUE(port.open());
    std::optional<bool> ready;
    port.whenReady([&](bool r) { ready = r; });
    ASSERT_TRUE(stage != 2 || port.write("ATI\r"));
    runEvents(stage < 2 ? 100 : 500, [&] { return received.contains('>'); });
    stage == 0 ? port.close() : sim.process.kill();
    runEvents(1000, [&] { return errors > 0 || ready == false; });
    EXPECT_EQ(ready, stage == 0 ? std::nullopt : std::optional(stage == 2));
    EXPECT_EQ(errors, stage == 2 ? 1 : 0);
    EXPECT_FALSE(port.isOpen());
    EXPECT_EQ(port.errorString(),
              stage == 0 ? QString() : QStringLiteral("it was disconnected (the line hung up)"));
  }
}

}  // namespace
}  // namespace tarvex
