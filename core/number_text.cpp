#include "core/number_text.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace tarvex {

std::int32_t HexToDec(const QString& hex) {
  std::uint32_t value = 0;
  for (const QChar c : hex) {
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9') {
      value = value * 16 + (u - u'0');
    } else if (u >= u'A' && u <= u'F') {
      value = value * 16 + (u - u'A' + 10);
    }
  }
  return static_cast<std::int32_t>(value);
}

QString wholeText(long long value) {
  return QString::number(value);
}

QString decimalText(double value, const QLocale& locale) {
  if (!std::isfinite(value)) return locale.toString(value);
  if (value == 0) return QStringLiteral("0");

  // Scientific form with 15 significant digits gives the exact rounding;
  // the digits are then laid out in plain positional form.
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "%.14e", std::fabs(value));
  QString digits;
  const char* p = buffer;
  for (; *p && *p != 'e'; ++p) {
    if (*p >= '0' && *p <= '9') digits += QLatin1Char(*p);
  }
  const int exponent = std::atoi(p + 1);
  const int point = exponent + 1;  // digits before the separator

  QString integerPart, fraction;
  if (point <= 0) {
    integerPart = QStringLiteral("0");
    fraction = QString(-point, QLatin1Char('0')) + digits;
  } else if (point >= digits.size()) {
    integerPart = digits + QString(point - digits.size(), QLatin1Char('0'));
  } else {
    integerPart = digits.left(point);
    fraction = digits.mid(point);
  }
  while (fraction.endsWith(QLatin1Char('0'))) fraction.chop(1);

  QString text = value < 0 ? QStringLiteral("-") : QString();
  text += integerPart;
  if (!fraction.isEmpty()) text += locale.decimalPoint() + fraction;
  return text;
}

std::optional<double> readNumber(const QString& text, const QLocale& locale) {
  bool ok = false;
  const double value = locale.toDouble(text.trimmed(), &ok);
  if (!ok || !std::isfinite(value)) return std::nullopt;
  return value;
}

std::optional<std::int16_t> readInt16(const QString& text, const QLocale& locale) {
  const std::optional<double> value = readNumber(text, locale);
  if (!value) return std::nullopt;
  // Under the default rounding mode nearbyint sends halves to the even neighbour.
  const double rounded = std::nearbyint(*value);
  if (rounded < -32768 || rounded > 32767) return std::nullopt;
  return static_cast<std::int16_t>(rounded);
}

}  // namespace tarvex
