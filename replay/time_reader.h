#pragma once

#include <QLocale>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <limits>
#include <optional>
#include <vector>

#include "scan/csv_log.h"

namespace tarvex {

// Reads a log's time column. The log writes the date and time as the locale
// of the machine that logged wrote them, so the reader finds that form from
// the first lines: the system's locale first, then common ones, then ISO 8601
// and plain seconds (logs of other programs). Digits of any script (ar_EG
// writes Arabic-Indic ones) read as digits, and direction marks are passed by. Times are milliseconds since
// the epoch, the written wall-clock time taken as local time here.
class TimeReader {
 public:
  enum class Kind { kLocaleDateTime, kIsoDateTime, kSeconds };

  // The first form that reads every sample, or nothing. `unit` is the time
  // column's unit from its header ("s", "ms"), for plain numbers.
  static std::optional<TimeReader> detect(const QStringList& samples, const QString& unit = QString());
  // The same form for one locale's short date and long time (what the log writes).
  static TimeReader forLocale(const QLocale& locale);

  std::optional<std::int64_t> read(const QString& text) const;
  // A time for the cursor, in the form of the log.
  QString text(std::int64_t ms) const;

  Kind kind() const { return kind_; }
  // The locale's name ("de_DE") for a date-time form, else what it is.
  QString name() const;
  QLocale locale() const { return locale_; }

  // One piece of a date-time form.
  struct Token {
    enum Type {
      kLiteral,
      kDay,
      kDayName,
      kMonth,
      kMonthName,
      kYear2,
      kYear4,
      kHour12,
      kHour24,
      kMinute,
      kSecond,
      kMillis,
      kAmPm
    };
    Type type;
    QString literal;
    QStringList names;  // of months or days, 1 first
  };

 private:
  TimeReader() = default;
  std::optional<std::int64_t> readTokens(const QString& text) const;
  std::int64_t localToUtc(std::int64_t wallMs) const;

  Kind kind_ = Kind::kSeconds;
  QLocale locale_ = QLocale::c();
  QString format_;
  bool slow_ = false;  // a form this reader does not know piece by piece: read by QLocale
  std::vector<Token> tokens_;
  QString amText_, pmText_;  // the locale's, without direction marks
  double scale_ = 1000.0;    // ms per unit of plain numbers
  // Local time's offset for the last hour looked at: the offset changes only
  // at whole hours, and a log's lines come hour after hour.
  mutable std::int64_t cachedHour_ = std::numeric_limits<std::int64_t>::min();
  mutable std::int64_t cachedOffsetMs_ = 0;
};

}  // namespace tarvex
