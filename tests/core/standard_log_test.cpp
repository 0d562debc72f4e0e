#include "standard/standard_log.h"

#include <gtest/gtest.h>

#include <QLocale>
#include <QTemporaryDir>
#include <QTimeZone>
#include <cmath>

#include "replay/log_reader.h"

namespace tarvex {
namespace {

TEST(StandardLog, DecimalsFollowTheStep) {
  const std::pair<double, std::optional<int>> cases[] = {
      {0.25, 2},         // engine speed
      {100 / 255.0, 2},  // percent: 0.39
      {0.5, 1},          // timing advance
      {1.8, 1},          // one count of a °C byte in °F
      {10, 0},           {0.1, 1},
      {0.0996, 1},       // rounds up to 0.10
      {0.005, 3},        // oxygen sensor volts
      {2 / 65536.0, 6},  // lambda: 0.000031
      {0, std::nullopt}, {INFINITY, std::nullopt},
  };
  for (const auto& [step, decimals] : cases) EXPECT_EQ(decimalsForStep(step), decimals) << step;
}

TEST(StandardLog, TimeAndOffset) {
  const std::pair<int, const char*> cases[] = {
      {7200, "+02:00"}, {-5 * 3600, "-05:00"}, {-(3 * 3600 + 1800), "-03:30"}, {0, "+00:00"}};
  for (const auto& [offset, zone] : cases) {
    const QDateTime when(QDate(2026, 6, 1), QTime(8, 0, 0, 250), QTimeZone(offset));
    EXPECT_EQ(standardLogTime(when), "2026-06-01 08:00:00.250");  // the local time, not UTC
    EXPECT_EQ(standardLogUtcOffset(when), zone);
  }
}

const std::vector<LogColumn> kColumns{
    {QStringLiteral("VSS"), QStringLiteral("km/h"), 1},
    {QStringLiteral("ECT"), QStringLiteral("\u00B0C"), 1},
    {QStringLiteral("RPM"), QStringLiteral("rpm"), 0.25},
    {QStringLiteral("Fuel, rate"), QStringLiteral("L/h"), 0.05},
    {QStringLiteral("TRIM"), QStringLiteral("%"), 0.78125},
    {QStringLiteral("MINE"), {}, 0},
};

TEST(StandardLog, HeaderAndLinesInTheUnitsChosenWithADecimalPoint) {
  EXPECT_EQ(standardLogHeader(kColumns, UnitChoice::metric()),
            "\xEF\xBB\xBFTime,UTC offset,VSS [km/h],ECT [\xC2\xB0"
            "C],RPM [rpm],\"Fuel, rate [L/h]\",TRIM [%],MINE\r\n");
  EXPECT_EQ(standardLogHeader(kColumns, UnitChoice::us()),
            "\xEF\xBB\xBFTime,UTC offset,VSS [mph],ECT [\xC2\xB0"
            "F],RPM [rpm],\"Fuel, rate [US gal/h]\",TRIM [%],MINE\r\n");
  const QLocale before;
  QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));  // still a decimal point
  const QDateTime when(QDate(2026, 6, 1), QTime(8, 0, 0, 250), QTimeZone(7200));
  const std::vector<std::optional<double>> values{100, 91, 1726.25, std::nullopt, -99.21875, 1 / 3.0};
  // 100 km/h = 62.137 mph, to 0.62's two decimals; 91 °C = 195.8 °F, to 1.8's one.
  EXPECT_EQ(standardLogLine(when, kColumns, values, UnitChoice::us()),
            "2026-06-01 08:00:00.250,+02:00,62.14,195.8,1726.25,,-99.22,0.333333\r\n");
  EXPECT_EQ(standardLogLine(when, kColumns, values, UnitChoice::metric()),
            "2026-06-01 08:00:00.250,+02:00,100,91,1726.25,,-99.22,0.333333\r\n");
  EXPECT_EQ(standardLogLine(when, kColumns, {0.001, NAN, -0.001, 2, INFINITY}, UnitChoice::metric()),
            "2026-06-01 08:00:00.250,+02:00,0,,0,2,,\r\n");
  QLocale::setDefault(before);
}

// From its start, across midnight; a user's own parameter is read back by replay under its short name,
// in the unit written.
TEST(StandardLog, FileOfHeaderAndLinesFromItsStartThatReplayReadsBack) {
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("standard.csv"));
  StandardLog log;
  const QDateTime start(QDate(2026, 6, 1), QTime(23, 59, 59, 900), QTimeZone(3600));
  ASSERT_TRUE(log.open(path,
                       {kColumns[0], kColumns[2], {QStringLiteral("TFT"), QStringLiteral("\u00B0C"), 1}},
                       UnitChoice::us(), start));
  ASSERT_TRUE(log.write(0.05, {60, 800, 80}));
  ASSERT_TRUE(log.write(0.15, {std::nullopt, 812.5, std::nullopt}));
  log.close();
  QFile file(path);
  EXPECT_TRUE(file.open(QIODevice::ReadOnly));
  // 60 km/h = 37.28 mph; 80 °C = 176 °F.
  EXPECT_EQ(file.readAll(),
            "\xEF\xBB\xBFTime,UTC offset,VSS [mph],RPM [rpm],TFT [\xC2\xB0"
            "F]\r\n"
            "2026-06-01 23:59:59.950,+01:00,37.28,800,176\r\n"
            "2026-06-02 00:00:00.050,+01:00,,812.5,\r\n");
  Readings readings;
  LogReader reader;
  ASSERT_TRUE(reader.load(path, readings).ok());
  const int tft = readings.find(QStringLiteral("TFT"));
  ASSERT_GE(tft, 0);
  EXPECT_EQ(readings.channels()[tft].unit, QStringLiteral("\u00B0F"));
  EXPECT_EQ(readings.series(tft).values, std::vector<float>{176});  // none in the second line
  EXPECT_EQ(readings.series(readings.find(QStringLiteral("RPM"))).values, (std::vector<float>{800, 812.5}));
}

}  // namespace
}  // namespace tarvex
