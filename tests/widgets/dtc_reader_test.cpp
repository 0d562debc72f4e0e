#include "dtc/dtc_reader.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>

#include "tests/support/layout_check.h"
#include "tests/support/window_rig.h"

namespace tarvex {
namespace {

struct DTCReaderTest : ::testing::Test, testing::WindowRig {
  ~DTCReaderTest() override { qDeleteAll(QApplication::topLevelWidgets()); }
  DTCReader* open() { return new DTCReader(ports, clock, reporter); }
  static QLineEdit* output(QWidget* w) { return w->findChild<QLineEdit*>("DTCOutput"); }
  static void click(QWidget* w, const char* button) { w->findChild<QPushButton*>(button)->click(); }
};

TEST_F(DTCReaderTest, ResetsOnOpenSendsTheButtonsCommandsAndShowsTheAnswers) {
  DTCReader* w = open();
  testing::expectBuiltFromLayout(*w, dtcReaderLayout());
  EXPECT_EQ(w->focusWidget(), output(w));
  EXPECT_EQ(ports.dataTerminalReady(), std::vector<bool>{true});
  click(w, "pb_ReadDTC");
  click(w, "pb_ResetDTC");
  EXPECT_EQ(device.writes(), (QList<QByteArray>{"ATZ\r", "03\r", "04\r"}));
  // The box holds the whole capped session, beyond a line edit's default length.
  device.receive(QByteArray(70000, 'A') + "END");
  EXPECT_EQ(output(w)->text().size(), 64 * 1024);
  EXPECT_TRUE(output(w)->text().endsWith("AEND"));
  // With the box full, a flood of small arrivals sets it once per interval, not once each.
  int sets = 0;
  QObject::connect(output(w), &QLineEdit::textChanged, [&] { ++sets; });
  for (int i = 0; i < 500; ++i) device.receive("43 01 33\r");
  QCoreApplication::processEvents();
  EXPECT_EQ(sets, 0);
  clock.advance(DTCSession::kShowEvery);
  EXPECT_EQ(sets, 1);
  const QString sent =
      QString(70000, QLatin1Char('A')) + QStringLiteral("END") + QStringLiteral("43 01 33\r").repeated(500);
  EXPECT_EQ(output(w)->text(), sent.right(DTCSession::kMaxOutput));
}

TEST_F(DTCReaderTest, PortHeldElsewhereIsReportedAndAReopenedWindowStartsAfresh) {
  device.failOpenWith(QStringLiteral("Device or resource busy"));
  DTCReader* w = open();
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
  w = open();
  EXPECT_EQ(device.writes(), (QList<QByteArray>{"03\r", "ATZ\r"}));
  EXPECT_EQ(output(w)->text(), "DTC Here");
}

}  // namespace
}  // namespace tarvex
