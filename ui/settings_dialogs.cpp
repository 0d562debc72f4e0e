#include "ui/settings_dialogs.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace tarvex {
namespace {

const char* const kQuantityNames[kQuantityCount] = {
    QT_TRANSLATE_NOOP("UnitsDialog", "Speed"),        QT_TRANSLATE_NOOP("UnitsDialog", "Distance"),
    QT_TRANSLATE_NOOP("UnitsDialog", "Temperature"),  QT_TRANSLATE_NOOP("UnitsDialog", "Pressure"),
    QT_TRANSLATE_NOOP("UnitsDialog", "Volume"),       QT_TRANSLATE_NOOP("UnitsDialog", "Fuel flow"),
    QT_TRANSLATE_NOOP("UnitsDialog", "Fuel economy"), QT_TRANSLATE_NOOP("UnitsDialog", "Air flow"),
    QT_TRANSLATE_NOOP("UnitsDialog", "Torque"),
};

struct Preset {
  const char* name;
  UnitChoice (*make)();
};
const Preset kPresets[] = {{QT_TRANSLATE_NOOP("UnitsDialog", "Metric"), UnitChoice::metric},
                           {QT_TRANSLATE_NOOP("UnitsDialog", "US"), UnitChoice::us},
                           {QT_TRANSLATE_NOOP("UnitsDialog", "UK"), UnitChoice::uk}};
constexpr int kCustom = int(std::size(kPresets));

QDialogButtonBox* okCancel(QDialog* dialog) {
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
  return buttons;
}

}  // namespace

UnitsDialog::UnitsDialog(const UnitChoice& initial, QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("UnitsDialog"));
  setWindowTitle(tr("Units"));
  preset_ = new QComboBox;
  preset_->setObjectName(QStringLiteral("cb_preset"));
  for (const Preset& p : kPresets) preset_->addItem(tr(p.name));
  preset_->addItem(tr("Custom"));
  auto* form = new QFormLayout;
  form->addRow(tr("Units:"), preset_);
  for (int q = 0; q < kQuantityCount; ++q) {
    auto* box = new QComboBox;
    box->setObjectName(QStringLiteral("cb_") + quantityKey(Quantity(q)));
    for (const Unit u : unitsOf(Quantity(q))) box->addItem(unitLabel(u), int(u));
    form->addRow(tr(kQuantityNames[q]) + QLatin1Char(':'), box);
    units_[std::size_t(q)] = box;
    connect(box, &QComboBox::currentIndexChanged, this, [this] {
      if (!showing_) showPreset();
    });
  }
  connect(preset_, &QComboBox::currentIndexChanged, this, [this](int index) {
    if (!showing_ && index >= 0 && index < kCustom) showChoice(kPresets[index].make());
  });
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  auto* about =
      new QLabel(tr("Standard data, its log, the charts and the trouble codes' freeze frames show "
                    "values in these units; the main window, the gauges and the main window's log "
                    "keep their own."));
  about->setWordWrap(true);
  layout->addWidget(about);
  layout->addWidget(okCancel(this));
  showChoice(initial);
}

UnitChoice UnitsDialog::choice() const {
  UnitChoice choice;
  for (QComboBox* box : units_) choice.set(Unit(box->currentData().toInt()));
  return choice;
}

void UnitsDialog::showChoice(const UnitChoice& choice) {
  showing_ = true;
  for (int q = 0; q < kQuantityCount; ++q) {
    QComboBox* box = units_[std::size_t(q)];
    box->setCurrentIndex(box->findData(int(choice.unit(Quantity(q)))));
  }
  showing_ = false;
  showPreset();
}

void UnitsDialog::showPreset() {
  const UnitChoice now = choice();
  int index = kCustom;
  for (int p = 0; p < kCustom; ++p)
    if (kPresets[p].make() == now) index = p;
  showing_ = true;
  preset_->setCurrentIndex(index);
  showing_ = false;
}

TripDialog::TripDialog(const TripSettings& initial, QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("TripDialog"));
  setWindowTitle(tr("Trip computer"));
  fuel_ = new QComboBox;
  fuel_->setObjectName(QStringLiteral("cb_fuel"));
  fuel_->addItem(tr("Petrol"), int(trip::Fuel::kPetrol));
  fuel_->addItem(tr("Diesel"), int(trip::Fuel::kDiesel));
  fuel_->setCurrentIndex(fuel_->findData(int(initial.fuel)));
  calibration_ = new QDoubleSpinBox;
  calibration_->setObjectName(QStringLiteral("sb_calibration"));
  calibration_->setDecimals(3);
  calibration_->setRange(0.5, 2.0);
  calibration_->setSingleStep(0.01);
  calibration_->setValue(initial.calibration);
  const auto litres = [](const char* name) {
    auto* box = new QDoubleSpinBox;
    box->setObjectName(QString::fromLatin1(name));
    box->setDecimals(2);
    box->setRange(0, 500);
    box->setSuffix(QStringLiteral(" L"));
    return box;
  };
  pump_ = litres("sb_pump");
  trip_ = litres("sb_trip");
  auto* workOut = new QPushButton(tr("Work it out"));
  workOut->setObjectName(QStringLiteral("pb_workout"));
  connect(workOut, &QPushButton::clicked, this, [this] { workOutCalibration(); });
  auto* fillUp = new QHBoxLayout;
  fillUp->addWidget(pump_);
  fillUp->addWidget(new QLabel(tr("at the pump,")));
  fillUp->addWidget(trip_);
  fillUp->addWidget(new QLabel(tr("on the trip")));
  fillUp->addWidget(workOut);

  auto* form = new QFormLayout;
  form->addRow(tr("Fuel:"), fuel_);
  form->addRow(tr("Calibration factor:"), calibration_);
  form->addRow(tr("From a fill-up:"), fillUp);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  auto* about = new QLabel(
      tr("The trip computer in Standard data works out the fuel from the car's fuel rate, or from "
         "its air flow at the fuel's ideal mixture, and multiplies it by the factor. Fill the tank, "
         "drive, fill it again: the pump's litres and the trip's give the factor."));
  about->setWordWrap(true);
  layout->addWidget(about);
  layout->addWidget(okCancel(this));
}

TripSettings TripDialog::settings() const {
  return {trip::Fuel(fuel_->currentData().toInt()), calibration_->value()};
}

bool TripDialog::workOutCalibration() {
  const std::optional<double> factor =
      trip::calibrationFromFillUp(pump_->value(), trip_->value(), calibration_->value());
  if (factor) calibration_->setValue(*factor);
  return factor.has_value();
}

std::optional<UnitChoice> DialogSettingsAsker::chooseUnits(QWidget* parent, const UnitChoice& now) {
  UnitsDialog dialog(now, parent);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return dialog.choice();
}

std::optional<TripSettings> DialogSettingsAsker::chooseTrip(QWidget* parent, const TripSettings& now) {
  TripDialog dialog(now, parent);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return dialog.settings();
}

}  // namespace tarvex
