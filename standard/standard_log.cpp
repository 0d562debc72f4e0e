#include "standard/standard_log.h"

#include "scan/csv_log.h"

namespace tarvex {

QByteArray standardLogHeader(const std::vector<LogColumn>& columns) {
  QString line = QStringLiteral("Time [s]");
  for (const LogColumn& c : columns) {
    line += QLatin1Char(',');
    line += csvField(c.unit.isEmpty() ? c.name : QStringLiteral("%1 [%2]").arg(c.name, c.unit));
  }
  return line.toUtf8() + "\r\n";
}

QByteArray standardLogLine(double seconds, const std::vector<std::optional<double>>& values) {
  QByteArray line = QByteArray::number(seconds, 'f', 3);
  for (const std::optional<double>& v : values) {
    line += ',';
    // Enough digits for any parameter's resolution, none beyond.
    if (v) line += QByteArray::number(*v, 'g', 8);
  }
  return line + "\r\n";
}

std::optional<QString> StandardLog::open(const QString& path, std::vector<LogColumn> columns) {
  close();
  file_.setFileName(path);
  if (!file_.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered))
    return file_.errorString();
  columns_ = std::move(columns);
  complete_ = 0;
  return append(standardLogHeader(columns_));
}

std::optional<QString> StandardLog::write(double seconds, const std::vector<std::optional<double>>& values) {
  if (!file_.isOpen()) return QStringLiteral("the log is not open");
  return append(standardLogLine(seconds, values));
}

std::optional<QString> StandardLog::append(const QByteArray& bytes) {
  if (file_.write(bytes) == bytes.size() && file_.flush()) {
    complete_ += bytes.size();
    return std::nullopt;
  }
  // Part of a line is no line: cut it away, so the file ends whole.
  const QString reason = file_.errorString();
  file_.resize(complete_);
  file_.close();
  return reason;
}

void StandardLog::close() {
  if (file_.isOpen()) file_.close();
}

}  // namespace tarvex
