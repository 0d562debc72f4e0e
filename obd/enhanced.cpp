#include "obd/enhanced.h"

#include "obd/formulas.h"

namespace tarvex::obd {

std::optional<EnhancedValue> decodeEnhanced(Conversion conversion, Bytes data) {
  const bool pair = conversion == Conversion::kOxygen || conversion == Conversion::kFuelStatus;
  if (data.empty() || (pair && data.size() < 2)) return std::nullopt;
  double count = 0;
  for (const std::uint8_t byte : data) count = count * 256 + byte;
  EnhancedValue v;
  auto& first = v.numbers[0];
  switch (conversion) {
    case Conversion::kQuarter:
      first = rpm(count);
      break;
    case Conversion::kWhole:
      first = count;
      break;
    case Conversion::kMinus40:
      first = celsius(count);
      break;
    case Conversion::kPercent:
      first = percent(count);
      break;
    case Conversion::kHundredth:
      first = gramsPerSecond(count);
      break;
    case Conversion::kFuelTrim:
      first = fuelTrim(count);
      break;
    case Conversion::kHalfMinus64:
      first = timingAdvance(count);
      break;
    case Conversion::kTenth:
      first = tenths(count);
      break;
    case Conversion::kTroubleCodes: {
      const LampAndCount lamp = lampAndCount(data[0]);
      first = lamp.storedCodes;
      v.milOn = lamp.milOn;
      break;
    }
    case Conversion::kOxygen:
      first = oxygenVolts(data[0]);
      v.numbers[1] = fuelTrim(data[1]);
      break;
    case Conversion::kFuelStatus:
      v.words = {fuelSystemName(data[0]), fuelSystemName(data[1])};
      break;
  }
  return v;
}

}  // namespace tarvex::obd
