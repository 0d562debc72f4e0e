#include "dtc/dtc_reader.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>

#include "tests/support/drag_layout_check.h"
#include "tests/support/drag_ports.h"
#include "tests/support/fake_serial_port.h"

namespace tarvex {
namespace {

using testing::FakeSerialPort;
using testing::ProxyPortFactory;

class DTCReaderTest : public ::testing::Test {
 protected:
  ~DTCReaderTest() override {
    for (QWidget* w : QApplication::topLevelWidgets()) delete w;
  }

  DTCReader* open() {
    return new DTCReader(factory, [this](QWidget*, const QString& message) { reported << message; });
  }
  static QLineEdit* output(DTCReader* w) { return w->controls().get<QLineEdit>(QStringLiteral("DTCOutput")); }
  static void click(DTCReader* w, const char* name) {
    w->controls().get<QPushButton>(QString::fromLatin1(name))->click();
  }
  static void closeAndDelete(QWidget* w) {
    w->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }

  FakeSerialPort device{QStringLiteral("/dev/ttyUSB0")};
  ProxyPortFactory factory{device};
  QStringList reported;
};

TEST_F(DTCReaderTest, IsBuiltFromItsLayout) {
  DTCReader* w = open();
  testing::expectLaidOut(*w, {"DTCReader",
                              5505,
                              5760,
                              "DTCOutput",
                              {{"pb_ReadDTC", 'B', "Read DTC", 120, 120, 1455, 495, 1},
                               {"pb_ResetDTC", 'B', "Reset DTC", 3960, 120, 1455, 495, 2},
                               {"DTCOutput", 'T', "DTC Here", 120, 1680, 5295, 3975, 0}}});
  EXPECT_EQ(factory.dataTerminalReady(), std::vector<bool>{true});
}

TEST_F(DTCReaderTest, OpensThePortResetsAndSendsTheButtonsCommands) {
  DTCReader* w = open();
  EXPECT_TRUE(device.isOpen());
  EXPECT_EQ(device.writes(), QList<QByteArray>{"ATZ\r\n"});
  click(w, "pb_ReadDTC");
  click(w, "pb_ReadDTC");
  click(w, "pb_ResetDTC");
  EXPECT_EQ(device.writes(), (QList<QByteArray>{"ATZ\r\n", "03\r\n", "03\r\n", "04\r\n"}));
  EXPECT_TRUE(reported.isEmpty());
}

TEST_F(DTCReaderTest, ShowsEverythingReceivedInTheBox) {
  DTCReader* w = open();
  device.receive("ATZ\r\r\rELM327 v1.5");
  device.receive("\r");
  device.receive(">03\r43 01 33 00 00 00 00\r");
  device.raise(kCommEventSend);
  EXPECT_EQ(output(w)->text(), QStringLiteral("DTC HereATZ\r\r\rELM327 v1.5\r\n>03\r43 01 33 00 00 00 00\r"));
}

TEST_F(DTCReaderTest, UserEditsStayAndLaterTextIsAppended) {
  DTCReader* w = open();
  output(w)->setText(QStringLiteral("cleared"));
  emit output(w)->textEdited(output(w)->text());
  device.receive("43 00");
  EXPECT_EQ(output(w)->text(), QStringLiteral("cleared43 00"));
}

TEST_F(DTCReaderTest, BoxHoldsTheNewestTextOfALongSession) {
  DTCReader* w = open();
  for (int i = 0; i < 90; ++i) device.receive(QByteArray(1000, 'A'));
  device.receive("END");
  EXPECT_EQ(output(w)->text(), w->session().output());
  EXPECT_EQ(output(w)->text().size(), DtcSession::kMaxOutput);
  EXPECT_TRUE(output(w)->text().endsWith(QStringLiteral("AEND")));
}

TEST_F(DTCReaderTest, ClosingReleasesThePortAndReopeningStartsAfresh) {
  QPointer<DTCReader> first = open();
  device.receive("ATZ\r\rELM327 v1.5\r\r>");
  closeAndDelete(first);
  EXPECT_TRUE(first.isNull());
  EXPECT_FALSE(device.isOpen());
  device.receive("late");  // nobody listens any more
  device.clearWrites();

  DTCReader* second = open();
  EXPECT_TRUE(device.isOpen());
  EXPECT_EQ(device.writes(), QList<QByteArray>{"ATZ\r\n"});
  EXPECT_EQ(output(second)->text(), QStringLiteral("DTC Here"));
}

TEST_F(DTCReaderTest, PortHeldElsewhereIsReportedAndTheWindowStaysUsable) {
  device.failOpenWith(QStringLiteral("Device or resource busy"));
  DTCReader* w = open();
  w->show();
  EXPECT_TRUE(reported.isEmpty());  // reported once the window is up
  QCoreApplication::processEvents();
  ASSERT_EQ(reported.size(), 1);
  EXPECT_TRUE(reported[0].contains(QStringLiteral("/dev/ttyUSB0")));
  EXPECT_TRUE(reported[0].contains(QStringLiteral("Device or resource busy")));
  click(w, "pb_ReadDTC");
  click(w, "pb_ResetDTC");
  EXPECT_EQ(reported.size(), 3);
  EXPECT_TRUE(device.writes().isEmpty());
  EXPECT_EQ(output(w)->text(), QStringLiteral("DTC Here"));

  device.failOpenWith(QString());
  click(w, "pb_ReadDTC");
  EXPECT_EQ(device.writes(), QList<QByteArray>{"03\r\n"});
  closeAndDelete(w);
  EXPECT_FALSE(device.isOpen());
}

}  // namespace
}  // namespace tarvex
