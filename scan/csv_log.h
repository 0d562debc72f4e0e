#pragma once

#include <QDateTime>
#include <QFile>
#include <QLocale>
#include <QString>

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
// the start, a line a round, every line on disk before the next round.
class CsvLog {
 public:
  // Creates the file and writes the header; on failure returns the system's reason.
  std::optional<QString> open(const QString& path);
  // Writes a line and flushes it; on failure returns the reason.
  std::optional<QString> writeRow(const ValueBoxes& boxes, const QDateTime& when,
                                  const QLocale& locale = QLocale());
  void close();
  bool isOpen() const { return file_.isOpen(); }
  QString path() const { return file_.fileName(); }

 private:
  std::optional<QString> write(const QByteArray& bytes);
  QFile file_;
};

}  // namespace tarvex
