#pragma once

#include <QFile>
#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

namespace tarvex {

// One column of the standard-data log: a channel's short name and its unit.
struct LogColumn {
  QString name;
  QString unit;
};

// The header line: "Time [s]", then "NAME [unit]" (or the name alone without
// a unit) for each column, quoted where a field needs it, CRLF.
QByteArray standardLogHeader(const std::vector<LogColumn>& columns);
// One line: the seconds since the log began, then each column's value (an
// empty field where this round brought none), CRLF.
QByteArray standardLogLine(double seconds, const std::vector<std::optional<double>>& values);

// The standard-data log of one run: created with its header, a line a round,
// each line handed to the system before the next. A line that cannot be
// written whole is cut away again, so the file ends with a complete line; the
// log is closed then and the reason returned.
class StandardLog {
 public:
  std::optional<QString> open(const QString& path, std::vector<LogColumn> columns);
  std::optional<QString> write(double seconds, const std::vector<std::optional<double>>& values);
  void close();
  bool isOpen() const { return file_.isOpen(); }
  const std::vector<LogColumn>& columns() const { return columns_; }
  QString path() const { return file_.fileName(); }

 private:
  std::optional<QString> append(const QByteArray& bytes);

  QFile file_;
  std::vector<LogColumn> columns_;
  qint64 complete_ = 0;
};

}  // namespace tarvex
