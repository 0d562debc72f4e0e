// The windows built from their layouts that take the port for themselves.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>

#include "drag/obd_dragstrip.h"
#include "dtc/dtc_reader.h"
#include "tests/support/layout_check.h"
#include "tests/support/window_rig.h"

namespace tarvex {
namespace {

using namespace std::chrono_literals;

struct PortWindowTest : ::testing::Test, testing::WindowRig {
  ~PortWindowTest() override { qDeleteAll(QApplication::topLevelWidgets()); }
  template <class Window>
  Window* open() {
    return new Window(ports, clock, reporter);
  }
  static QLineEdit* box(QWidget* w, const char* name) { return w->findChild<QLineEdit*>(name); }
  static void click(QWidget* w, const char* button) { w->findChild<QPushButton*>(button)->click(); }
};
struct DTCReaderTest : PortWindowTest {};
struct OBDDragstripTest : PortWindowTest {};

TEST_F(DTCReaderTest, ResetsOnOpenSendsTheButtonsCommandsAndShowsTheAnswers) {
  auto* w = open<DTCReader>();
  testing::expectBuiltFromLayout(*w, dtcReaderLayout());
  EXPECT_EQ(w->focusWidget(), box(w, "DTCOutput"));
  EXPECT_EQ(ports.dataTerminalReady, std::vector<bool>{true});
  click(w, "pb_ReadDTC");
  click(w, "pb_ResetDTC");
  EXPECT_EQ(device.writes(), (QList<QByteArray>{"ATZ\r", "03\r", "04\r"}));
  // The box holds the whole capped session, beyond a line edit's default length.
  device.receive(QByteArray(70000, 'A') + "END");
  EXPECT_EQ(box(w, "DTCOutput")->text(), QString(64 * 1024 - 3, QLatin1Char('A')) + QStringLiteral("END"));
  // With the box full, a flood of small arrivals sets it once per interval, not once each.
  int sets = 0;
  QObject::connect(box(w, "DTCOutput"), &QLineEdit::textChanged, [&] { ++sets; });
  for (int i = 0; i < 500; ++i) device.receive("43 01 33\r");
  QCoreApplication::processEvents();
  EXPECT_EQ(sets, 0);
  clock.advance(DTCSession::kShowEvery);
  EXPECT_EQ(sets, 1);
  const QString sent =
      QString(70000, QLatin1Char('A')) + QStringLiteral("END") + QStringLiteral("43 01 33\r").repeated(500);
  EXPECT_EQ(box(w, "DTCOutput")->text(), sent.right(DTCSession::kMaxOutput));
}

TEST_F(DTCReaderTest, PortHeldElsewhereIsReportedAndAReopenedWindowStartsAfresh) {
  device.failOpenWith(QStringLiteral("Device or resource busy"));
  auto* w = open<DTCReader>();
  EXPECT_TRUE(told.isEmpty());  // once the window is up
  QCoreApplication::processEvents();
  ASSERT_EQ(told.size(), 1);
  EXPECT_TRUE(told[0].contains("/dev/ttyUSB0") && told[0].contains("Device or resource busy"))
      << told[0].toStdString();
  click(w, "pb_ReadDTC");
  click(w, "pb_ResetDTC");
  EXPECT_EQ(told.size(), 3);
  device.failOpenWith(QString());
  click(w, "pb_ReadDTC");  // the port is free again: taken and sent
  EXPECT_EQ(device.writes(), QList<QByteArray>{"03\r"});

  w->close();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_FALSE(device.isOpen());
  device.receive("late");  // nobody listens any more
  w = open<DTCReader>();
  EXPECT_EQ(device.writes(), (QList<QByteArray>{"03\r", "ATZ\r"}));
  EXPECT_EQ(box(w, "DTCOutput")->text(), "DTC Here");
}

TEST_F(OBDDragstripTest, StartPollsTheBoxesFollowTheRunAndClosingLetsGoOfThePort) {
  clock.setTickCount(20000);
  auto* w = open<OBDDragstrip>();
  testing::expectBuiltFromLayout(*w, dragstripLayout());
  QLineEdit* rx = box(w, "RxText");
  EXPECT_EQ(w->focusWidget(), rx);
  EXPECT_EQ(ports.dataTerminalReady, std::vector<bool>{false});
  click(w, "pb_Start");
  clock.advance(2s + 150ms);
  device.receive("41 0D 00>");
  clock.advance(100ms);
  int changes = 0;
  QObject::connect(rx, &QLineEdit::textChanged, [&] { ++changes; });
  device.receive("010D\r41 0D 0A\r");
  EXPECT_EQ(rx->text(), "010D\r41 0D 0A\r");
  device.receive("\r>");
  EXPECT_EQ(rx->text(), "");
  EXPECT_EQ(changes, 2);  // once an arrival, though the last one filled and emptied the buffer
  EXPECT_EQ(box(w, "Speed")->text(), "10");
  EXPECT_EQ(box(w, "Ticks")->text(), "22250");
  EXPECT_TRUE(told.isEmpty());
  w->close();
  EXPECT_FALSE(device.isOpen());
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  device.clearWrites();
  clock.advance(1s);
  EXPECT_TRUE(device.writes().isEmpty());
  EXPECT_EQ(box(open<OBDDragstrip>(), "Speed")->text(), "0");  // afresh, the port still closed
  EXPECT_FALSE(device.isOpen());
}

}  // namespace
}  // namespace tarvex
