#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <cmath>

#include "drag/obd_dragstrip.h"
#include "tests/support/drag_layout_check.h"
#include "tests/support/drag_ports.h"
#include "tests/support/fake_clock.h"
#include "tests/support/fake_serial_port.h"

namespace tarvex {
namespace {

using namespace std::chrono_literals;
using testing::FakeClock;
using testing::FakeSerialPort;
using testing::ProxyPortFactory;

class OBDDragstripTest : public ::testing::Test {
 protected:
  OBDDragstripTest() {
    QLocale::setDefault(QLocale::c());
    clock.setTickCount(20000);
  }
  ~OBDDragstripTest() override {
    for (QWidget* w : QApplication::topLevelWidgets()) delete w;
    QLocale::setDefault(QLocale::system());
  }

  OBDDragstrip* open() {
    return new OBDDragstrip(factory, clock,
                            [this](QWidget*, const QString& message) { reported << message; });
  }
  static QLineEdit* box(OBDDragstrip* w, const char* name) {
    return w->controls().get<QLineEdit>(QString::fromLatin1(name));
  }
  static void click(OBDDragstrip* w, const char* name) {
    w->controls().get<QPushButton>(QString::fromLatin1(name))->click();
  }
  int speedRequests() const { return int(device.writes().count("010D\r\n")); }

  FakeSerialPort device{QStringLiteral("/dev/ttyUSB0")};
  ProxyPortFactory factory{device};
  FakeClock clock;
  QStringList reported;
};

TEST_F(OBDDragstripTest, IsBuiltFromItsLayout) {
  OBDDragstrip* w = open();
  testing::expectLaidOut(*w, {"OBD Dragstrip",
                              8040,
                              3360,
                              "RxText",
                              {{"Label1", 'L', "OBD Dragstrip", 120, 120, 3975, 615, 0},
                               {"Ticks", 'T', "Ticks", 4680, 120, 1215, 285, 10},
                               {"RxText", 'T', "Text1", 4680, 480, 3255, 285, 1},
                               {"Speed", 'T', "0", 480, 1080, 975, 285, 2},
                               {"Label4", 'L', "Speed", 1560, 1080, 735, 255, 7},
                               {"ET", 'T', "0", 2640, 1080, 975, 285, 3},
                               {"Label2", 'L', "Current 0-100km", 3720, 1080, 1215, 255, 5},
                               {"LastET", 'T', "0", 4920, 1080, 975, 285, 4},
                               {"Label3", 'L', "Last 0-100km", 6000, 1080, 1215, 255, 6},
                               {"Distance", 'T', "0", 480, 1560, 975, 285, 11},
                               {"Label5", 'L', "Distance", 1560, 1560, 855, 255, 12},
                               {"QET", 'T', "0", 2640, 1560, 975, 285, 13},
                               {"Label7", 'L', "Quarter Mi ET", 3720, 1560, 1095, 255, 16},
                               {"TrapSpeed", 'T', "0", 4920, 1560, 975, 285, 14},
                               {"Label6", 'L', "Trap Speed (km)", 6000, 1560, 1695, 255, 15},
                               {"Weight", 'T', "3450", 480, 2040, 975, 285, 19},
                               {"Label8", 'L', "Weight (lb)", 1560, 2040, 975, 255, 20},
                               {"ETHP", 'T', "0", 2640, 2040, 975, 285, 17},
                               {"Label9", 'L', "ET Est. HP", 3720, 2040, 1215, 255, 21},
                               {"TSHP", 'T', "0", 4920, 2040, 975, 285, 18},
                               {"Label10", 'L', "Trap Speed Ext. HP", 6000, 2040, 1695, 255, 22},
                               {"pb_Start", 'B', "Start", 2280, 2520, 1455, 615, 8},
                               {"pb_stop", 'B', "Stop", 4080, 2520, 1335, 615, 9}}});
  const QFont title = w->controls().widget(QStringLiteral("Label1"))->font();
  EXPECT_EQ(title.family(), QStringLiteral("Arial"));
  EXPECT_DOUBLE_EQ(title.pointSizeF(), 27.75);
  // The one setting in which this window's port differs.
  EXPECT_EQ(factory.dataTerminalReady(), std::vector<bool>{false});
  EXPECT_FALSE(device.isOpen());
}

TEST_F(OBDDragstripTest, StartPollsAndTheBoxesFollowTheRun) {
  OBDDragstrip* w = open();
  click(w, "pb_Start");
  EXPECT_EQ(device.writes(), (QList<QByteArray>{"ATZ\r\n", "ATE1\r\n", "ATST 10\r\n"}));
  EXPECT_EQ(clock.sleeps(), (std::vector<Millis>{1000ms, 1000ms}));
  device.receive("ATZ\r\r\rELM327 v1.5\r\r>");
  EXPECT_TRUE(box(w, "RxText")->text().endsWith(QStringLiteral("ELM327 v1.5\r\r>")));
  clock.advance(150ms);
  EXPECT_EQ(speedRequests(), 1);
  EXPECT_EQ(box(w, "Ticks")->text(), QStringLiteral("22150"));

  device.receive("010D\r41 0D 00\r\r>");
  clock.advance(100ms);
  device.receive("010D\r41 0D 0A\r\r>");
  clock.advance(100ms);
  device.receive("010D\r41 0D 14\r");
  EXPECT_EQ(box(w, "RxText")->text(), QStringLiteral("010D\r41 0D 14\r"));
  device.receive("\r>");
  EXPECT_EQ(box(w, "RxText")->text(), QString());
  EXPECT_EQ(box(w, "Speed")->text(), QStringLiteral("20"));
  EXPECT_EQ(box(w, "ET")->text(), QStringLiteral("0.1"));
  EXPECT_EQ(box(w, "Ticks")->text(), QStringLiteral("22350"));
  EXPECT_EQ(speedRequests(), 4);
  EXPECT_TRUE(reported.isEmpty());
}

TEST_F(OBDDragstripTest, EditedBoxesAreReadBack) {
  OBDDragstrip* w = open();
  click(w, "pb_Start");
  clock.advance(150ms);
  box(w, "Weight")->setText(QStringLiteral("3000"));
  // A reply typed into the visible buffer is checked like a received one.
  box(w, "RxText")->setText(QStringLiteral("41 0D 6E>"));
  emit box(w, "RxText")->textEdited(box(w, "RxText")->text());
  EXPECT_EQ(box(w, "Speed")->text(), QStringLiteral("110"));
  clock.advance(13000ms);
  device.receive("41 0D 6E>");
  clock.advance(500ms);
  device.receive("41 0D A0>");
  EXPECT_EQ(box(w, "QET")->text(), QStringLiteral("13.5"));
  EXPECT_NEAR(box(w, "ETHP")->text().toDouble(), 3000 / std::pow(13.5 / 5.825, 3), 1e-9);
  EXPECT_NEAR(box(w, "TSHP")->text().toDouble(), 3000 * std::pow(160 * 0.62137 / 234, 3), 1e-9);
}

TEST_F(OBDDragstripTest, StopReleasesThePortAndEndsPolling) {
  OBDDragstrip* w = open();
  click(w, "pb_Start");
  clock.advance(150ms);
  device.receive("41 0D 00>");
  click(w, "pb_stop");
  EXPECT_FALSE(device.isOpen());
  device.clearWrites();
  clock.advance(1s);
  EXPECT_TRUE(device.writes().isEmpty());
  EXPECT_EQ(box(w, "Ticks")->text(), QStringLiteral("22150"));
}

TEST_F(OBDDragstripTest, ClosingWhilePollingStopsEverything) {
  QPointer<OBDDragstrip> w = open();
  click(w, "pb_Start");
  clock.advance(150ms);
  device.receive("41 0D 00>");
  ASSERT_TRUE(device.isOpen());
  w->close();
  EXPECT_FALSE(device.isOpen());
  device.clearWrites();
  clock.advance(1s);
  EXPECT_TRUE(device.writes().isEmpty());
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(w.isNull());
  device.receive("41 0D 3C>");
  clock.advance(1s);
  EXPECT_TRUE(device.writes().isEmpty());

  // Shown again: a new window from its layout, the port closed until "Start".
  OBDDragstrip* again = open();
  EXPECT_EQ(box(again, "Speed")->text(), QStringLiteral("0"));
  EXPECT_EQ(box(again, "RxText")->text(), QStringLiteral("Text1"));
  EXPECT_FALSE(device.isOpen());
}

TEST_F(OBDDragstripTest, PortThatWillNotOpenIsReported) {
  device.failOpenWith(QStringLiteral("No such file or directory"));
  OBDDragstrip* w = open();
  click(w, "pb_Start");
  ASSERT_EQ(reported.size(), 1);
  EXPECT_TRUE(reported[0].contains(QStringLiteral("/dev/ttyUSB0")));
  EXPECT_TRUE(reported[0].contains(QStringLiteral("No such file or directory")));
  EXPECT_TRUE(device.writes().isEmpty());
  clock.advance(1s);
  click(w, "pb_stop");
  EXPECT_TRUE(device.writes().isEmpty());
  device.failOpenWith(QString());
  click(w, "pb_Start");
  EXPECT_EQ(device.writes().size(), 3);
  EXPECT_EQ(reported.size(), 1);
}

}  // namespace
}  // namespace tarvex
