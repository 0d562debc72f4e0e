#pragma once

#include <QDialog>
#include <array>
#include <optional>

#include "core/units.h"
#include "trip/trip_computer.h"

class QComboBox;
class QDoubleSpinBox;

namespace tarvex {

// What the trip computer is told of the car: its fuel, and the factor its
// fuel figures are multiplied by (from a fill-up).
struct TripSettings {
  trip::Fuel fuel = trip::Fuel::kPetrol;
  double calibration = 1.0;
  bool operator==(const TripSettings&) const = default;
};

// View > Units...: a preset (metric, US, UK) and a unit for each quantity. A
// preset sets every quantity; a quantity changed by hand shows the preset it
// now matches, or "Custom".
class UnitsDialog : public QDialog {
  Q_OBJECT
 public:
  explicit UnitsDialog(const UnitChoice& initial, QWidget* parent = nullptr);
  UnitChoice choice() const;
  QComboBox* presetBox() const { return preset_; }
  QComboBox* unitBox(Quantity quantity) const { return units_[std::size_t(quantity)]; }

 private:
  void showChoice(const UnitChoice& choice);
  void showPreset();

  QComboBox* preset_;
  std::array<QComboBox*, kQuantityCount> units_{};
  bool showing_ = false;
};

// View > Trip computer...: the fuel, and the calibration factor, typed or
// worked out from a fill-up (the pump's litres over the trip's).
class TripDialog : public QDialog {
  Q_OBJECT
 public:
  explicit TripDialog(const TripSettings& initial, QWidget* parent = nullptr);
  TripSettings settings() const;
  QComboBox* fuelBox() const { return fuel_; }
  QDoubleSpinBox* calibrationBox() const { return calibration_; }
  QDoubleSpinBox* pumpBox() const { return pump_; }
  QDoubleSpinBox* tripBox() const { return trip_; }
  // Sets the factor from the fill-up boxes; false when they give none.
  bool workOutCalibration();

 private:
  QComboBox* fuel_;
  QDoubleSpinBox* calibration_;
  QDoubleSpinBox* pump_;
  QDoubleSpinBox* trip_;
};

// Asks the user for settings: the program with the dialogs above, tests from
// a script. Nothing when cancelled.
class SettingsAsker {
 public:
  virtual ~SettingsAsker() = default;
  virtual std::optional<UnitChoice> chooseUnits(QWidget* parent, const UnitChoice& now) = 0;
  virtual std::optional<TripSettings> chooseTrip(QWidget* parent, const TripSettings& now) = 0;
};

class DialogSettingsAsker final : public SettingsAsker {
 public:
  std::optional<UnitChoice> chooseUnits(QWidget* parent, const UnitChoice& now) override;
  std::optional<TripSettings> chooseTrip(QWidget* parent, const TripSettings& now) override;
};

}  // namespace tarvex
