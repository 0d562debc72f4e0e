#include "standard/standard_window.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>

#include "tests/support/window_rig.h"

namespace tarvex {
namespace {

using namespace std::chrono_literals;

struct StandardWindowTest : ::testing::Test, testing::WindowRig {
  ~StandardWindowTest() override { qDeleteAll(QApplication::topLevelWidgets()); }
  StandardDataWindow* open() {
    auto* w = new StandardDataWindow(ports, clock, readings, reporter, nullptr, &files);
    files.answers = {dir.filePath(QStringLiteral("s.csv"))};
    w->findChild<QCheckBox*>("cb_log")->setChecked(true);  // no file yet: the dialog asks
    return w;
  }
  // Answers to ATZ ATE1 ATH1 ATSP0 AT2, the bitmap of PIDs 01 to 20 and the protocol.
  void start(StandardDataWindow* w, const char* bitmap) {
    w->findChild<QPushButton*>("pb_Start")->click();
    for (const char* answer : {"ELM327 v2.1", "OK", "OK", "OK", "OK", bitmap, "A6"}) reply(answer);
  }
  static QString label(QWidget* w, const char* name) { return w->findChild<QLabel*>(name)->text(); }

  Readings readings;
  QTemporaryDir dir;
};

TEST_F(StandardWindowTest, ShowsProtocolTableIdentityReadinessAndRatesAndTakesRowsOutOfThePoll) {
  StandardDataWindow* w = open();
  EXPECT_EQ(files.asked.size(), 1);
  start(w, "7E8 06 41 00 80 18 00 00");  // 01 0C 0D
  EXPECT_EQ(label(w, "lb_protocol"), QStringLiteral("ISO 15765-4 CAN (11 bit ID, 500 kbaud) (6)"));
  auto* table = w->findChild<QTableWidget*>("tw_values");
  ASSERT_EQ(table->rowCount(), 3);
  EXPECT_EQ(device.writes().back(), "01010C0D1\r");
  clock.advance(50ms);
  reply("7E8 10 0B 41 01 00 07 65 00 0C\r7E8 21 1A F8 0D 3C 00 00 00");
  EXPECT_TRUE(
      label(w, "lb_readiness").startsWith(QStringLiteral("MIL off, 0 stored code(s), spark ignition\n")));
  EXPECT_EQ(table->item(1, StandardDataWindow::kValue)->text(), QStringLiteral("1726"));
  EXPECT_EQ(table->item(2, StandardDataWindow::kValue)->text(), QStringLiteral("60"));
  EXPECT_EQ(table->item(2, StandardDataWindow::kController)->text(), QStringLiteral("engine (7E8)"));
  EXPECT_EQ(label(w, "lb_rates"), QStringLiteral("20.0 requests/s, 60.0 parameters/s (up to 6 a request)"));
  EXPECT_TRUE(w->poller().log().isOpen());
  reply("7E8 06 49 00 40 00 00 00");  // between rounds: the VIN only
  EXPECT_EQ(device.writes().back(), "010C0D1\r");
  table->item(1, StandardDataWindow::kName)->setCheckState(Qt::Unchecked);  // RPM out
  reply("7E8 05 41 0C 1A F8 0D 3C");
  reply("7E8 10 14 49 02 01 31 47 31\r7E8 21 4A 43 35 34 34 34 52\r7E8 22 37 32 35 32 33 36 37");
  EXPECT_EQ(label(w, "lb_vin"), QStringLiteral("engine (7E8): 1G1JC5444R7252367"));
  EXPECT_EQ(device.writes().back(), "010D1\r");
  w->findChild<QPushButton*>("pb_Stop")->click();
  EXPECT_FALSE(device.isOpen());
  EXPECT_EQ(label(w, "lb_status"), QStringLiteral("Stopped"));
  EXPECT_TRUE(told.isEmpty());
}

TEST_F(StandardWindowTest, UnitsFollowTheChoiceAndAnUnansweredOwnParameterSaysSo) {
  StandardDataWindow* w = open();
  w->poller().setOwnParameters(
      obd::readUserParameters("Trans temp,TFT,221940,A-40,-40,215,°C,7E1\n").parameters);
  w->setUnits(UnitChoice::us());
  start(w, "7E8 06 41 00 00 18 00 00");
  reply("7E8 06 41 0C 1A F8 0D 3C");
  EXPECT_EQ(device.writes().back(), "ATSH 7E1\r");
  reply("OK");
  reply("NO DATA");  // 221940
  auto* table = w->findChild<QTableWidget*>("tw_values");
  ASSERT_EQ(table->rowCount(), 3);       // 0C, 0D, TFT
  const auto shown = [table](int row) {  // value and unit
    return table->item(row, StandardDataWindow::kValue)->text() + u'|' +
           table->item(row, StandardDataWindow::kUnit)->text();
  };
  EXPECT_EQ(shown(1), QStringLiteral("37.28|mph"));  // 60 km/h
  EXPECT_EQ(table->item(2, StandardDataWindow::kName)->text(), QStringLiteral("Trans temp"));
  EXPECT_EQ(shown(2), QStringLiteral("not answered|\u00B0F"));
  QFile log(dir.filePath(QStringLiteral("s.csv")));
  ASSERT_TRUE(log.open(QIODevice::ReadOnly));
  EXPECT_TRUE(log.readLine().endsWith(",UTC offset,RPM [rpm],VSS [mph],TFT [°F]\r\n"));
  w->setUnits(UnitChoice::metric());
  EXPECT_EQ(shown(1), QStringLiteral("60|km/h"));
  EXPECT_EQ(shown(2), QStringLiteral("not answered|\u00B0C"));
  EXPECT_TRUE(told.isEmpty());
}

}  // namespace
}  // namespace tarvex
