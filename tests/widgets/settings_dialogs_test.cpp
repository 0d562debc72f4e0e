#include "ui/settings_dialogs.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QDoubleSpinBox>

namespace tarvex {
namespace {

// A preset sets every quantity; a hand-made choice shows the preset it
// matches, or "Custom".
TEST(UnitsDialog, PresetsSetEveryQuantityAndHandChoicesShowTheirPreset) {
  UnitsDialog dialog(UnitChoice::metric());
  EXPECT_EQ(dialog.presetBox()->currentText(), QStringLiteral("Metric"));
  dialog.presetBox()->setCurrentIndex(dialog.presetBox()->findText(QStringLiteral("US")));
  EXPECT_EQ(dialog.choice(), UnitChoice::us());
  EXPECT_EQ(dialog.unitBox(Quantity::kSpeed)->currentText(), QStringLiteral("mph"));
  // The UK's: degrees Celsius, litres, litres an hour and imperial miles per gallon.
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
