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

// A pseudo-terminal keeps neither modem lines nor parity and character size
// (the kernel forces 8 bits, no parity), and has no serial driver settings, so
// what the program asks of the line is taken on its way to the kernel: this
// executable's tcsetattr and ioctl stand in front of the C library's.
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

// A scan as the main window runs one, over tarvex-sim's terminal at 9600
// baud; the set-up's pauses are 100 ms here.
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

// The set-up goes out from the event loop: the window's events go on being
// handled between its lines, and a stop in the middle of it is the end of it.
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

// A scan until the adapter is pulled (the simulator's device vanishes on line
// 100): it stops at once, the log keeps every round that ended, and nothing
// polls the dead device any more. (That the values logged are right is the
// decoding's and the log's own tests' to show: the simulated car encodes with
// the very scales the program decodes with.)
TEST(ScanOverPty, AdapterPulledMidScanStopsItWithEveryEndedRoundLogged) {
  PtyScan pty({"--seed", "7", "--vanish-after", "100"});
  const QString csv = pty.sim.dir.filePath(QStringLiteral("log.csv"));
  QList<Failure> failures;
  pty.scan.setFailureHandler([&](const Failure& failure) { failures << failure; });
  pty.scan.setLocale(QLocale::c());
  ASSERT_TRUE(pty.scan.start(true, csv));
  runEvents(30'000, [&] { return !failures.isEmpty(); });
  const int events = pty.events;
  runEvents(300);
  EXPECT_EQ(pty.events, events);  // the failed port is polled no more
  pty.scan.stop();
  ASSERT_EQ(failures.size(), 1);
  EXPECT_EQ(failures[0].kind, Failure::Kind::kLost);
  // 4 set-up lines and 96 requests: four rounds ended, the fourth row written
  // as the fourth round's last request went out.
  EXPECT_TRUE(testing::headerThenWholeLines(testing::contents(csv), 4));
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

// A window that opens the port does not see what came for another window's
// request; while one window holds the device, another is told who has it. A
// device picked after a failed open holds for every port of the factory.
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

// Writes never wait for the line; a device that stops taking data is a fault
// once the line's buffer is full, and the port is closed.
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

// The line as the port leaves it: 9600 baud, 8 data bits, no parity, one stop
// bit, no flow control; DTR up, except on the drag strip window's port. A
// driver that has the setting is asked for low latency, its other flags kept,
// and given back its own on close; a terminal without it opens all the same.
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

// A search at each speed the adapter may have, its answers to the probes at
// the speeds tried before arriving late as a real adapter's would: the open
// returns at once, nothing reaches the window while the search runs, the port
// is ready at the adapter's speed, and the factory's ports keep it.
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

// The adapter's process killed hangs up the terminal: the port says so (once)
// and closes, not whatever failed last before, whether it had answered or was
// still looking for the line speed (then it is not ready). A port closed while
// it looks for the speed never says it is ready, and nothing failed.
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
    if (stage == 2) {
      ASSERT_TRUE(port.write("ATI\r"));
    }
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
