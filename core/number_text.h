#pragma once

#include <QLocale>
#include <QString>
#include <cstdint>
#include <optional>

namespace tarvex {

// Reads the upper-case hexadecimal digits of a text as one unsigned number,
// skipping every other character (blanks, line ends, the prompt, lower-case
// letters). No digit gives 0.
std::int32_t HexToDec(const QString& hex);

// Whole numbers: plain digits, a hyphen-minus when negative, no grouping.
QString wholeText(long long value);

// Doubles: rounded to 15 significant digits, never an exponent, no trailing
// zeros, the locale's decimal separator, a 0 before the separator below 1.
QString decimalText(double value, const QLocale& locale = QLocale());

// A box's text read back as a number by the locale's rules.
std::optional<double> readNumber(const QString& text, const QLocale& locale = QLocale());

// A box's text read back into a 16-bit integer: nearest whole number, halves
// to the even neighbour. Nothing when the text is not a number or out of range.
std::optional<std::int16_t> readInt16(const QString& text, const QLocale& locale = QLocale());

}  // namespace tarvex
