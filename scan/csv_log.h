#pragma once

#include <QDateTime>
#include <QFile>
#include <QLocale>
#include <QString>
#include <optional>

#include "scan/value_boxes.h"

namespace tarvex {

// The header line: 28 column names, ending with a comma, CRLF.
QByteArray csvHeader();

// One field as written: as it stands, or quoted (quotes doubled) when it holds
// a comma, a double quote or a line end, so the columns never shift.
QString csvField(const QString& text);

// The time column: the locale's short date, a blank, its long time (without a
// time-zone name).
QString logTimeText(const QDateTime& when, const QLocale& locale = QLocale());

// One data line of the logged boxes' texts and the time, CRLF.
QByteArray csvLine(const ValueBoxes& boxes, const QString& timeText);

// The log file of one scan: created (replacing an old one) with its header at
// the start, a line a round, every line on disk before the next round. A line
// that cannot be written whole is cut away again, so the file always ends
// with a complete line; the log is closed then and the reason returned.
class CsvLog {
 public:
  ~CsvLog();

  // Creates the file and writes the header; on failure returns the system's reason.
  std::optional<QString> open(const QString& path);
  // Writes a line and puts it on disk; on failure returns the reason. A file
  // that was deleted or replaced since it was opened is not written to.
  std::optional<QString> writeRow(const ValueBoxes& boxes, const QDateTime& when,
                                  const QLocale& locale = QLocale());
  // Closes the file; returns the reason when what was written did not reach the disk.
  std::optional<QString> close();
  bool isOpen() const { return file_.isOpen(); }
  QString path() const { return file_.fileName(); }

 private:
  std::optional<QString> append(const QByteArray& bytes);
  std::optional<QString> abandon(int error);
  bool stillTheNamedFile() const;

  QFile file_;
  qint64 complete_ = 0;  // the file's length up to its last complete line
};

}  // namespace tarvex
