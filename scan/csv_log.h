#pragma once

#include <sys/types.h>

#include <QDateTime>
#include <QLocale>
#include <QString>
#include <cstddef>
#include <optional>

#include "core/failure.h"
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
// A locale's time format without its time zone ("t", outside quoted text):
// a log line carries none.
QString timeFormatWithoutZone(const QString& format);

// One data line of the logged boxes' texts and the time, CRLF.
QByteArray csvLine(const ValueBoxes& boxes, const QString& timeText);

// The calls the log makes on its open file, behind a seam so that a test can
// count them (a sync for every line) or make them fail. By default the
// system's own.
class LogFileCalls {
 public:
  virtual ~LogFileCalls() = default;
  virtual ssize_t write(int fd, const char* data, std::size_t size);
  virtual int sync(int fd);
  virtual int truncate(int fd, off_t length);
  static LogFileCalls& system();
};

// The log file of one scan: created (replacing an old one) with its header at
// the start, a line a round, every line on disk before the next round. A line
// that cannot be written whole is cut away again, so the file always ends
// with a complete line; the log is closed then and the reason returned.
// Only a regular file is a log; it is locked while open, so that a second
// Tarvex cannot interleave its lines with ours.
class CsvLog {
 public:
  explicit CsvLog(LogFileCalls& calls = LogFileCalls::system()) : calls_(calls) {}
  CsvLog(const CsvLog&) = delete;
  CsvLog& operator=(const CsvLog&) = delete;
  ~CsvLog();

  // Creates the file and writes the header; a failure (kOpen) has the reason:
  // the system's, or why the path is no log (not a regular file, in use).
  // Never waits (a FIFO without a reader is refused, not waited on).
  Status open(const QString& path);
  // Writes a line and puts it on disk; fails (kWrite) with the reason. A file
  // that was deleted, replaced, cut short or written to by another program
  // since the last line is not written to.
  Status writeRow(const ValueBoxes& boxes, const QDateTime& when, const QLocale& locale = QLocale());
  // Closes the file; fails (kWrite) when what was written did not reach the disk.
  Status close();
  bool isOpen() const { return fd_ >= 0; }
  // The file's name, still known after it was closed.
  QString path() const { return path_; }

 private:
  std::optional<QString> create(const QString& path);
  std::optional<QString> write(const ValueBoxes& boxes, const QDateTime& when, const QLocale& locale);
  std::optional<QString> finish();
  std::optional<QString> append(const QByteArray& bytes);
  std::optional<QString> abandon(int error);
  std::optional<QString> changedBehindUs() const;
  void drop();

  LogFileCalls& calls_;
  int fd_ = -1;
  QString path_;
  qint64 complete_ = 0;  // the file's length up to its last complete line
};

}  // namespace tarvex
