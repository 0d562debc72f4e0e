#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QTimer>

#include "app/main_window.h"
#include "link/remembered_line.h"
#include "tests/support/drag_ports.h"
#include "tests/support/fake_clock.h"
#include "tests/support/scripted_car.h"
#include "ui/adapter_dialog.h"
#include "ui/message.h"
#include "ui/port_chooser.h"

using namespace Qt::Literals::StringLiterals;

namespace tarvex {
namespace {

struct UiTest : ::testing::Test {
  ~UiTest() override { qDeleteAll(QApplication::topLevelWidgets()); }
};

// A box is titled for what it says: its topic, else the window it is about.
TEST_F(UiTest, MessagesAreTitledForWhatTheyAreAbout) {
  QWidget gauges;
  gauges.setWindowTitle(QStringLiteral("Gauges"));
  const struct {
    QWidget* window;
    Message message;
    QString title;
  } cases[] = {
      {&gauges, Message(QStringLiteral("Lost the adapter")), QStringLiteral("Gauges")},
      {&gauges, Message(QStringLiteral("It answers at 38400"), QStringLiteral("Line speed")),
       QStringLiteral("Line speed")},
      {nullptr, Message(QStringLiteral("Lost the adapter")), QStringLiteral("Tarvex")},
  };
  for (const auto& c : cases) {
    showMessage(c.window, Urgency::kNotice, c.message);
    QMessageBox* box = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets())
      if (auto* b = qobject_cast<QMessageBox*>(w); b && b->text() == c.message.text && b->isVisible())
        box = b;
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->windowTitle(), c.title);
    delete box;
  }
  // The speed the port found is told as such, whichever window is active.
  testing::FakeClock clock;
  testing::FakeSerialPort device;
  testing::ProxyPortFactory ports(device);
  QList<Message> told;
  struct : FileDialog {
    std::optional<QString> chooseSaveFile(QWidget*, const QString&, const QString&, const QString&,
                                          const QString&) override {
      return std::nullopt;
    }
  } files;
  WindowRegistry windows(ports, clock, files, [&](QWidget*, Urgency, const Message& m) { told << m; });
  ports.tell(QStringLiteral("The adapter on /dev/fake0 answers at 38400 baud"));
  ASSERT_EQ(told.size(), 1);
  EXPECT_EQ(told[0].topic, QStringLiteral("Line speed"));
}

QStringList itemTexts(const QListWidget& list) {
  QStringList texts;
  for (int i = 0; i < list.count(); ++i) texts << list.item(i)->text();
  return texts;
}

QPushButton* useButton(const QDialog& dialog) {
  for (QPushButton* b : dialog.findChildren<QPushButton*>())
    if (b->text() == QStringLiteral("Use this port")) return b;
  return nullptr;
}

// Busy devices are marked; the path is picked from the list or typed, and
// u"Use this port"_s needs one.
TEST_F(UiTest, PortDialogMarksBusyDevicesAndTakesAPickedOrTypedPath) {
  const QStringList devices{u"/dev/ttyUSB0"_s, u"/dev/ttyACM0"_s, u"/dev/ttyS0"_s};
  PortDialog dialog(nullptr, QStringLiteral("Cannot open"), devices, {u"/dev/ttyUSB0"_s, u"/dev/ttyS4"_s});
  auto* list = dialog.findChild<QListWidget*>();
  auto* path = dialog.findChild<QLineEdit*>();
  QPushButton* use = useButton(dialog);
  ASSERT_TRUE(list && path && use);
  EXPECT_EQ(itemTexts(*list), (QStringList{u"/dev/ttyUSB0 (busy: another program holds it)"_s,
                                           u"/dev/ttyACM0"_s, u"/dev/ttyS0"_s}));
  EXPECT_EQ(dialog.device(), QStringLiteral("/dev/ttyACM0"));  // the first free one
  list->setCurrentRow(0);
  EXPECT_EQ(dialog.device(), QStringLiteral("/dev/ttyUSB0"));
  path->setText(QStringLiteral(" /dev/rfcomm0 "));
  EXPECT_EQ(dialog.device(), QStringLiteral("/dev/rfcomm0"));
  EXPECT_EQ(list->currentItem(), nullptr);
  EXPECT_TRUE(use->isEnabled());
  path->clear();
  EXPECT_FALSE(use->isEnabled());

  // None listed: only the path.
  PortDialog none(nullptr, QStringLiteral("Cannot open"), {}, {});
  EXPECT_FALSE(none.findChild<QListWidget*>()->isVisibleTo(&none));
  EXPECT_FALSE(useButton(none)->isEnabled());
  none.findChild<QLineEdit*>()->setText(QStringLiteral("/dev/rfcomm0"));
  EXPECT_TRUE(useButton(none)->isEnabled());
}

// With a chooser the user may name a device even when none is listed; without
// one, or when another window holds the device, the failure is only told.
TEST_F(UiTest, AFailedOpenOffersTheChooserWhereOneCanHelp) {
  struct Chooser final : PortChooser {
    std::optional<QString> choosePort(QWidget*, const QString&, const QStringList& devices) override {
      offered << devices.join(u',');
      return QStringLiteral("/dev/rfcomm0");
    }
    QStringList offered;
  };
  const struct {
    bool withChooser;
    bool held;
    QStringList present;
    bool chosen;
    QString told;
  } cases[] = {
      {true, false, {}, true, {}},
      {true, false, {u"/dev/ttyUSB0"_s}, true, {}},
      {false, false, {}, false, u"Cannot open\n\nNo serial port was found on this computer."_s},
      {false,
       false,
       {u"/dev/ttyUSB0"_s},
       false,
       u"Cannot open\n\nSerial ports on this computer: /dev/ttyUSB0."_s},
      {true, true, {u"/dev/ttyUSB0"_s}, false, u"Cannot open"_s},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.told.toStdString());
    testing::FakeSerialPort device;
    testing::ProxyPortFactory ports(device);
    ports.present = c.present;
    if (c.held) device.open();
    Chooser chooser;
    QStringList told;
    const bool chosen =
        offerOtherPort(nullptr, QStringLiteral("Cannot open"), ports, c.withChooser ? &chooser : nullptr,
                       [&](QWidget*, Urgency, const QString& m) { told << m; });
    EXPECT_EQ(chosen, c.chosen);
    EXPECT_EQ(ports.picked, c.chosen ? QStringList{u"/dev/rfcomm0"_s} : QStringList{});
    EXPECT_EQ(chooser.offered, c.chosen ? QStringList{c.present.join(u',')} : QStringList{});
    EXPECT_EQ(told, c.told.isEmpty() ? QStringList{} : QStringList{c.told});
  }
}

// The real chooser runs its dialog and hands back what the user typed.
TEST_F(UiTest, QtPortChooserReturnsTheTypedPathAndAskedWhichDevicesAreBusy) {
  int asked = 0;
  QtPortChooser chooser([&] {
    ++asked;
    return QStringList{u"/dev/ttyUSB0"_s};
  });
  QString shown;
  QTimer::singleShot(0, [&] {
    auto* dialog = dynamic_cast<PortDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(dialog, nullptr);
    shown = dialog->findChild<QListWidget*>()->item(0)->text();
    dialog->findChild<QLineEdit*>()->setText(QStringLiteral("/dev/rfcomm0"));
    dialog->accept();
  });
  EXPECT_EQ(chooser.choosePort(nullptr, QStringLiteral("Cannot open"), {u"/dev/ttyUSB0"_s}),
            QStringLiteral("/dev/rfcomm0"));
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(shown, QStringLiteral("/dev/ttyUSB0 (busy: another program holds it)"));
}

// The adapter dialog puts the chosen adapter in place for every window, tests
// it (what it says of itself, or why it cannot), and Cancel puts the one
// before back.
TEST(AdapterDialogTest, TestsTheChosenAdapterAndKeepsItOnlyOnOk) {
  testing::FakeClock clock;
  std::map<QString, std::unique_ptr<testing::FakeSerialPort>> devices;
  auto fake = [&](const QString& name) -> testing::FakeSerialPort& {
    auto& d = devices[name];
    if (!d) d = std::make_unique<testing::FakeSerialPort>(name);
    return *d;
  };
  QSettings settings(QDir::temp().filePath(u"tarvex-adapter-dialog.ini"_s), QSettings::IniFormat);
  settings.clear();
  RememberedLine remembered(settings);
  RememberingPortFactory ports(
      [&](const LineChoice& line) { return std::make_unique<testing::ProxyPortFactory>(fake(line.device)); },
      {u"/dev/ttyS0"_s, 9600}, remembered);
  testing::ScriptedCar car(fake(u"/dev/ttyUSB0"_s));
  car.answers = {{u"ATI"_s, "ELM327 v2.1"}, {u"AT@1"_s, "OBDII to RS232 Interpreter"}, {u"ATRV"_s, "12.4V"}};
  const struct {
    const char* device;
    std::function<void()> arrange;
    const char* shown;
  } cases[] = {
      {"/dev/ttyUSB0", [] {}, "ELM327 v2.1, OBDII to RS232 Interpreter, battery 12.4V"},
      {"/dev/ttyUSB0", [&] { car.answers[u"AT@1"_s] = "?"; }, "ELM327 v2.1, battery 12.4V"},
      {"/dev/ttyUSB0", [&] { car.silent = true; }, "No answer from the adapter on /dev/ttyUSB0"},
      {"/dev/ttyACM0", [&] { fake(u"/dev/ttyACM0"_s).failOpenWith(u"Permission denied"_s); }, "dialout"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.device);
    c.arrange();
    AdapterDialog dialog(nullptr, ports, clock, {u"/dev/ttyUSB0"_s, u"/dev/ttyACM0"_s});
    dialog.findChild<QComboBox*>()->setCurrentText(QString::fromLatin1(c.device));
    dialog.testButton()->click();
    car.runUntil(
        clock, [&] { return dialog.testButton()->isEnabled(); }, Millis{20'000});
    EXPECT_TRUE(dialog.result().contains(QString::fromLatin1(c.shown))) << dialog.result().toStdString();
    dialog.reject();
    EXPECT_EQ(ports.deviceName(), u"/dev/ttyS0"_s);
  }
  AdapterDialog dialog(nullptr, ports, clock, {});
  dialog.findChildren<QRadioButton*>().at(1)->setChecked(true);  // Wi-Fi, at its usual address
  dialog.accept();
  EXPECT_EQ(ports.deviceName(), u"tcp://192.168.0.10:35000"_s);
}

}  // namespace
}  // namespace tarvex
