#include "codes/codes_window.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>

#include "tests/support/scripted_car.h"
#include "tests/support/window_rig.h"

namespace tarvex {
namespace {

// Says Yes; a No is the codes reader's to heed, and its own test's.
struct Yes final : Confirm {
  bool ask(const QString&) override { return ++asked > 0; }
  int asked = 0;
};

QStringList column(const QTableWidget* t, int c) {
  QStringList cells;
  for (int r = 0; r < t->rowCount(); ++r) cells << t->item(r, c)->text();
  return cells;
}

struct CodesWindowTest : ::testing::Test, testing::WindowRig {
  testing::ScriptedCar car{device};
};

TEST_F(CodesWindowTest, ShowsCodesInWordsWithFreezeFrameAndClearsOnlyAfterAYes) {
  car.answers = {
      {QStringLiteral("ATDPN"), "A2"},
      {QStringLiteral("0100"), "48 6B 10 41 00 BE 1F B8 10 C5"},
      {QStringLiteral("0101"), "48 6B 10 41 01 82 07 65 04 A1"},
      {QStringLiteral("03"), "48 6B 10 43 01 71 03 00 00 00 5E"},
      {QStringLiteral("020200"), "48 6B 10 42 02 00 01 71 33"},
      {QStringLiteral("020000"), "48 6B 10 42 00 00 08 00 00 00 C2"},
      {QStringLiteral("020500"), "48 6B 10 42 05 00 7B 10"},
      {QStringLiteral("04"), "48 6B 10 44 5B"},
  };
  auto* w = new CodesWindow(ports, clock, reporter);
  w->show();
  QCoreApplication::processEvents();  // it reads once it is up
  car.runUntil(clock, [&] { return w->codesTable()->rowCount() == 2; });

  EXPECT_EQ(w->protocolLabel()->text(), QStringLiteral("Protocol: SAE J1850 VPW (10.4 kbaud)"));
  EXPECT_EQ(w->milLabel()->text(), QStringLiteral("MIL: on (engine (10): 2 stored codes)"));
  EXPECT_EQ(column(w->codesTable(), 0) + column(w->codesTable(), 1) + column(w->codesTable(), 2),
            (QStringList{"P0171", "P0300", "stored", "stored", "engine (10)", "engine (10)"}));
  EXPECT_TRUE(column(w->codesTable(), 3).join("|").contains("too lean (bank 1)"));
  EXPECT_EQ(column(w->freezeTable(), 1).mid(0, 2), (QStringList{"P0171", "83 °C"}));
  EXPECT_TRUE(w->readinessText()->toPlainText().contains("  misfire: complete\n"));
  EXPECT_TRUE(w->readinessText()->toPlainText().contains("  evaporative system: incomplete\n"));
  EXPECT_TRUE(w->readButton()->isEnabled());
  EXPECT_TRUE(told.isEmpty()) << told.join("|").toStdString();

  car.onLine = [&](const QString& line) {
    if (line == QLatin1String("04")) car.answers[QStringLiteral("03")] = "48 6B 10 43 00 00 00 00 00 00 9C";
  };
  Yes yes;
  w->setConfirm(&yes);
  w->clearButton()->click();
  EXPECT_FALSE(w->clearButton()->isEnabled());  // while it clears and reads again
  car.runUntil(clock, [&] { return w->codesTable()->rowCount() == 0; });
  EXPECT_EQ(yes.asked, 1);
  EXPECT_TRUE(car.sent.contains("04"));
  EXPECT_EQ(w->codesTable()->rowCount(), 0);
  EXPECT_TRUE(w->clearButton()->isEnabled());
  w->close();
  EXPECT_FALSE(device.isOpen());
  QCoreApplication::processEvents();
}

// Clearing the car's codes takes a deliberate Yes.
TEST_F(CodesWindowTest, ClearQuestionAnswersNoToEnter) {
  QWidget parent;
  MessageBoxConfirm confirm(&parent);
  bool asked = false;
  QTimer::singleShot(0, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box) return;
    asked = true;
    QWidget* target = box->focusWidget() ? box->focusWidget() : box;
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(target, &enter);
  });
  EXPECT_FALSE(confirm.ask(QStringLiteral("Clear the codes?")));
  EXPECT_TRUE(asked);
}

}  // namespace
}  // namespace tarvex
