#include "app/preferences.h"

#include <QFile>
#include <QFileInfo>

namespace tarvex {
namespace {

const QString kUnits = QStringLiteral("units");
const QString kParametersPath = QStringLiteral("parameters/path");
const QString kParametersContent = QStringLiteral("parameters/content");
const QString kTripFuel = QStringLiteral("trip/fuel");
const QString kTripCalibration = QStringLiteral("trip/calibration");

}  // namespace

UnitChoice Preferences::units() const {
  return UnitChoice::fromText(settings_.value(kUnits).toString()).value_or(UnitChoice::metric());
}

void Preferences::setUnits(const UnitChoice& units) {
  settings_.setValue(kUnits, units.toText());
}

KeptParameters Preferences::parameters() const {
  return {settings_.value(kParametersPath).toString(), settings_.value(kParametersContent).toByteArray()};
}

void Preferences::setParameters(const KeptParameters& parameters) {
  settings_.setValue(kParametersPath, parameters.path);
  settings_.setValue(kParametersContent, parameters.content);
}

TripSettings Preferences::trip() const {
  TripSettings out;
  if (settings_.value(kTripFuel).toString() == QLatin1String("diesel")) out.fuel = trip::Fuel::kDiesel;
  bool ok = false;
  const double factor = settings_.value(kTripCalibration).toDouble(&ok);
  if (ok && factor > 0) out.calibration = factor;
  return out;
}

void Preferences::setTrip(const TripSettings& trip) {
  settings_.setValue(kTripFuel,
                     trip.fuel == trip::Fuel::kDiesel ? QStringLiteral("diesel") : QStringLiteral("petrol"));
  settings_.setValue(kTripCalibration, trip.calibration);
}

ImportedParameters importParameters(const QString& path) {
  ImportedParameters out;
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    out.failure = file.errorString();
    return out;
  }
  out.kept = {QFileInfo(path).absoluteFilePath(), file.readAll()};
  obd::UserParameterFile read = obd::readUserParameters(out.kept.content);
  out.parameters = std::move(read.parameters);
  const QString name = QFileInfo(path).fileName();
  for (const obd::RefusedLine& r : read.refused)
    out.leftOut << QStringLiteral("%1 line %2: %3").arg(name).arg(r.line).arg(r.reason);
  return out;
}

}  // namespace tarvex
