// The On-board tests window and the Report window over a scripted CAN car.
#include "monitors/monitors_window.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTextBrowser>

#include "report/report_window.h"
#include "tests/support/scripted_car.h"
#include "tests/support/window_rig.h"

namespace tarvex {
namespace {

// Engine (7E8) alone: monitor 01 passing (0x0E66 / 8192 V within 0x0CCD..0x1000), monitor A4
// (cylinder 3) averaging 38, 71 this cycle against at most 50; P0300 stored.
struct WindowsTest : ::testing::Test, testing::WindowRig {
  WindowsTest() {
    car.answers = {
        {QStringLiteral("ATDPN"), "A6"},
        {QStringLiteral("ATI"), "ELM327 v2.1"},
        {QStringLiteral("0100"), "7E8 06 41 00 BE 3E B8 11 00"},
        {QStringLiteral("0101"), "7E8 06 41 01 81 07 65 04 00"},
        {QStringLiteral("03"), "7E8 04 43 01 03 00 00 00 00"},
        {QStringLiteral("0600"), "7E8 06 46 00 80 00 00 01 00"},
        {QStringLiteral("0620"), "7E8 06 46 20 00 00 00 01 00"},
        {QStringLiteral("0640"), "7E8 06 46 40 00 00 00 01 00"},
        {QStringLiteral("0660"), "7E8 06 46 60 00 00 00 01 00"},
        {QStringLiteral("0680"), "7E8 06 46 80 00 00 00 01 00"},
        {QStringLiteral("06A0"), "7E8 06 46 A0 10 00 00 00 00"},
        {QStringLiteral("0601"), "7E8 10 0A 46 01 01 0A 0E 66\r7E8 21 0C CD 10 00 00 00 00"},
        {QStringLiteral("06A4"),
         "7E8 10 13 46 A4 0B 24 00 26\r7E8 21 00 00 00 32 A4 0C 24\r7E8 22 00 47 00 00 00 32 00"},
    };
  }
  testing::ScriptedCar car{device};
};

QStringList row(const QTableWidget* t, int r) {
  QStringList cells;
  for (int c = 0; c < t->columnCount(); ++c) cells << t->item(r, c)->text();
  return cells;
}

TEST_F(WindowsTest, OnBoardTestsShowsEveryTestTheFailedOneMarkedAndTheMisfireCounts) {
  auto* w = new MonitorsWindow(ports, clock, reporter);
  w->show();
  QCoreApplication::processEvents();  // it reads once it is up
  car.runUntil(clock, [&] { return w->readButton()->isEnabled(); });
  ASSERT_EQ(w->testsTable()->rowCount(), 3);
  // The failed one first, then the others in the order the car gave them.
  EXPECT_EQ(row(w->testsTable(), 0), (QStringList{"engine (7E8)", "misfire cylinder 3 (A4)",
                                                  "misfire counts, last or current driving cycle (0C)", "71",
                                                  "0", "50", "", "FAILED"}));
  EXPECT_EQ(row(w->testsTable(), 1), (QStringList{"engine (7E8)", "O2 sensor bank 1 sensor 1 (01)",
                                                  "rich to lean sensor threshold voltage (01)", "0.4500",
                                                  "0.4000", "0.5000", "V", "passed"}));
  EXPECT_NE(w->testsTable()->item(0, 0)->background(), w->testsTable()->item(1, 0)->background());
  EXPECT_EQ(row(w->misfireTable(), 0), (QStringList{"engine (7E8)", "3", "71", "38", "FAILED"}));
  EXPECT_TRUE(w->summaryLabel()->text().startsWith("On-board tests: 3 results from engine (7E8): 1 failed"));
  EXPECT_TRUE(told.isEmpty()) << told.join('|').toStdString();
  w->close();
  QCoreApplication::processEvents();
  EXPECT_FALSE(device.isOpen());
}

TEST_F(WindowsTest, ReportSavesTheFileItWasGivenAndAPdfOnRequest) {
  QTemporaryDir dir;
  files.answers = {dir.filePath("car.pdf")};
  auto* w = new ReportWindow(ports, clock, files, dir.filePath("car.html"), reporter);
  w->show();
  QCoreApplication::processEvents();
  car.runUntil(clock, [&] { return w->saveAsButton()->isEnabled(); });
  const QString saved = QString::fromUtf8(testing::contents(dir.filePath("car.html")));
  for (const char* part : {"ELM327 v2.1 on /dev/ttyUSB0", "P0300", "misfire cylinder 3 (A4)", "FAILED"})
    EXPECT_TRUE(saved.contains(QLatin1String(part))) << part;
  EXPECT_TRUE(w->view()->toPlainText().contains("misfire cylinder 3 (A4)"));
  EXPECT_EQ(w->statusLabel()->text(), "Saved to " + dir.filePath("car.html") + ".");
  EXPECT_FALSE(device.isOpen());  // let go before the file was written

  w->saveAsButton()->click();
  EXPECT_TRUE(testing::contents(dir.filePath("car.pdf")).startsWith("%PDF-"));
  EXPECT_EQ(w->path(), dir.filePath("car.pdf"));
  EXPECT_TRUE(told.isEmpty()) << told.join('|').toStdString();
  w->close();
}

}  // namespace
}  // namespace tarvex
