#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QDoubleSpinBox>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QTimer>

#include "app/main_window.h"
#include "link/remembered_line.h"
#include "tests/support/scripted_car.h"
#include "tests/support/window_rig.h"
#include "ui/adapter_dialog.h"
#include "ui/message.h"
#include "ui/port_chooser.h"
#include "ui/settings_dialogs.h"

using namespace Qt::Literals::StringLiterals;

namespace tarvex {
namespace {

struct UiTest : ::testing::Test {
  ~UiTest() override { qDeleteAll(QApplication::topLevelWidgets()); }
};

// Titled by topic, else window, else program; a port's found speed has its topic in any window.
TEST_F(UiTest, MessagesAreTitledForWhatTheyAreAbout) {
  QWidget gauges;
  gauges.setWindowTitle(u"Gauges"_s);
  showMessage(&gauges, Urgency::kNotice, Message(u"It answers at 38400"_s, u"Line speed"_s));
  ASSERT_NE(gauges.findChild<QMessageBox*>(), nullptr);
  EXPECT_EQ(gauges.findChild<QMessageBox*>()->windowTitle(), u"Line speed"_s);
  EXPECT_EQ(messageTitle(&gauges, Message(u"Lost the adapter"_s)), u"Gauges"_s);
  EXPECT_EQ(messageTitle(nullptr, Message(u"Lost the adapter"_s)), u"Tarvex"_s);
  testing::WindowRig rig;
  QList<Message> told;
  WindowRegistry windows(rig.ports, rig.clock, rig.files,
                         [&](QWidget*, Urgency, const Message& m) { told << m; });
  rig.ports.tell(u"The adapter on /dev/ttyUSB0 answers at 38400 baud"_s);
  ASSERT_EQ(told.size(), 1);
  EXPECT_EQ(told[0].topic, u"Line speed"_s);
}

// Busy devices marked; the path picked (first the first free one) or typed, and needed.
TEST_F(UiTest, PortChooserMarksBusyDevicesAndTakesAPickedOrTypedPath) {
  int asked = 0;
  QtPortChooser chooser([&] {
    ++asked;
    return QStringList{u"/dev/ttyUSB0"_s, u"/dev/ttyS4"_s};
  });
  const auto use = [](const QDialog& dialog) {
    for (QPushButton* b : dialog.findChildren<QPushButton*>())
      if (b->text() == u"Use this port"_s) return b;
    return static_cast<QPushButton*>(nullptr);
  };
  QTimer::singleShot(0, [&] {
    auto* dialog = dynamic_cast<PortDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(dialog, nullptr);
    auto* list = dialog->findChild<QListWidget*>();
    auto* path = dialog->findChild<QLineEdit*>();
    QStringList items;
    for (int i = 0; i < list->count(); ++i) items << list->item(i)->text();
    EXPECT_EQ(items, (QStringList{u"/dev/ttyUSB0 (busy: another program holds it)"_s, u"/dev/ttyACM0"_s,
                                  u"/dev/ttyS0"_s}));
    EXPECT_EQ(dialog->device(), u"/dev/ttyACM0"_s);
    list->setCurrentRow(0);
    EXPECT_EQ(dialog->device(), u"/dev/ttyUSB0"_s);
    path->setText(u" /dev/rfcomm0 "_s);
    EXPECT_EQ(list->currentItem(), nullptr);
    EXPECT_TRUE(use(*dialog)->isEnabled());
    dialog->accept();
  });
  EXPECT_EQ(
      chooser.choosePort(nullptr, u"Cannot open"_s, {u"/dev/ttyUSB0"_s, u"/dev/ttyACM0"_s, u"/dev/ttyS0"_s}),
      u"/dev/rfcomm0"_s);
  EXPECT_EQ(asked, 1);

  PortDialog none(nullptr, u"Cannot open"_s, {}, {});
  EXPECT_FALSE(none.findChild<QListWidget*>()->isVisibleTo(&none));
  EXPECT_FALSE(use(none)->isEnabled());
  none.findChild<QLineEdit*>()->setText(u"/dev/rfcomm0"_s);
  EXPECT_TRUE(use(none)->isEnabled());
}

// Without a chooser, or with the device held by another window, a failed open is only told.
TEST_F(UiTest, AFailedOpenIsOnlyToldWhereNoChooserCanHelp) {
  struct Chooser final : PortChooser {
    std::optional<QString> choosePort(QWidget*, const QString&, const QStringList&) override {
      return u"/dev/rfcomm0"_s;
    }
  } chooser;
  // The device held by another window (a chooser can help then), the devices there are, what is told.
  const std::tuple<bool, QStringList, QString> cases[] = {
      {false, {}, u"Cannot open\n\nNo serial port was found on this computer."_s},
      {false, {u"/dev/ttyUSB0"_s}, u"Cannot open\n\nSerial ports on this computer: /dev/ttyUSB0."_s},
      {true, {u"/dev/ttyUSB0"_s}, u"Cannot open"_s},
  };
  for (const auto& [held, present, expected] : cases) {
    SCOPED_TRACE(expected.toStdString());
    testing::FakeSerialPort device;
    testing::ProxyPortFactory ports(device);
    ports.present = present;
    if (held) device.open();
    QStringList told;
    EXPECT_FALSE(offerOtherPort(nullptr, u"Cannot open"_s, ports, held ? &chooser : nullptr,
                                [&](QWidget*, Urgency, const QString& m) { told << m; }));
    EXPECT_EQ(ports.picked, QStringList());
    EXPECT_EQ(told, QStringList{expected});
  }
}

// The chosen adapter is every window's while tested; Cancel puts the one before back.
TEST(AdapterDialogTest, TestsTheChosenAdapterAndKeepsItOnlyOnOk) {
  testing::FakeClock clock;
  std::map<QString, testing::FakeSerialPort> devices;
  auto fake = [&](const QString& name) -> auto& {
    return devices.try_emplace(name, name).first->second;
  };
  QSettings settings(QDir::temp().filePath(u"tarvex-adapter-dialog.ini"_s), QSettings::IniFormat);
  settings.clear();
  RememberedLine remembered(settings);
  RememberingPortFactory ports(
      [&](const LineChoice& line) { return std::make_unique<testing::ProxyPortFactory>(fake(line.device)); },
      {u"/dev/ttyS0"_s, 9600}, remembered);
  testing::ScriptedCar car(fake(u"/dev/ttyUSB0"_s));
  car.answers = {{u"ATI"_s, "ELM327 v2.1"}, {u"AT@1"_s, "OBDII to RS232 Interpreter"}, {u"ATRV"_s, "12.4V"}};
  // The device tested, what is arranged before, and what the dialog shows.
  const std::tuple<const char*, std::function<void()>, const char*> cases[] = {
      {"/dev/ttyUSB0", [] {}, "ELM327 v2.1, OBDII to RS232 Interpreter, battery 12.4V"},
      {"/dev/ttyUSB0", [&] { car.answers[u"AT@1"_s] = "?"; }, "ELM327 v2.1, battery 12.4V"},
      {"/dev/ttyUSB0", [&] { car.silent = true; }, "No answer from the adapter on /dev/ttyUSB0"},
      {"/dev/ttyACM0", [&] { fake(u"/dev/ttyACM0"_s).failOpenWith(u"Permission denied"_s); }, "dialout"},
  };
  for (const auto& [device, arrange, shown] : cases) {
    SCOPED_TRACE(device);
    arrange();
    AdapterDialog dialog(nullptr, ports, clock, {u"/dev/ttyUSB0"_s, u"/dev/ttyACM0"_s});
    dialog.findChild<QComboBox*>()->setCurrentText(QString::fromLatin1(device));
    dialog.testButton()->click();
    car.runUntil(
        clock, [&] { return dialog.testButton()->isEnabled(); }, Millis{20'000});
    EXPECT_TRUE(dialog.result().contains(QString::fromLatin1(shown))) << dialog.result().toStdString();
    dialog.reject();
    EXPECT_EQ(ports.deviceName(), u"/dev/ttyS0"_s);
  }
  AdapterDialog dialog(nullptr, ports, clock, {});
  dialog.findChildren<QRadioButton*>().at(1)->setChecked(true);  // Wi-Fi, at its usual address
  dialog.accept();
  EXPECT_EQ(ports.deviceName(), u"tcp://192.168.0.10:35000"_s);
}

TEST(UnitsDialog, PresetsSetEveryQuantityAndHandChoicesShowTheirPreset) {
  UnitsDialog dialog(UnitChoice::metric());
  EXPECT_EQ(dialog.presetBox()->currentText(), QStringLiteral("Metric"));
  dialog.presetBox()->setCurrentIndex(dialog.presetBox()->findText(QStringLiteral("US")));
  EXPECT_EQ(dialog.choice(), UnitChoice::us());
  EXPECT_EQ(dialog.unitBox(Quantity::kSpeed)->currentText(), QStringLiteral("mph"));
  const auto pick = [&dialog](Quantity q, const char* label) {
    QComboBox* box = dialog.unitBox(q);
    box->setCurrentIndex(box->findText(QString::fromUtf8(label)));
  };
  pick(Quantity::kTemperature, "\u00B0C");
  EXPECT_EQ(dialog.presetBox()->currentText(), QStringLiteral("Custom"));
  pick(Quantity::kVolume, "L");
  pick(Quantity::kFlow, "L/h");
  pick(Quantity::kEconomy, "mpg (UK)");
  EXPECT_EQ(dialog.presetBox()->currentText(), QStringLiteral("UK"));
  EXPECT_EQ(dialog.choice(), UnitChoice::uk());
}

// The pump's litres over the trip's, times the factor the trip used.
TEST(TripDialog, WorksTheFactorOutFromAFillUp) {
  TripDialog dialog({trip::Fuel::kDiesel, 1.02});
  EXPECT_EQ(dialog.settings(), (TripSettings{trip::Fuel::kDiesel, 1.02}));
  EXPECT_FALSE(dialog.workOutCalibration());  // no fill-up given
  dialog.pumpBox()->setValue(41.3);
  dialog.tripBox()->setValue(39.0);
  ASSERT_TRUE(dialog.workOutCalibration());
  EXPECT_DOUBLE_EQ(dialog.settings().calibration, 1.080);  // 1.02 * 41.3 / 39.0 = 1.08015, to 3 decimals
}

}  // namespace
}  // namespace tarvex
