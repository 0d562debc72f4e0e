#include "core/units.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace tarvex {
namespace {

UnitChoice with(UnitChoice base, Unit unit) {
  base.set(unit);
  return base;
}

// By hand to 9 digits from 1 mi = 1.609344 km, 1 US gal = 3.785411784 L, 1 imp gal = 4.54609 L,
// 1 psi = 6.894757293168361 kPa, 1 inHg = 3.386389 kPa, 1 lb = 453.59237 g, 1 lbf ft = 1.3558179483314 N m.
TEST(Units, ConvertFromTheProgramsUnitsWithTheirLabels) {
  const double inf = std::numeric_limits<double>::infinity();
  const std::tuple<double, const char*, UnitChoice, double, const char*> cases[] = {
      {100, "km/h", UnitChoice::us(), 62.1371192, "mph"},
      {100, "km", UnitChoice::uk(), 62.1371192, "mi"},
      {90, "°C", UnitChoice::us(), 194, "°F"},
      {-40, "°C", UnitChoice::us(), -40, "°F"},
      {212, "°F", UnitChoice::metric(), 100, "°C"},  // a user's parameter in °F
      {101.325, "kPa", UnitChoice::us(), 14.6959488, "psi"},
      {101.325, "kPa", with(UnitChoice::us(), Unit::kInchOfMercury), 29.9212524, "inHg"},
      {250, "kPa", with(UnitChoice::metric(), Unit::kBar), 2.5, "bar"},
      {-8, "Pa", UnitChoice::us(), -0.0011603019, "psi"},
      {10, "L", UnitChoice::us(), 2.64172052, "US gal"},
      {10, "L", with(UnitChoice::uk(), Unit::kImperialGallon), 2.19969248, "imp gal"},
      {20, "L/h", UnitChoice::us(), 5.28344105, "US gal/h"},
      {20, "L/h", with(UnitChoice::uk(), Unit::kImperialGallonsPerHour), 4.39938497, "imp gal/h"},
      {10, "L/100 km", UnitChoice::us(), 23.5214583, "mpg (US)"},
      {10, "L/100 km", UnitChoice::uk(), 28.2480936, "mpg (UK)"},
      {8, "L/100 km", with(UnitChoice::metric(), Unit::kKmPerLitre), 12.5, "km/L"},
      {50, "mpg (US)", UnitChoice::metric(), 4.70429167, "L/100 km"},
      {0, "L/100 km", UnitChoice::us(), inf, "mpg (US)"},  // coasting on a fuel cut
      {inf, "L/100 km", UnitChoice::uk(), 0, "mpg (UK)"},  // standing, engine running
      {100, "g/s", with(UnitChoice::us(), Unit::kPoundsPerMinute), 13.2277357, "lb/min"},
      {100, "g/s", UnitChoice::us(), 100, "g/s"},
      {400, "Nm", UnitChoice::us(), 295.024860, "lb·ft"},
      {12, "° before TDC", UnitChoice::us(), 12, "° before TDC"},
  };
  for (const auto& [value, unit, choice, expected, label] : cases) {
    const Converted out = convert(value, std::string_view(unit), choice);
    SCOPED_TRACE(QStringLiteral("%1 %2").arg(value).arg(QString::fromUtf8(unit)).toStdString());
    EXPECT_EQ(out.label, QString::fromUtf8(label));
    const double tolerance = std::isinf(expected) ? 0 : std::abs(expected) * 5e-9 + 1e-12;
    EXPECT_TRUE(out.value == expected || std::abs(out.value - expected) <= tolerance) << out.value;
  }
  EXPECT_TRUE(std::isnan(convert(std::nan(""), std::string_view("L/100 km"), UnitChoice::us()).value));
}

// The text, the choice read (none: refused), and whether it is written back as that text (its
// nearest preset and what differs from it).
TEST(Units, ChoiceFromTextAndBack) {
  const std::tuple<const char*, std::optional<UnitChoice>, bool> cases[] = {
      {"metric", UnitChoice::metric(), true},
      {"us", UnitChoice::us(), true},
      {"uk", UnitChoice::uk(), true},
      {"uk,temperature=F", with(UnitChoice::uk(), Unit::kFahrenheit), true},
      {"metric,pressure=bar,airflow=lb/min",
       with(with(UnitChoice::metric(), Unit::kBar), Unit::kPoundsPerMinute), true},
      {"US", UnitChoice::us(), false},
      {" uk , temperature = °F ", with(UnitChoice::uk(), Unit::kFahrenheit), false},
      {"us,metric", UnitChoice::metric(), false},
      {"economy=km/l", with(UnitChoice::metric(), Unit::kKmPerLitre), false},
      {"Economy=mpg (UK)", with(UnitChoice::metric(), Unit::kMpgUk), false},
      {"", std::nullopt, false},
      {"imperial", std::nullopt, false},
      {"colour=red", std::nullopt, false},
      {"speed=F", std::nullopt, false},
      {"us,", std::nullopt, false},
  };
  for (const auto& [text, choice, told] : cases) {
    QString error;
    EXPECT_EQ(UnitChoice::fromText(QString::fromUtf8(text), &error), choice) << text;
    EXPECT_EQ(error.isEmpty(), choice.has_value()) << text;
    EXPECT_TRUE(!told || choice->toText() == QLatin1String(text)) << text;
  }
  QString error;
  UnitChoice::fromText(QStringLiteral("speed=F"), &error);
  EXPECT_EQ(error, QStringLiteral("\"F\" is no unit of speed: km/h, mph"));
}

}  // namespace
}  // namespace tarvex
