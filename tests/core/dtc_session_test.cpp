#include "dtc/dtc_session.h"

#include <gtest/gtest.h>

#include "tests/support/fake_clock.h"
#include "tests/support/fake_serial_port.h"
#include "ui/failure_text.h"

namespace tarvex {
namespace {

using namespace std::chrono_literals;
using testing::FakeClock;
using testing::FakeSerialPort;

struct Rig {
  explicit Rig(const QString& device = QStringLiteral("/dev/fake0")) : port(device) {
    port.setNotify([this](PortEvent e) { session.onPortEvent(e); });
    session.setOutputChanged([this] { shown << session.output(); });
  }
  FakeSerialPort port;
  FakeClock clock;
  std::unique_ptr<Timer> timer = clock.createTimer();
  AdapterTraits traits;
  DTCSession session{port, *timer, clock, traits, QStringLiteral("DTC Here")};
  QStringList shown;  // the output each time the window was told
};

TEST(DTCSession, AppendsThePiecesInArrivalOrderWithControlCharactersMadeHarmless) {
  const std::pair<std::vector<QByteArray>, QString> cases[] = {
      {{"ATZ"}, QStringLiteral("DTC HereATZ")},
      {{"43 01 33", "\r"}, QStringLiteral("DTC Here43 01 33\r\n")},
      {{"43 01 33\r", "\r>"}, QStringLiteral("DTC Here43 01 33\r\r>")},
      {{"03\r43 00\r", "\r", ">03\r43 01\r"}, QStringLiteral("DTC Here03\r43 00\r\r\n>03\r43 01\r")},
      {{"\n", ""}, QStringLiteral("DTC Here\n")},
      // NULs go; other controls show as U+FFFD; tab, Latin-1 letters and garbage above 0x9f stay.
      {{QByteArray("4\0003\0", 4), "\x01\t\x1b\x7f\x85\xe9\xff"},
       QStringLiteral("DTC Here43\uFFFD\t\uFFFD\uFFFD\uFFFD\u00e9\u00ff")},
      {{QByteArray(5000, '\0')}, QStringLiteral("DTC Here")},
  };
  for (const auto& [pieces, expected] : cases) {
    Rig rig;
    for (const QByteArray& piece : pieces) rig.port.receive(piece);
    rig.clock.advance(DTCSession::kShowEvery);
    EXPECT_EQ(rig.session.output(), expected);
    EXPECT_EQ(rig.shown.value(rig.shown.size() - 1, QStringLiteral("DTC Here")), expected);
  }
}

// The window is told at once after a quiet while, then at most once per kShowEvery, in the end of all.
TEST(DTCSession, WindowIsToldAtAPacedRateWhateverArrivesAndHoweverMuchIsHeld) {
  Rig rig;
  // A flood in one piece: only its newest characters are kept; NULs don't count.
  rig.port.receive(QByteArray(300000, 'A') + QByteArray(300000, '\0') + "END");
  QString sent = QString(DTCSession::kMaxOutput - 3, QLatin1Char('A')) + QStringLiteral("END");
  ASSERT_EQ(rig.shown, QStringList{sent});
  // A thousand characters in one pass, then 960 a second for two seconds.
  for (int i = 0; i < 1000; ++i) rig.port.receive("B");
  EXPECT_EQ(rig.shown.size(), 1);
  sent += QString(1000, QLatin1Char('B'));
  const auto trickle = [&] {
    for (int i = 0; i < 1920; ++i) {
      rig.clock.advance(1042us);
      const char c = char('a' + i % 26);
      rig.port.receive(QByteArray(1, c));
      sent += QLatin1Char(c);
    }
  };
  trickle();
  rig.clock.advance(DTCSession::kShowEvery);
  EXPECT_TRUE(rig.shown.size() >= 20 && rig.shown.size() <= 22) << rig.shown.size();
  EXPECT_EQ(rig.shown.last(), sent.right(DTCSession::kMaxOutput));
  // Shows that take 25 ms each come every half second.
  rig.session.setOutputChanged([&] {
    rig.shown << rig.session.output();
    rig.clock.busy(25ms);
  });
  rig.shown.clear();
  trickle();
  EXPECT_TRUE(rig.shown.size() >= 4 && rig.shown.size() <= 5) << rig.shown.size();
}

TEST(DTCSession, AppendsToEditedTextAndTrimsItToTheNewest64KiB) {
  Rig rig;
  rig.session.setOutput(QStringLiteral("mine:"));
  rig.port.receive("43 00");
  EXPECT_EQ(rig.session.output(), QStringLiteral("mine:43 00"));
  // Edited while an arrival was not shown yet: it is kept, after the edit.
  rig.port.receive(">");
  rig.session.setOutput(QStringLiteral("mine:43"));
  rig.clock.advance(DTCSession::kShowEvery);
  EXPECT_EQ(rig.shown.last(), QStringLiteral("mine:43>"));
  rig.session.setOutput(QString(70000, QLatin1Char('B')) + QStringLiteral("END"));
  rig.clock.advance(DTCSession::kShowEvery);
  EXPECT_EQ(rig.shown.last(), QString(64 * 1024 - 3, QLatin1Char('B')) + QStringLiteral("END"));
  EXPECT_EQ(rig.shown.last(), rig.session.output());
}

// A device that fails is let go of at once, and the next command takes it again.
TEST(DTCSession, PortThatFailsIsClosedReportedAndOpenedAgainOnTheNextCommand) {
  Rig rig(QStringLiteral("/dev/ttyUSB0"));
  QStringList failures;
  rig.session.setFailureHandler([&](const Failure& failure) { failures << failureText(failure); });
  ASSERT_TRUE(rig.session.open());
  rig.port.fail(QStringLiteral("Input/output error"));
  EXPECT_EQ(failures, QStringList{QStringLiteral("Lost the adapter on /dev/ttyUSB0: Input/output error.")});
  EXPECT_FALSE(rig.port.isOpen());
  EXPECT_TRUE(rig.session.sendRead() && rig.port.isOpen());
  EXPECT_EQ(rig.port.writes(), (QList<QByteArray>{"ATZ\r", "03\r"}));
}

}  // namespace
}  // namespace tarvex
