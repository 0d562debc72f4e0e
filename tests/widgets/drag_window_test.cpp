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

// Start polls and the boxes follow the run; closing lets go of the port, and
// the window opens afresh from its layout. (A port that will not open is the
// trouble-code reader's test: the same port window tells it.)
TEST_F(OBDDragstripTest, StartPollsTheBoxesFollowTheRunAndClosingLetsGoOfThePort) {
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
