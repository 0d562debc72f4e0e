#pragma once

#include <QIODevice>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "core/failure.h"
#include "core/readings.h"
#include "replay/time_reader.h"

namespace tarvex {

// A CSV log opened for replay. The header names the columns ("RPM", or
// "name [unit]" in logs of other columns); one of them is the time ("Time").
// Every number goes into the readings, one channel per column that holds
// numbers, named as its column; a field that is no number (a placeholder
// such as "LTFTB2", "Open Loop") is a missing value there, never a zero.
// The lines' own texts are not held: each line's place in the file is, and
// fields() reads a line again when it is asked for.
class LogReader {
 public:
  LogReader() = default;
  LogReader(const LogReader&) = delete;
  LogReader& operator=(const LogReader&) = delete;
  ~LogReader();

  // Reads the log at `path` into `readings` (cleared first). A refusal names
  // the path: kRead when it is missing, unreadable or no regular file (a
  // folder, a pipe, a device), kInvalid when it is no log or holds no line
  // that could be read. The file stays open for fields().
  Status load(const QString& path, Readings& readings);
  // The same from any device open for reading that can seek (a buffer in
  // tests and the fuzz target); `name` stands for the path in the failures.
  Status load(std::unique_ptr<QIODevice> device, const QString& name, Readings& readings);

  // The lines that were read, in file order (lines that could not be read
  // are left out and counted).
  qsizetype lineCount() const { return qsizetype(times_.size()); }
  // Each line's time, ms since the epoch (or since the time column's zero
  // for a log of plain seconds). Never decreasing: a line dated before the
  // one above it is taken as at the same time.
  const std::vector<std::int64_t>& lineTimes() const { return times_; }
  // A line's fields as written (quotes taken off), one per column; empty
  // when the file can no longer be read there.
  QStringList fields(qsizetype line) const;
  // The line's number in the file (the header is line 1).
  qsizetype fileLine(qsizetype line) const;

  // The header's column names (units taken off) and units.
  const QStringList& columns() const { return columns_; }
  const QStringList& units() const { return units_; }
  int timeColumn() const { return timeColumn_; }
  // The header is the one Tarvex writes.
  bool isTarvexLog() const { return tarvex_; }
  // How the time column was read: a locale's name ("de_DE"), "ISO 8601",
  // "seconds".
  QString timeForm() const { return timeReader_ ? timeReader_->name() : QString(); }
  // A time as the log writes it, for the cursor.
  QString timeText(std::int64_t ms) const;

  // Lines that could not be read (a field too few or too many, an open
  // quote, a time that is no time): how many, and where the first was.
  qsizetype skippedLines() const { return skipped_; }
  // "12 lines could not be read; the first is line 345, column MAF", or
  // empty when every line was read.
  QString skippedNotice() const;

 private:
  struct Parsed;
  Status read(const QString& name, Readings& readings);
  void skip(qsizetype fileLine, QString column);

  std::unique_ptr<QIODevice> device_;
  QStringList columns_;
  QStringList units_;
  int timeColumn_ = -1;
  bool tarvex_ = false;
  std::optional<TimeReader> timeReader_;
  std::vector<std::int64_t> times_;
  std::vector<qint64> offsets_;
  std::vector<std::int32_t> fileLines_;
  qsizetype skipped_ = 0;
  qsizetype firstSkippedLine_ = 0;
  QString firstSkippedColumn_;
};

}  // namespace tarvex
