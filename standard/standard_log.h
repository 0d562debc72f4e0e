#pragma once

#include <QDateTime>
#include <QFile>
#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

#include "core/failure.h"
#include "core/units.h"

namespace tarvex {

// One column of the standard-data log: a parameter's name, the unit its
// values come in (as obd/ spells it: "km/h", "°C"; empty for none), and the
// step one count of its data makes in that unit (obd::pidStep,
// UserParameter::step), which sets the decimals written; 0 when not known.
struct LogColumn {
  QString name;
  QString unit;
  double step = 0;
};

// The decimals a value of this step is written with: the step to two
// significant digits, without trailing zeros (0.25: 2, 0.3921...: 2, 0.5: 1,
// 1.8: 1, 1 or 10: 0). Nothing for a step of 0 or no number.
std::optional<int> decimalsForStep(double step);

// The time column, local time as ISO 8601 writes it with a blank for the T
// ("2026-06-01 08:00:00.250"), and the UTC offset column ("+02:00"). A
// spreadsheet reads that time as a date and time (LibreOffice Calc 7.4 does,
// and the offset as a time of two hours); with the offset in the same cell it
// reads text, so the offset has a column of its own.
QByteArray standardLogTime(const QDateTime& when);
QByteArray standardLogUtcOffset(const QDateTime& when);

// The header line: a UTF-8 byte order mark (so that Excel reads the degree
// sign), "Time,UTC offset", then "name [unit]" (the name alone without a unit)
// for each column in the units chosen, quoted where a field needs it, CRLF.
QByteArray standardLogHeader(const std::vector<LogColumn>& columns, const UnitChoice& units);
// One line: the time, its offset, then each column's value in the units
// chosen, with a decimal point whatever the locale, no more decimals than its
// step has (6 when it is not known) and none that are trailing zeros; an empty
// field where this round brought none or the value is no finite number. CRLF.
QByteArray standardLogLine(const QDateTime& when, const std::vector<LogColumn>& columns,
                           const std::vector<std::optional<double>>& values, const UnitChoice& units);

// The standard-data log of one run: created with its header, a line a round,
// each line handed to the system before the next. A line that cannot be
// written whole is cut away again, so the file ends with a complete line; the
// log is closed then and the failure returned (kCreate, kWrite).
class StandardLog {
 public:
  // `start` is the wall-clock time of the log's beginning; each line's time
  // is that and the seconds given to write().
  Status open(const QString& path, std::vector<LogColumn> columns, const UnitChoice& units,
              const QDateTime& start);
  Status write(double seconds, const std::vector<std::optional<double>>& values);
  void close();
  bool isOpen() const { return file_.isOpen(); }
  const std::vector<LogColumn>& columns() const { return columns_; }
  QString path() const { return file_.fileName(); }

 private:
  std::optional<QString> append(const QByteArray& bytes);

  QFile file_;
  std::vector<LogColumn> columns_;
  UnitChoice units_ = UnitChoice::metric();
  QDateTime start_;
  qint64 complete_ = 0;
};

}  // namespace tarvex
