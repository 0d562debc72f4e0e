#include "app/main_window.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>

#include "app/scan_messages.h"
#include "app/selection.h"
#include "core/text.h"
#include "scan/csv_log.h"
#include "tests/support/layout_check.h"
#include "tests/support/window_rig.h"

namespace tarvex {
namespace {

using namespace std::chrono_literals;

struct ScriptedPortChooser final : PortChooser {
  std::optional<QString> choosePort(QWidget*, const QString& message, const QStringList& devices) override {
    offered << message << devices.join(',');
    return answers.isEmpty() ? std::nullopt : std::optional(answers.takeFirst());
  }
  QStringList offered;  // each call's message, then the devices
  QStringList answers;  // none left: cancelled
};

struct MainWindowTest : ::testing::Test, testing::WindowRig {
  ScriptedPortChooser chooser;
  WindowRegistry windows{ports, clock, files, reporter, &chooser};
  std::unique_ptr<Tarvex> window = std::make_unique<Tarvex>(windows);
  QTemporaryDir dir;

  template <typename T = QWidget>
  T* control(const char* name) const {
    return window->controls().get<T>(QString::fromLatin1(name));
  }
  QLineEdit* box(Box b) const { return window->controls().get<QLineEdit>(toQString(boxName(b))); }
  static void click(QWidget* w) {
    for (const QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
      QMouseEvent event(type, QPointF(2, 2), w->mapToGlobal(QPointF(2, 2)), Qt::LeftButton,
                        type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton, Qt::NoModifier);
      QApplication::sendEvent(w, &event);
    }
  }
  void click(const char* name) const { click(control(name)); }
  QAction* entry(const char* menu, const char* text) const {
    for (QAction* m : window->menuBar().actions())
      if (m->text().remove(u'&') == QLatin1String(menu))
        for (QAction* a : m->menu()->actions())
          if (a->text().remove(u'&') == QLatin1String(text)) return a;
    return nullptr;
  }
  static qsizetype shown(std::string_view title) {
    return std::ranges::count_if(QApplication::topLevelWidgets(), [&](const QWidget* w) {
      return w->isVisible() && w->windowTitle() == toQString(title);
    });
  }
  // Start, the trouble codes and the log box are off while a scan runs; Stop and the drag strip never.
  bool buttonsShowAScan(bool scanning) const {
    return control("pb_StartScan")->isEnabled() != scanning &&
           control("pb_DTCOpen")->isEnabled() != scanning && control("cb_log")->isEnabled() != scanning &&
           control("pb_StopScan")->isEnabled() && control("pb_drag")->isEnabled();
  }
};

// Shown, so that a control the window itself showed would be caught too.
TEST_F(MainWindowTest, StartsAsLaidOutWithTheGaugesShownAndThePortClosed) {
  window->show();
  // The layout is the client area's, under the menu bar.
  testing::expectBuiltFromLayout(window->clientArea(), tarvexLayout());
  EXPECT_EQ(window->windowTitle(), QStringLiteral("Tarvex - Mode 22"));
  const int bar = window->menuBar().height();
  EXPECT_GT(bar, 0);
  EXPECT_EQ(window->menuBar().geometry(), QRect(0, 0, window->width(), bar));
  EXPECT_EQ(window->clientArea().pos(), QPoint(0, bar));
  EXPECT_EQ(window->size(), window->clientArea().size() + QSize(0, bar));
  EXPECT_EQ(window->focusWidget(), control("pb_StartScan"));
  ASSERT_TRUE(windows.gauges() && windows.gauges()->isVisible());
  EXPECT_EQ(windows.gauges()->parentWidget(), nullptr);  // independent, not owned
  EXPECT_TRUE(!device.isOpen() && device.writes().isEmpty());
  EXPECT_EQ(control<FilledSquare>("MIL")->fillColour(), QColor(128, 128, 128));
}

TEST_F(MainWindowTest, LabelsToggleTheirBoxes) {
  for (const SelectionLabel& s : kSelectionLabels) {
    SCOPED_TRACE(std::string(s.label));
    auto* label = window->controls().get<ClickableLabel>(toQString(s.label));
    ASSERT_NE(label, nullptr);
    const bool before = box(s.box)->isEnabled();
    click(label);
    EXPECT_EQ(box(s.box)->isEnabled(), !before);
    EXPECT_TRUE(!s.pairedWith || box(*s.pairedWith)->isEnabled() != before);
    click(label);
    EXPECT_EQ(box(s.box)->isEnabled(), before);
  }
  // Either fuel-status label follows bank 1: what one turned off, the other turns on.
  click("tb_FuelSysStatusB2");
  click("tb_FuelSystemStatus");
  EXPECT_TRUE(box(Box::kFuelSysStatus)->isEnabled());
  EXPECT_TRUE(box(Box::kFuelSysStatusB2)->isEnabled());
  // The trim labels and plain captions react to nothing.
  click("tb_O2B1S1T");
  EXPECT_TRUE(box(Box::kO2B1S1T)->isEnabled());
}

TEST_F(MainWindowTest, LogFileDialog) {
  auto* path = control<QLineEdit>("tb_logpath");
  files.answers = {std::nullopt, QStringLiteral("/home/me/run1.csv"), std::nullopt};
  click("pb_changedir");  // cancelled before any choice: the box keeps its text
  EXPECT_EQ(path->text(), QStringLiteral("c:\\testlog.csv"));
  click("pb_changedir");
  EXPECT_EQ(path->text(), QStringLiteral("/home/me/run1.csv"));
  path->setText(QStringLiteral("/tmp/typed.csv"));
  click("pb_changedir");  // cancelled: the typed path stays
  EXPECT_EQ(path->text(), QStringLiteral("/tmp/typed.csv"));
  const QString asked = QStringLiteral("Select log file...;Text (*.csv)|*.csv;csv;");
  EXPECT_EQ(files.asked, (QStringList{asked, asked, asked + "/home/me/run1.csv"}));  // never the typed path
  EXPECT_EQ(toQtFilter(QStringLiteral("Text (*.csv)|*.csv")), QStringLiteral("Text (*.csv)"));
  EXPECT_EQ(toQtFilter(QStringLiteral("Text|*.csv|All|*.*")), QStringLiteral("Text (*.csv);;All (*.*)"));
}

TEST_F(MainWindowTest, ScanButtonsAndRepliesInTheBoxes) {
  window->show();
  click("pb_StartScan");
  EXPECT_TRUE(buttonsShowAScan(true));
  EXPECT_TRUE(device.isOpen());
  EXPECT_EQ(control<QLineEdit>("TxText")->text(), QStringLiteral("Text1"));  // the reset goes out plain
  clock.advance(3s);
  QCoreApplication::processEvents();  // a line the set-up's own timer sent shows on the next pass
  EXPECT_EQ(control<QLineEdit>("TxText")->text(), QStringLiteral("ATST 10"));
  device.receive("ATST 10\rOK\r\r>");
  EXPECT_EQ(control<QLineEdit>("TxText")->text(), QStringLiteral("22000C01"));
  device.receive("22000C01\r62 00 0C 1A F8 \r\r>");
  EXPECT_NEAR(windows.gauges()->tachNeedle().x2, 3567.16, 0.01);  // 1726 rpm, 28.48 degrees
  windows.gauges()->close();                                      // the scan goes on without them
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  ASSERT_EQ(windows.gauges(), nullptr);
  device.receive("22000D01\r62 00 0D 3C \r\r>");
  EXPECT_EQ(box(Box::kSpeed)->text(), QStringLiteral("60"));
  clock.advance(150ms * 10);  // on to the trouble codes, past the deselected knock retard
  device.receive("22000101\r62 00 01 83 \r\r>");
  EXPECT_EQ(box(Box::kDTC)->text(), QStringLiteral("3"));
  EXPECT_EQ(control<FilledSquare>("MIL")->fillColour(), QColor(255, 128, 0));
  // The hidden reply buffer box may lag while nobody sees it, but not once shown.
  device.receive("22000501\r62 00");
  control("RxText")->show();
  EXPECT_EQ(control<QLineEdit>("RxText")->text(), QStringLiteral("22000501\r62 00"));
  click("pb_StopScan");
  EXPECT_TRUE(buttonsShowAScan(false) && !device.isOpen());
}

TEST_F(MainWindowTest, DragStripHaltsTheScanWithTheLogOpenAndClosingTheWindowStopsIt) {
  window->show();
  control<QCheckBox>("cb_log")->setChecked(true);
  control<QLineEdit>("tb_logpath")->setText(dir.filePath(QStringLiteral("log.csv")));
  click("pb_StartScan");
  clock.advance(150ms * 2);
  click("pb_drag");
  EXPECT_TRUE(window->scan().link().idle());
  EXPECT_TRUE(window->scan().logging());
  EXPECT_TRUE(buttonsShowAScan(true));
  device.clearWrites();
  clock.advance(10s);
  EXPECT_TRUE(device.writes().isEmpty());  // the scan stands still
  click("pb_StopScan");
  EXPECT_FALSE(window->scan().logging());
  EXPECT_TRUE(buttonsShowAScan(false));

  click("pb_StartScan");
  ASSERT_TRUE(device.isOpen() && window->scan().logging());
  window->close();
  EXPECT_FALSE(device.isOpen());
  EXPECT_TRUE(window->scan().link().idle());
  EXPECT_FALSE(window->scan().logging());
}

TEST_F(MainWindowTest, SilenceIsNoticedAndAFailingPortStopsTheScan) {
  click("pb_StartScan");
  clock.advance(3s + 150ms * 24);  // a whole round without an answer, and the protocol question
  ASSERT_EQ(told.size(), 1);
  EXPECT_TRUE(told[0].startsWith(QStringLiteral("notice: No answer from the adapter on /dev/ttyUSB0")));
  EXPECT_TRUE(buttonsShowAScan(true));
  device.fail(QStringLiteral("Input/output error"));
  ASSERT_EQ(told.size(), 2);
  EXPECT_TRUE(told[1].startsWith(QStringLiteral("Lost the adapter on /dev/ttyUSB0: Input/output error.")));
  EXPECT_TRUE(buttonsShowAScan(false) && !device.isOpen());
}

// Silence on a car not on J1850 VPW (or on no bus found) offers Standard data, started in one click.
TEST_F(MainWindowTest, SilenceOnAnotherCarOffersStandardDataInOneClick) {
  const std::pair<const char*, bool> cases[] = {{"A2", false}, {"0", true}, {"A6", true}};
  for (const auto& [protocol, offered] : cases) {
    SCOPED_TRACE(protocol);
    told.clear();
    click("pb_StartScan");
    for (int i = 0; i < 200 && device.writes().value(device.writes().size() - 1) != "ATDPN\r"; ++i)
      clock.advance(50ms);
    reply(protocol);
    QMessageBox* offer = window->standardDataOffer();
    ASSERT_EQ(offer != nullptr, offered);
    EXPECT_EQ(told.size(), offer ? 0 : 1);  // the plain notice instead
    if (offer) {
      EXPECT_TRUE(offer->isVisible() && offer->text().contains(QStringLiteral("Standard data")));
      if (protocol[0] == '0') offer->close();  // "Keep scanning": the box goes, the scan goes on
    }
    if (!offer || protocol[0] == '0') {
      EXPECT_TRUE(buttonsShowAScan(true));
      click("pb_StopScan");
    }
  }
  device.clearWrites();
  window->standardDataOffer()->findChild<QPushButton*>(QStringLiteral("pb_openStandardData"))->click();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_EQ(window->standardDataOffer(), nullptr);  // gone with its click
  EXPECT_TRUE(buttonsShowAScan(false));
  EXPECT_EQ(shown("Standard data"), 1);
  EXPECT_EQ(device.writes(), QList<QByteArray>{"ATZ\r"});  // the scan's port closed, Standard data's opened
  for (const char* answer : {"ELM327 v2.1", "OK", "OK", "OK", "OK", "7E8 06 41 00 00 18 00 00", "6"})
    reply(answer);
  ASSERT_EQ(device.writes().back(), "010C0D1\r");
  reply("7E8 06 41 0C 1A F8 0D 3C");
  // 1726 rpm, 60 km/h (gauges/needle.h): 4200 - 720 cos(28.48 deg), 1590 - 1010 cos(50.9 deg).
  EXPECT_NEAR(windows.gauges()->tachNeedle().x2, 3567.16, 0.01);
  EXPECT_NEAR(windows.gauges()->speedoNeedle().x2, 953.02, 0.01);
}

// Units, trip and an imported parameter file reach the open windows and the settings.
TEST_F(MainWindowTest, UnitsTripAndOwnParametersReachTheWindowsAndTheSettings) {
  struct Asker : SettingsAsker {
    std::optional<UnitChoice> chooseUnits(QWidget*, const UnitChoice&) override { return UnitChoice::uk(); }
    std::optional<TripSettings> chooseTrip(QWidget*, const TripSettings&) override {
      return TripSettings{trip::Fuel::kDiesel, 1.06};
    }
  } asker;
  QSettings settings(dir.filePath(QStringLiteral("tarvex.conf")), QSettings::IniFormat);
  Preferences preferences(settings);
  windows.usePreferences(preferences);
  windows.setSettingsAsker(&asker);
  StandardDataWindow& standard = windows.showStandardData();
  ChartsWindow& charts = windows.showCharts();
  window->findChild<QAction*>(QStringLiteral("actionUnits"))->trigger();
  window->findChild<QAction*>(QStringLiteral("actionTrip"))->trigger();
  EXPECT_EQ(standard.units(), UnitChoice::uk());
  EXPECT_EQ(charts.units(), UnitChoice::uk());
  EXPECT_EQ(standard.poller().trip().fuel(), trip::Fuel::kDiesel);
  EXPECT_EQ(standard.poller().trip().calibration(), 1.06);

  const QString file = dir.filePath(QStringLiteral("own.csv"));
  ASSERT_TRUE(testing::writeFile(file, "Trans temp,TFT,221940,A-40,-40,215,C,7E1\nBad,BAD,991940,A,0,1,,\n"));
  files.toOpen = file;
  window->findChild<QAction*>(QStringLiteral("actionImportParameters"))->trigger();
  ASSERT_EQ(standard.poller().ownParameters().size(), 1u);
  ASSERT_EQ(told.size(), 1);
  EXPECT_TRUE(told[0].contains(QStringLiteral("own.csv line 2: the request \"991940\" is of service 99")))
      << told[0].toStdString();
  QFile::remove(file);  // moved away: nothing is lost

  WindowRegistry later(ports, clock, files);
  later.usePreferences(preferences);
  EXPECT_EQ(later.units(), UnitChoice::uk());
  EXPECT_EQ(later.trip(), (TripSettings{trip::Fuel::kDiesel, 1.06}));
  ASSERT_EQ(later.ownParameters().size(), 1u);
  EXPECT_EQ(later.ownParameters()[0].shortName(), QStringLiteral("TFT"));
}

// The device picked is every window's and tried at once; a log that cannot be made is told.
TEST_F(MainWindowTest, FailedStartsSayWhyOrOfferTheDevicesThereAreAndStayIdle) {
  device.failOpenWith(QStringLiteral("Permission denied"));
  click("pb_StartScan");  // none listed, cancelled
  ASSERT_EQ(chooser.offered.size(), 2);
  EXPECT_TRUE(chooser.offered[0].contains("/dev/ttyUSB0") &&
              chooser.offered[0].contains("Permission denied"));
  EXPECT_EQ(chooser.offered[1], QString());
  EXPECT_TRUE(buttonsShowAScan(false));
  ports.present = {QStringLiteral("/dev/ttyUSB0"), QStringLiteral("/dev/ttyACM0")};
  chooser.answers = {QStringLiteral("/dev/ttyACM0")};
  click("pb_StartScan");  // picked, tried again, failed again: cancelled
  EXPECT_EQ(ports.picked, QStringList{"/dev/ttyACM0"});
  ASSERT_EQ(chooser.offered.size(), 6);
  EXPECT_EQ(chooser.offered[3], QStringLiteral("/dev/ttyUSB0,/dev/ttyACM0"));
  EXPECT_TRUE(told.isEmpty() && buttonsShowAScan(false));

  device.failOpenWith(QString());
  control<QCheckBox>("cb_log")->setChecked(true);
  control<QLineEdit>("tb_logpath")->setText(dir.filePath(QStringLiteral("no/such/dir/log.csv")));
  click("pb_StartScan");
  ASSERT_EQ(told.size(), 1);
  EXPECT_TRUE(told[0].contains(QStringLiteral("no/such/dir/log.csv")));
  EXPECT_TRUE(buttonsShowAScan(false) && !device.isOpen());
}

// One each, anew after closing; entries off while a scan holds the port, or without a handler.
TEST_F(MainWindowTest, OtherWindowsOpenOnceEachFromButtonOrMenuAndQuitClosesAll) {
  window->show();
  QAction* codes = entry("Tools", "Trouble codes");
  click("pb_StartScan");
  EXPECT_FALSE(codes->isEnabled());
  click("pb_StopScan");
  click("pb_DTCOpen");
  EXPECT_TRUE(device.isOpen());  // the reader holds the port now
  codes->trigger();
  EXPECT_EQ(shown(dtcReaderLayout().caption), 1);
  QPointer<DTCReader> reader = &windows.showDtcReader();
  reader->close();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(reader.isNull());
  EXPECT_FALSE(device.isOpen());
  codes->trigger();
  EXPECT_TRUE(device.isOpen() && device.writes().back() == "ATZ\r");
  click("pb_drag");
  entry("Tools", "Drag strip")->trigger();
  EXPECT_EQ(shown(dragstripLayout().caption), 1);
  windows.gauges()->close();
  entry("View", "Gauges")->trigger();
  EXPECT_TRUE(windows.gauges()->isVisible());

  int charts = 0;
  window->setMenuHandler(MenuEntry::kCharts, [&charts] { ++charts; });
  QAction* chartsEntry = entry("View", "Charts");
  ASSERT_TRUE(chartsEntry->isEnabled());
  chartsEntry->trigger();
  EXPECT_EQ(charts, 1);
  window->setMenuHandler(MenuEntry::kCharts, {});
  EXPECT_FALSE(chartsEntry->isEnabled());

  const QPointer<Gauges> gauges = windows.gauges();
  entry("File", "Quit")->trigger();
  EXPECT_FALSE(window->isVisible());
  EXPECT_TRUE(!gauges || !gauges->isVisible());
  EXPECT_FALSE(device.isOpen());
}

TEST_F(MainWindowTest, MenuBarHoldsItsEntriesWithTheirShortcuts) {
  const std::tuple<const char*, const char*, const char*> entries[] = {
      {"File", "Open log for replay...", "Ctrl+O"},
      {"File", "Close replay", "Ctrl+W"},
      {"File", "Save report...", ""},
      {"File", "Quit", "Ctrl+Q"},
      {"View", "Gauges", ""},
      {"View", "Charts", ""},
      {"View", "Standard data", ""},
      {"View", "On-board tests", ""},
      {"Tools", "Trouble codes", ""},
      {"Tools", "Drag strip", ""},
      {"Tools", "Trouble codes in words", ""},
      {"Help", "About Tarvex", "F1"}};
  QStringList menus;
  for (QAction* m : window->menuBar().actions()) menus << m->text().remove(u'&');
  EXPECT_EQ(menus, (QStringList{"File", "View", "Tools", "Help"}));
  for (const auto& [menu, text, keys] : entries) {
    SCOPED_TRACE(text);
    QAction* a = entry(menu, text);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->shortcut(), QKeySequence(QString::fromLatin1(keys)));
    EXPECT_EQ(a->isEnabled(), std::string_view(text) != "Close replay");  // that one waits for a log
    EXPECT_TRUE(window->actions().contains(a));  // its shortcut works anywhere in the window
  }
}

// Both take the port from a scan; the report asks for its file first, cancelled: nothing opens.
TEST_F(MainWindowTest, OnBoardTestsAndTheReportTakeThePortTheReportAfterItsFile) {
  window->show();
  QAction* report = entry("File", "Save report...");
  report->trigger();
  EXPECT_EQ(files.asked,
            QStringList{"Save report;HTML (*.html)|*.html|PDF (*.pdf)|*.pdf;html;tarvex-report.html"});
  QCoreApplication::processEvents();
  EXPECT_FALSE(device.isOpen());
  EXPECT_EQ(shown("Report"), 0);
  for (const auto& [action, title] :
       {std::pair{report, "Report"}, std::pair{entry("View", "On-board tests"), "On-board tests"}}) {
    SCOPED_TRACE(title);
    click("pb_StopScan");
    click("pb_StartScan");
    ASSERT_TRUE(window->scan().session().active());
    files.answers << dir.filePath(QStringLiteral("car.html"));
    action->trigger();
    EXPECT_FALSE(window->scan().session().active());  // as for the drag strip: halted
    QCoreApplication::processEvents();                // it reads once it is up
    EXPECT_EQ(shown(title), 1);
    EXPECT_TRUE(device.isOpen());
  }
}

// A log file chosen during a scan is the next scan's.
TEST_F(MainWindowTest, AboutTellsTheVersionTheLicenceAndTheLogBeingWritten) {
  const QString first = dir.filePath(QStringLiteral("first.csv"));
  const QString second = dir.filePath(QStringLiteral("second.csv"));
  control<QCheckBox>("cb_log")->setChecked(true);
  control<QLineEdit>("tb_logpath")->setText(first);
  click("pb_StartScan");
  ASSERT_TRUE(window->scan().logging());
  files.answers = {second};
  click("pb_changedir");
  QAction* about = entry("Help", "About Tarvex");
  about->trigger();
  click("pb_StopScan");
  about->trigger();
  ASSERT_EQ(told.size(), 2);
  EXPECT_TRUE(told[0].contains(first) && !told[0].contains(second)) << told[0].toStdString();
  for (const QString& part :
       {QStringLiteral("notice: Tarvex " TARVEX_VERSION), QStringLiteral("GPL-3.0-or-later"), second})
    EXPECT_TRUE(told[1].contains(part)) << part.toStdString() << " in " << told[1].toStdString();
}

TEST_F(MainWindowTest, ReplayShowsTheLoggedLinesWithoutThePort) {
  const QString path = dir.filePath(QStringLiteral("drive.csv"));
  QByteArray text = csvHeader();
  for (const char* rpm : {"1726.5", "3000"}) {
    QStringList fields;
    for (const CsvColumn& c : csvColumns())
      fields << (c.box == Box::kRPM ? QString::fromLatin1(rpm) : toQString(c.name));
    text += fields.join(QLatin1Char(',')).toLatin1() + ",12/6/26 8:00:0" +
            QByteArray(rpm[0] == '1' ? "0" : "1") + " PM\r\n";
  }
  ASSERT_TRUE(testing::writeFile(path, text));
  window->show();
  EXPECT_FALSE(window->openReplay(dir.filePath(QStringLiteral("missing.csv"))).ok());
  ASSERT_TRUE(window->openReplay(path).ok());
  EXPECT_EQ(box(Box::kRPM)->text(), QStringLiteral("1726.5"));
  EXPECT_NEAR(windows.gauges()->tachNeedle().x2, 3567.16, 0.01);  // 1726 rpm, read back as shown
  EXPECT_TRUE(window->windowTitle().endsWith(QStringLiteral("replaying drive.csv")));
  EXPECT_FALSE(control("pb_StartScan")->isEnabled() || control("pb_drag")->isEnabled());
  window->replay().player().seekLine(1);
  EXPECT_EQ(box(Box::kRPM)->text(), QStringLiteral("3000"));
  const int rpm = windows.readings().find(QStringLiteral("RPM"));
  ASSERT_NE(rpm, Readings::kNoChannel);
  EXPECT_EQ(windows.readings().series(rpm).values, (std::vector<float>{1726.5f, 3000}));
  EXPECT_TRUE(!device.isOpen() && device.writes().isEmpty() && device.writesWhileClosed().isEmpty());
  window->closeReplay();
  EXPECT_EQ(window->windowTitle(), QStringLiteral("Tarvex - Mode 22"));
  EXPECT_TRUE(buttonsShowAScan(false));
  EXPECT_TRUE(windows.readings().channels().isEmpty());
}

TEST(SilenceNotice, NamesTheProtocolAndPointsOtherCarsToStandardData) {
  const QString device = QStringLiteral("/dev/ttyUSB0");
  const QString car = QStringLiteral("No answer from the car through the adapter on /dev/ttyUSB0");
  const std::tuple<Result<QString>, QString, bool> cases[] = {
      {QStringLiteral("A2"), car + " (protocol: SAE J1850 VPW", false},
      {QStringLiteral("A6"), car + " (protocol: ISO 15765-4 CAN", true},
      {QStringLiteral("A0"), car + ": it found no car", true},  // nothing answered GM: maybe another bus
      {QStringLiteral("?"), car + ".", false},
      {Failure{Failure::Kind::kSilent, device, {}, QStringLiteral("ATDPN")},
       QStringLiteral("No answer from the adapter on /dev/ttyUSB0 to ATDPN."), false},
  };
  for (const auto& [answer, says, otherCar] : cases) {
    SCOPED_TRACE(says.toStdString());
    const QString notice = silenceNotice(device, answer);
    EXPECT_TRUE(notice.startsWith(says)) << notice.toStdString();
    EXPECT_EQ(notice.contains(QStringLiteral("GM")), otherCar);
    EXPECT_EQ(notice.contains(QStringLiteral("Standard data")), otherCar);
    EXPECT_EQ(offersStandardData(answer), otherCar);
  }
  // Refused requests: the car is there, no "is the ignition on".
  EXPECT_TRUE(
      silenceNotice(device, QStringLiteral("A2"), QStringLiteral("7F 22 12"))
          .startsWith(QStringLiteral("Through the adapter on /dev/ttyUSB0, the engine controller refused "
                                     "every enhanced request (it answered 7F 22 12).")));
}

}  // namespace
}  // namespace tarvex
