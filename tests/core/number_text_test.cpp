#include "core/number_text.h"

#include <gtest/gtest.h>

namespace tarvex {
namespace {

TEST(HexToDec, ReadsOnlyUpperCaseHexDigits) {
  const std::pair<const char*, int> cases[] = {
      {"", 0},           {" 1a", 1},         {"NO DATA", 0xDAA},
      {"12 34", 0x1234}, {" 1A F8", 0x1AF8}, {" FF FF", 0xFFFF},
      {" 1A\r\r", 0x1A}, {">", 0},
  };
  for (const auto& [text, value] : cases) EXPECT_EQ(HexToDec(QString::fromLatin1(text)), value) << text;
}

// Fifteen significant digits, no exponent, the locale's separator.
TEST(DecimalText, FifteenSignificantDigitsWithoutExponent) {
  EXPECT_EQ(decimalText(1e-7 / 3, QLocale::c()), QStringLiteral("0.0000000333333333333333"));
  EXPECT_EQ(decimalText(123456789012345678.0, QLocale::c()), QStringLiteral("123456789012346000"));
  EXPECT_EQ(decimalText(1726.5, QLocale(QLocale::German)), QStringLiteral("1726,5"));
  EXPECT_EQ(decimalText(-0.78125, QLocale(QLocale::French)), QStringLiteral("-0,78125"));
}

TEST(ReadInt16, RoundsHalvesToEven) {
  const QLocale c(QLocale::C);
  const std::pair<const char*, std::optional<std::int16_t>> cases[] = {
      {"1726", 1726}, {"1726.5", 1726}, {"1727.5", 1728},        {"16383.75", 16384}, {"0.5", 0},
      {"-2.5", -2},   {"60", 60},       {"Speed", std::nullopt}, {"", std::nullopt},  {"40000", std::nullopt},
  };
  for (const auto& [text, value] : cases) EXPECT_EQ(readInt16(QLatin1String(text), c), value) << text;
  EXPECT_EQ(readInt16(QStringLiteral("1726,5"), QLocale(QLocale::German)), 1726);
}

}  // namespace
}  // namespace tarvex
