#include "link/reply_check.h"

namespace tarvex {

std::optional<QString> checkReply(const QString& buffer, const ReplyShape& shape) {
  if (buffer.isEmpty()) return std::nullopt;
  const qsizetype p = shape.prefix.isEmpty() ? 0 : buffer.indexOf(shape.prefix);
  if (p < 0) return std::nullopt;
  if (buffer.indexOf(QLatin1Char('>'), p) < 0) return std::nullopt;
  const qsizetype dataLength = 3 * qsizetype(shape.bytes);
  // Zero-based p: the buffer must reach one past the last data character.
  if (buffer.size() - (p + 1) - shape.prefixLength - dataLength < 0) return std::nullopt;
  return buffer.mid(p + shape.prefixLength, dataLength);
}

static bool isUpperHexDigit(QChar c) {
  return (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || (c >= QLatin1Char('A') && c <= QLatin1Char('F'));
}

bool isWellFormedData(const QString& out) {
  if (out.isEmpty() || out.size() % 3 != 0) return false;
  for (qsizetype i = 0; i < out.size(); i += 3) {
    if (out[i] != QLatin1Char(' ') || !isUpperHexDigit(out[i + 1]) || !isUpperHexDigit(out[i + 2]))
      return false;
  }
  return true;
}

}  // namespace tarvex
