#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>

#include "drag/obd_dragstrip.h"
#include "tests/support/layout_check.h"
#include "tests/support/window_rig.h"

namespace tarvex {
namespace {

using namespace std::chrono_literals;

struct OBDDragstripTest : ::testing::Test, testing::WindowRig {
  OBDDragstripTest() { clock.setTickCount(20000); }
  ~OBDDragstripTest() override { qDeleteAll(QApplication::topLevelWidgets()); }
  OBDDragstrip* open() { return new OBDDragstrip(ports, clock, reporter); }
  static QString text(QWidget* w, const char* box) { return w->findChild<QLineEdit*>(box)->text(); }
  static void click(QWidget* w, const char* button) { w->findChild<QPushButton*>(button)->click(); }
};

TEST_F(OBDDragstripTest, StartPollsAndTheBoxesFollowTheRun) {
  OBDDragstrip* w = open();
  testing::expectBuiltFromLayout(*w, dragstripLayout());
  auto* rx = w->findChild<QLineEdit*>("RxText");
  EXPECT_EQ(w->focusWidget(), rx);
  EXPECT_EQ(ports.dataTerminalReady(), std::vector<bool>{false});
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
  EXPECT_EQ(text(w, "Speed"), "10");
  EXPECT_EQ(text(w, "Ticks"), "22250");
  EXPECT_TRUE(told.isEmpty());
}

TEST_F(OBDDragstripTest, PortThatWillNotOpenIsReportedAndStopOrClosingLetGoOfThePort) {
  device.failOpenWith(QStringLiteral("No such file or directory"));
  OBDDragstrip* w = open();
  click(w, "pb_Start");
  ASSERT_EQ(told.size(), 1);
  EXPECT_TRUE(told[0].contains("/dev/ttyUSB0") && told[0].contains("No such file or directory"))
      << told[0].toStdString();
  device.failOpenWith(QString());
  click(w, "pb_Start");
  clock.advance(2s + 150ms);
  w->close();
  EXPECT_FALSE(device.isOpen());
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  device.clearWrites();
  clock.advance(1s);
  EXPECT_TRUE(device.writes().isEmpty());
  EXPECT_EQ(text(open(), "Speed"), "0");  // afresh from the layout, the port still closed
  EXPECT_FALSE(device.isOpen());
}

}  // namespace
}  // namespace tarvex
