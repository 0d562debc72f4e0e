#include "scan/decode.h"

#include "core/number_text.h"
#include "link/reply_check.h"
#include "scan/value_boxes.h"

namespace tarvex {

QString fuelStatusText(int code) {
  switch (code) {
    case 1:
      return QStringLiteral("Open Loop");
    case 2:
      return QStringLiteral("Closed Loop");
    case 4:
      return QStringLiteral("Open Loop Driving");
    case 8:
      return QStringLiteral("Open Loop Fault");
    case 16:
      return QStringLiteral("Closed Loop Fault");
    default:
      return {};
  }
}

std::optional<Decoded> decode(const Parameter& row, const QString& out, const QLocale& locale) {
  if (out.size() != 3 * row.bytes || !isWellFormedData(out)) return std::nullopt;

  const std::int32_t n = HexToDec(out);
  const double x = n;
  Decoded d;
  auto write = [&](Box box, QString text) { d.writes.emplace_back(box, std::move(text)); };
  auto number = [&](Box box, double value) { d.values.emplace_back(box, value); };
  auto writeDecimal = [&](double value) {
    write(row.box, decimalText(value, locale));
    number(row.box, value);
  };
  auto writeWhole = [&](std::int32_t value) {
    write(row.box, wholeText(value));
    number(row.box, value);
  };

  switch (row.conversion) {
    case Conversion::kQuarter:
      writeDecimal(x / 4);
      break;
    case Conversion::kWhole:
      writeWhole(n);
      break;
    case Conversion::kMinus40:
      writeWhole(n - 40);
      break;
    case Conversion::kPercent:
      writeDecimal(x / 2.55);
      break;
    case Conversion::kHundredth:
      writeDecimal(x / 100);
      break;
    case Conversion::kFuelTrim:
      writeDecimal(x / 1.28 - 100);
      break;
    case Conversion::kHalfMinus64:
      writeDecimal(x / 2 - 64);
      break;
    case Conversion::kTenth:
      writeDecimal(x / 10);
      break;
    case Conversion::kTroubleCodes: {
      const bool lampOn = n >= 128;
      d.milColour = lampOn ? kMilOn : kMilOff;
      writeWhole(lampOn ? n - 128 : n);
      break;
    }
    case Conversion::kOxygen: {
      const std::int32_t a = HexToDec(out.left(3));
      const std::int32_t b = HexToDec(out.right(2));
      writeDecimal(a / 200.0);
      const double trim = static_cast<double>(b * 100) / 128 - 100;
      write(*row.second, decimalText(trim, locale));
      number(*row.second, trim);
      break;
    }
    case Conversion::kFuelStatus: {
      const QString bank1 = fuelStatusText(HexToDec(out.left(3)));
      const QString bank2 = fuelStatusText(HexToDec(out.right(2)));
      if (!bank1.isEmpty()) write(row.box, bank1);
      if (!bank2.isEmpty()) write(*row.second, bank2);
      break;
    }
  }
  return d;
}

}  // namespace tarvex
