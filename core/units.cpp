#include "core/units.h"

#include <QStringList>
#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "core/text.h"

namespace tarvex {
namespace {

using namespace std::string_view_literals;

// Published definitions: the international mile and pound, the US and the
// imperial gallon, the pound-force over a foot, the psi and the inch of
// mercury at 0 °C.
constexpr double kKmPerMile = 1.609344;
constexpr double kLitresPerUsGallon = 3.785411784;
constexpr double kLitresPerImperialGallon = 4.54609;
constexpr double kGramsPerPound = 453.59237;
constexpr double kNewtonMetresPerPoundFoot = 1.3558179483314004;
constexpr double kKpaPerPsi = 6.894757293168361;
constexpr double kKpaPerInchOfMercury = 3.386389;

// How a unit's value relates to its quantity's base (the program's own unit):
// base = (value - zero) * num / den, or for an inverse, base = num / value.
struct Row {
  std::string_view spelling;  // as obd/ and the labels write it
  Quantity quantity;
  double num;
  double den = 1;
  double zero = 0;
  bool inverse = false;
};

struct Choosable {
  Unit unit;
  const char* key;
  Row row;
};

// In the order of the Unit enumeration.
constexpr Choosable kUnits[] = {
    {Unit::kKmPerHour, "km/h", {"km/h"sv, Quantity::kSpeed, 1}},
    {Unit::kMilesPerHour, "mph", {"mph"sv, Quantity::kSpeed, kKmPerMile}},
    {Unit::kKilometre, "km", {"km"sv, Quantity::kDistance, 1}},
    {Unit::kMile, "mi", {"mi"sv, Quantity::kDistance, kKmPerMile}},
    {Unit::kCelsius, "C", {"°C"sv, Quantity::kTemperature, 1}},
    {Unit::kFahrenheit, "F", {"°F"sv, Quantity::kTemperature, 5, 9, 32}},
    {Unit::kKilopascal, "kPa", {"kPa"sv, Quantity::kPressure, 1}},
    {Unit::kBar, "bar", {"bar"sv, Quantity::kPressure, 100}},
    {Unit::kPsi, "psi", {"psi"sv, Quantity::kPressure, kKpaPerPsi}},
    {Unit::kInchOfMercury, "inHg", {"inHg"sv, Quantity::kPressure, kKpaPerInchOfMercury}},
    {Unit::kLitre, "L", {"L"sv, Quantity::kVolume, 1}},
    {Unit::kUsGallon, "gal-us", {"US gal"sv, Quantity::kVolume, kLitresPerUsGallon}},
    {Unit::kImperialGallon, "gal-uk", {"imp gal"sv, Quantity::kVolume, kLitresPerImperialGallon}},
    {Unit::kLitresPerHour, "L/h", {"L/h"sv, Quantity::kFlow, 1}},
    {Unit::kUsGallonsPerHour, "gal-us/h", {"US gal/h"sv, Quantity::kFlow, kLitresPerUsGallon}},
    {Unit::kImperialGallonsPerHour, "gal-uk/h", {"imp gal/h"sv, Quantity::kFlow, kLitresPerImperialGallon}},
    {Unit::kLitresPer100Km, "L/100km", {"L/100 km"sv, Quantity::kEconomy, 1}},
    {Unit::kKmPerLitre, "km/L", {"km/L"sv, Quantity::kEconomy, 100, 1, 0, true}},
    // x L/100 km is 100 km / x L; in miles per gallon, 100 / 1.609344 miles per
    // x / 3.785411784 gallons: 235.214583... / x.
    {Unit::kMpgUs,
     "mpg-us",
     {"mpg (US)"sv, Quantity::kEconomy, 100 * kLitresPerUsGallon / kKmPerMile, 1, 0, true}},
    {Unit::kMpgUk,
     "mpg-uk",
     {"mpg (UK)"sv, Quantity::kEconomy, 100 * kLitresPerImperialGallon / kKmPerMile, 1, 0, true}},
    {Unit::kGramsPerSecond, "g/s", {"g/s"sv, Quantity::kAirFlow, 1}},
    {Unit::kPoundsPerMinute, "lb/min", {"lb/min"sv, Quantity::kAirFlow, kGramsPerPound, 60}},
    {Unit::kNewtonMetre, "Nm", {"Nm"sv, Quantity::kTorque, 1}},
    {Unit::kPoundFoot, "lbft", {"lb·ft"sv, Quantity::kTorque, kNewtonMetresPerPoundFoot}},
};

constexpr bool inEnumOrder() {
  for (std::size_t i = 0; i < std::size(kUnits); ++i)
    if (static_cast<std::size_t>(kUnits[i].unit) != i) return false;
  return true;
}
static_assert(inEnumOrder(), "entry() finds a unit by its place");

// Spellings that are read but never chosen.
constexpr Row kReadOnly[] = {
    {"Pa"sv, Quantity::kPressure, 0.001},
    {"L/100km"sv, Quantity::kEconomy, 1},
};

const Choosable& entry(Unit unit) {
  return kUnits[static_cast<std::size_t>(unit)];
}

const Row* findRow(std::string_view spelling) {
  for (const Choosable& c : kUnits)
    if (c.row.spelling == spelling) return &c.row;
  for (const Row& r : kReadOnly)
    if (r.spelling == spelling) return &r;
  return nullptr;
}

// k / x: an infinity gives 0 and NaN stays NaN as they are; a zero of either
// sign is infinitely far, never minus infinity.
double inverse(double x, double k) {
  return x == 0 ? std::numeric_limits<double>::infinity() : k / x;
}

double toBase(double value, const Row& row) {
  if (!row.inverse) return (value - row.zero) * row.num / row.den;
  return inverse(value, row.num);
}

double fromBase(double base, const Row& row) {
  if (!row.inverse) return base * row.den / row.num + row.zero;
  return inverse(base, row.num);
}

constexpr Unit kMetric[kQuantityCount] = {Unit::kKmPerHour,      Unit::kKilometre,      Unit::kCelsius,
                                          Unit::kKilopascal,     Unit::kLitre,          Unit::kLitresPerHour,
                                          Unit::kLitresPer100Km, Unit::kGramsPerSecond, Unit::kNewtonMetre};
constexpr Unit kUs[kQuantityCount] = {Unit::kMilesPerHour, Unit::kMile,           Unit::kFahrenheit,
                                      Unit::kPsi,          Unit::kUsGallon,       Unit::kUsGallonsPerHour,
                                      Unit::kMpgUs,        Unit::kGramsPerSecond, Unit::kPoundFoot};
constexpr Unit kUk[kQuantityCount] = {Unit::kMilesPerHour, Unit::kMile,           Unit::kCelsius,
                                      Unit::kPsi,          Unit::kLitre,          Unit::kLitresPerHour,
                                      Unit::kMpgUk,        Unit::kGramsPerSecond, Unit::kPoundFoot};

const char* const kQuantityKeys[kQuantityCount] = {"speed", "distance", "temperature", "pressure", "volume",
                                                   "flow",  "economy",  "airflow",     "torque"};

struct Preset {
  const char* name;
  UnitChoice (*make)();
};
const Preset kPresets[] = {{"metric", UnitChoice::metric}, {"us", UnitChoice::us}, {"uk", UnitChoice::uk}};

void fail(QString* error, const QString& reason) {
  if (error) *error = reason;
}

}  // namespace

Quantity quantityOf(Unit unit) {
  return entry(unit).row.quantity;
}

std::span<const Unit> unitsOf(Quantity quantity) {
  static const auto lists = [] {
    std::array<std::vector<Unit>, kQuantityCount> out;
    for (const Choosable& c : kUnits) out[static_cast<std::size_t>(c.row.quantity)].push_back(c.unit);
    return out;
  }();
  return lists[static_cast<std::size_t>(quantity)];
}

QString unitLabel(Unit unit) {
  return toQString(entry(unit).row.spelling);
}

QString unitKey(Unit unit) {
  return QString::fromLatin1(entry(unit).key);
}

QString quantityKey(Quantity quantity) {
  return QString::fromLatin1(kQuantityKeys[static_cast<std::size_t>(quantity)]);
}

UnitChoice::UnitChoice() : UnitChoice(kMetric) {}

UnitChoice::UnitChoice(const Unit (&units)[kQuantityCount]) {
  std::copy(std::begin(units), std::end(units), units_.begin());
}

UnitChoice UnitChoice::metric() {
  return UnitChoice(kMetric);
}

UnitChoice UnitChoice::us() {
  return UnitChoice(kUs);
}

UnitChoice UnitChoice::uk() {
  return UnitChoice(kUk);
}

QString UnitChoice::toText() const {
  const Preset* nearest = nullptr;
  int fewest = kQuantityCount + 1;
  for (const Preset& p : kPresets) {
    const UnitChoice preset = p.make();
    int differ = 0;
    for (std::size_t q = 0; q < units_.size(); ++q) differ += units_[q] != preset.units_[q];
    if (differ < fewest) {
      fewest = differ;
      nearest = &p;
    }
  }
  QString text = QString::fromLatin1(nearest->name);
  const UnitChoice preset = nearest->make();
  for (std::size_t q = 0; q < units_.size(); ++q)
    if (units_[q] != preset.units_[q])
      text += QStringLiteral(",%1=%2").arg(quantityKey(Quantity(q)), unitKey(units_[q]));
  return text;
}

std::optional<UnitChoice> UnitChoice::fromText(const QString& text, QString* error) {
  UnitChoice choice = metric();
  const QStringList items = text.split(QLatin1Char(','));
  if (text.trimmed().isEmpty()) {
    fail(error, QStringLiteral("no units given: metric, us or uk"));
    return std::nullopt;
  }
  for (const QString& raw : items) {
    const QString item = raw.trimmed();
    const qsizetype equals = item.indexOf(QLatin1Char('='));
    if (equals < 0) {
      const Preset* found = nullptr;
      for (const Preset& p : kPresets)
        if (item.compare(QLatin1String(p.name), Qt::CaseInsensitive) == 0) found = &p;
      if (!found) {
        fail(error,
             QStringLiteral("\"%1\" is no set of units: metric, us or uk, or quantity=unit").arg(item));
        return std::nullopt;
      }
      choice = found->make();
      continue;
    }
    const QString name = item.left(equals).trimmed();
    const QString wanted = item.mid(equals + 1).trimmed();
    std::optional<Quantity> quantity;
    QStringList names;
    for (int q = 0; q < kQuantityCount; ++q) {
      names << quantityKey(Quantity(q));
      if (name.compare(names.back(), Qt::CaseInsensitive) == 0) quantity = Quantity(q);
    }
    if (!quantity) {
      fail(error, QStringLiteral("\"%1\" is no quantity: %2").arg(name, names.join(QStringLiteral(", "))));
      return std::nullopt;
    }
    std::optional<Unit> unit;
    QStringList keys;
    for (Unit u : unitsOf(*quantity)) {
      keys << unitKey(u);
      if (wanted.compare(keys.back(), Qt::CaseInsensitive) == 0 ||
          wanted.compare(unitLabel(u), Qt::CaseInsensitive) == 0)
        unit = u;
    }
    if (!unit) {
      fail(error,
           QStringLiteral("\"%1\" is no unit of %2: %3").arg(wanted, name, keys.join(QStringLiteral(", "))));
      return std::nullopt;
    }
    choice.set(*unit);
  }
  return choice;
}

Converted convert(double value, std::string_view unit, const UnitChoice& choice) {
  const Row* from = findRow(unit);
  if (!from) return {value, toQString(unit)};
  const Unit to = choice.unit(from->quantity);
  if (to == Unit::kKilopascal && unit == "Pa"sv) return {value, QStringLiteral("Pa")};
  const Row& row = entry(to).row;
  if (from == &row) return {value, unitLabel(to)};
  return {fromBase(toBase(value, *from), row), unitLabel(to)};
}

Converted convert(double value, const QString& unit, const UnitChoice& choice) {
  const QByteArray utf8 = unit.toUtf8();
  return convert(value, std::string_view(utf8.constData(), std::size_t(utf8.size())), choice);
}

}  // namespace tarvex
