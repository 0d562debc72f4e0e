#pragma once

#include <QByteArray>
#include <QSettings>
#include <QString>
#include <vector>

#include "core/units.h"
#include "obd/user_parameters.h"
#include "ui/settings_dialogs.h"

namespace tarvex {

// The user's own parameters as kept: the file they came from and what it held
// then. The content is kept, not only the path, so that a file moved or
// deleted since does not take them away.
struct KeptParameters {
  QString path;
  QByteArray content;
  bool isEmpty() const { return content.isEmpty(); }
};

// What the user chose and a later run keeps: the units, the own parameters,
// the trip computer's fuel and calibration. In the settings file beside the
// remembered port (keys "units", "parameters/path", "parameters/content",
// "trip/fuel", "trip/calibration"); what is missing or unreadable there reads
// as the defaults (metric, none, petrol at 1).
class Preferences {
 public:
  explicit Preferences(QSettings& settings) : settings_(settings) {}

  UnitChoice units() const;
  void setUnits(const UnitChoice& units);
  KeptParameters parameters() const;
  void setParameters(const KeptParameters& parameters);
  TripSettings trip() const;
  void setTrip(const TripSettings& trip);

 private:
  QSettings& settings_;
};

// A parameter file read for keeping: the parameters, or the reason it could
// not be read at all, and what was left out of it ("line 4: ..."), in words.
struct ImportedParameters {
  KeptParameters kept;
  std::vector<obd::UserParameter> parameters;
  QStringList leftOut;  // "params.csv line 4: the header \"7E\" is not 3 or 6 hex digits"
  QString failure;      // set: the file could not be read
};
ImportedParameters importParameters(const QString& path);

}  // namespace tarvex
