#include "dtc/dtc_session.h"

#include <gtest/gtest.h>

#include "tests/support/fake_clock.h"
#include "tests/support/fake_serial_port.h"

namespace tarvex {
namespace {

using testing::FakeSerialPort;

TEST(DTCSession, AppendsThePiecesInArrivalOrder) {
  const struct {
    std::vector<QByteArray> pieces;
    const char* expected;
  } cases[] = {
      {{"ATZ"}, "DTC HereATZ"},
      {{"43 01 33", "\r"}, "DTC Here43 01 33\r\n"},
      {{"43 01 33\r", "\r>"}, "DTC Here43 01 33\r\r>"},
      {{"03\r43 00\r", "\r", ">03\r43 01\r"}, "DTC Here03\r43 00\r\r\n>03\r43 01\r"},
      {{"\n", ""}, "DTC Here\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.expected);
    FakeSerialPort port;
    testing::FakeClock clock;
    std::unique_ptr<Timer> timer = clock.createTimer();
    DTCSession session(port, *timer, clock, QStringLiteral("DTC Here"));
    port.setNotify([&](PortEvent e) { session.onPortEvent(e); });
    QString shown;
    session.setOutputChanged([&](const QString& text) { shown = text; });
    for (const QByteArray& piece : c.pieces) port.receive(piece);
    EXPECT_EQ(session.output(), QString::fromLatin1(c.expected));
    EXPECT_EQ(shown, session.output());
  }
}

TEST(DTCSession, AppendsToEditedTextAndTrimsItToTheNewest64KiB) {
  FakeSerialPort port;
  testing::FakeClock clock;
  std::unique_ptr<Timer> timer = clock.createTimer();
  DTCSession session(port, *timer, clock, QStringLiteral("DTC Here"));
  port.setNotify([&](PortEvent e) { session.onPortEvent(e); });
  session.setOutput(QStringLiteral("mine:"));
  port.receive("43 00");
  EXPECT_EQ(session.output(), QStringLiteral("mine:43 00"));
  session.setOutput(QString(70000, QLatin1Char('B')) + QStringLiteral("END"));
  EXPECT_EQ(session.output().size(), 64 * 1024);
  EXPECT_TRUE(session.output().endsWith(QStringLiteral("BEND")));
}

// A device that fails is let go of at once, and the next command takes it again.
TEST(DTCSession, PortThatFailsIsClosedReportedAndOpenedAgainOnTheNextCommand) {
  FakeSerialPort port(QStringLiteral("/dev/ttyUSB0"));
  testing::FakeClock clock;
  std::unique_ptr<Timer> timer = clock.createTimer();
  DTCSession session(port, *timer, clock, QStringLiteral("DTC Here"));
  QStringList failures;
  port.setNotify([&](PortEvent e) { session.onPortEvent(e); });
  session.setFailureHandler([&](const PortFailure& failure) { failures << failure.message(); });
  ASSERT_EQ(session.open(), std::nullopt);
  port.fail(QStringLiteral("Input/output error"));
  EXPECT_EQ(failures, QStringList{QStringLiteral("Lost the adapter on /dev/ttyUSB0: Input/output error.")});
  EXPECT_FALSE(port.isOpen());
  EXPECT_EQ(session.sendRead(), std::nullopt);
  EXPECT_TRUE(port.isOpen());
  EXPECT_EQ(port.writes(), (QList<QByteArray>{"ATZ\r", "03\r"}));
}

}  // namespace
}  // namespace tarvex
