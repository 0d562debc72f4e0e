#include "scan/decode.h"

#include "core/number_text.h"
#include "link/reply_check.h"
#include "scan/value_boxes.h"

namespace tarvex {

std::optional<Decoded> decode(const Parameter& row, const QString& out, const QLocale& locale) {
  if (out.size() != 3 * row.bytes || !isWellFormedData(out)) return std::nullopt;
  std::vector<std::uint8_t> bytes;
  for (int i = 0; i < row.bytes; ++i) bytes.push_back(std::uint8_t(HexToDec(out.mid(3 * i, 3))));
  const std::optional<obd::EnhancedValue> value = obd::decodeEnhanced(row.conversion, bytes);
  if (!value) return std::nullopt;

  Decoded d;
  const std::optional<Box> boxes[] = {row.box, row.second};
  for (std::size_t i = 0; i < std::size(boxes); ++i) {
    if (!boxes[i]) continue;
    if (const std::optional<double> number = value->numbers[i]) {
      d.writes.emplace_back(*boxes[i], decimalText(*number, locale));
      d.values.emplace_back(*boxes[i], *number);
    } else if (!value->words[i].isEmpty()) {
      d.writes.emplace_back(*boxes[i], value->words[i]);
    }
  }
  if (value->milOn) d.milColour = *value->milOn ? kMilOn : kMilOff;
  return d;
}

}  // namespace tarvex
