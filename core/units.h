#pragma once

#include <QString>
#include <array>
#include <optional>
#include <span>
#include <string_view>

namespace tarvex {

// Road distances: the drag strip times the quarter mile with these, and the
// simulated car's own figures are worked out with the same ones.
inline constexpr double kMilesPerKm = 0.62137;
// A quarter mile in kilometres at that rate (0.25 / 0.62137), to 15 digits.
inline constexpr double kQuarterMileKm = 0.402336771971611;

// What a number measures, where the user chooses the unit it is shown in.
enum class Quantity {
  kSpeed,
  kDistance,
  kTemperature,
  kPressure,
  kVolume,
  kFlow,     // volume per time: fuel rate
  kEconomy,  // fuel used per distance, or distance per fuel
  kAirFlow,  // mass per time: the air flow sensor
  kTorque,
};
inline constexpr int kQuantityCount = 9;

// The units a user may choose. The first of each quantity is the program's
// own: the one obd/ gives its values in. Mass air flow offers lb/min for
// those who size turbochargers by it, but every preset keeps g/s, the unit
// service manuals quote on both sides of the Atlantic.
enum class Unit {
  kKmPerHour,
  kMilesPerHour,
  kKilometre,
  kMile,
  kCelsius,
  kFahrenheit,
  kKilopascal,
  kBar,
  kPsi,
  kInchOfMercury,
  kLitre,
  kUsGallon,
  kImperialGallon,
  kLitresPerHour,
  kUsGallonsPerHour,
  kImperialGallonsPerHour,
  kLitresPer100Km,
  kKmPerLitre,
  kMpgUs,
  kMpgUk,
  kGramsPerSecond,
  kPoundsPerMinute,
  kNewtonMetre,
  kPoundFoot,
};

Quantity quantityOf(Unit unit);
// The units of a quantity, the program's own first.
std::span<const Unit> unitsOf(Quantity quantity);
// As shown after a number: "mph", "°F", "US gal/h", "mpg (UK)".
QString unitLabel(Unit unit);
// As settings and the command line write them, ASCII: "mph", "F", "gal-us/h".
QString unitKey(Unit unit);
// "speed", "temperature", "economy" ...
QString quantityKey(Quantity quantity);

// One unit for each quantity. The presets: metric (the program's own units),
// US (mph, miles, °F, psi, US gallons, mpg US, lb·ft) and UK (mph, miles,
// °C, psi, litres, mpg UK, lb·ft): a UK driver buys litres and reads mpg.
class UnitChoice {
 public:
  UnitChoice();  // metric
  static UnitChoice metric();
  static UnitChoice us();
  static UnitChoice uk();

  Unit unit(Quantity quantity) const { return units_[static_cast<std::size_t>(quantity)]; }
  // Chooses a unit for its own quantity.
  void set(Unit unit) { units_[static_cast<std::size_t>(quantityOf(unit))] = unit; }

  // A preset's name ("metric", "us", "uk") when the choice is one; else the
  // nearest preset and what differs: "uk,temperature=F".
  QString toText() const;
  // Reads what toText writes, and any list of presets and quantity=unit
  // pairs, each over the ones before it, from metric on. Case and blanks do
  // not matter; a unit may be given by its key or its label. Nothing, with
  // the reason in `error`, for anything else.
  static std::optional<UnitChoice> fromText(const QString& text, QString* error = nullptr);

  bool operator==(const UnitChoice&) const = default;

 private:
  explicit UnitChoice(const Unit (&units)[kQuantityCount]);

  std::array<Unit, kQuantityCount> units_;
};

// A value with the label of the unit it is in: one comes with the other.
struct Converted {
  double value;
  QString label;
};

// A value in `unit` (as obd/ spells it: "km/h", "°C", "kPa", "L/h", "g/s",
// "km", "Pa", "Nm", or any label above) in the unit `choice` has for its
// quantity. A unit of no quantity above ("%", "rpm", "V") comes back as it
// is. Pascals stay pascals while kPa is chosen (the vapour pressure is small).
// Economy is an inverse: 0 L/100 km is an infinite mpg (+infinity, never a
// number to show), an infinite L/100 km is 0 mpg; NaN stays NaN.
Converted convert(double value, std::string_view unit, const UnitChoice& choice);
Converted convert(double value, const QString& unit, const UnitChoice& choice);

}  // namespace tarvex
