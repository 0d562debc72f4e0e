#include "link/reply_check.h"

namespace tarvex {

namespace {

// Zero-based p: complete when the buffer reaches one past the last data character.
bool longEnough(qsizetype size, qsizetype p, const ReplyShape& shape) {
  return size - (p + 1) - shape.prefixLength - 3 * qsizetype(shape.bytes) >= 0;
}

QString dataText(QStringView buffer, qsizetype p, const ReplyShape& shape) {
  return buffer.mid(p + shape.prefixLength, 3 * qsizetype(shape.bytes)).toString();
}

bool isUpperHexDigit(QChar c) {
  return (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || (c >= QLatin1Char('A') && c <= QLatin1Char('F'));
}

}  // namespace

std::optional<QString> checkReply(QStringView buffer, const ReplyShape& shape) {
  if (buffer.isEmpty()) return std::nullopt;
  const qsizetype p = shape.prefix.isEmpty() ? 0 : buffer.indexOf(shape.prefix);
  if (p < 0 || buffer.indexOf(QLatin1Char('>'), p) < 0 || !longEnough(buffer.size(), p, shape))
    return std::nullopt;
  return dataText(buffer, p, shape);
}

void ReplyCheck::setShape(ReplyShape shape) {
  shape_ = std::move(shape);
  restart();
}

void ReplyCheck::restart() {
  searched_ = 0;
  prefixAt_ = -1;
  promptFrom_ = -1;
  prompt_ = false;
}

std::optional<QString> ReplyCheck::check(QStringView buffer) {
  if (buffer.isEmpty()) return std::nullopt;
  if (prefixAt_ < 0) {
    // A prefix split across two arrivals starts in the last prefix-length - 1
    // characters already searched.
    const qsizetype from = std::max<qsizetype>(0, searched_ - shape_.prefix.size() + 1);
    prefixAt_ = shape_.prefix.isEmpty() ? 0 : buffer.indexOf(shape_.prefix, from);
    searched_ = buffer.size();
    if (prefixAt_ < 0) return std::nullopt;
    promptFrom_ = prefixAt_;
  }
  if (!prompt_) {
    prompt_ = buffer.indexOf(QLatin1Char('>'), promptFrom_) >= 0;
    promptFrom_ = buffer.size();
    if (!prompt_) return std::nullopt;
  }
  if (!longEnough(buffer.size(), prefixAt_, shape_)) return std::nullopt;
  return dataText(buffer, prefixAt_, shape_);
}

bool isWellFormedData(QStringView out) {
  if (out.isEmpty() || out.size() % 3 != 0) return false;
  for (qsizetype i = 0; i < out.size(); i += 3) {
    if (out[i] != QLatin1Char(' ') || !isUpperHexDigit(out[i + 1]) || !isUpperHexDigit(out[i + 2]))
      return false;
  }
  return true;
}

}  // namespace tarvex
