#include "scan/csv_log.h"

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

#include <algorithm>

namespace tarvex {

QByteArray csvHeader() {
  QByteArray header;
  for (const CsvColumn& column : csvColumns()) {
    header.append(column.name.data(), static_cast<qsizetype>(column.name.size()));
    header.append(',');
  }
  return header + "Time,\r\n";
}

QString csvField(const QString& text) {
  static const QString special = QStringLiteral(",\"\r\n");
  if (std::none_of(text.begin(), text.end(), [](QChar c) { return special.contains(c); })) return text;
  QString quoted = text;
  quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
  return QLatin1Char('"') + quoted + QLatin1Char('"');
}

// The long time format names the time zone ("t", outside quoted text); a log
// line carries none.
static QString withoutTimeZone(const QString& format) {
  QString result;
  bool quoted = false;
  for (const QChar c : format) {
    if (c == QLatin1Char('\'')) quoted = !quoted;
    if (!quoted && c == QLatin1Char('t')) continue;
    result += c;
  }
  return result.trimmed();
}

QString logTimeText(const QDateTime& when, const QLocale& locale) {
  const QString timeFormat = withoutTimeZone(locale.timeFormat(QLocale::LongFormat));
  return locale.toString(when.date(), QLocale::ShortFormat) + QLatin1Char(' ') +
         locale.toString(when.time(), timeFormat);
}

QByteArray csvLine(const ValueBoxes& boxes, const QString& timeText) {
  QString line;
  for (const CsvColumn& column : csvColumns()) {
    line += csvField(boxes.text(column.box));
    line += QLatin1Char(',');
  }
  line += csvField(timeText);
  return line.toUtf8() + "\r\n";
}

std::optional<QString> CsvLog::open(const QString& path) {
  close();
  file_.setFileName(path);
  if (!file_.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
    QString reason = file_.errorString();
    file_.setFileName(QString());
    return reason;
  }
  if (auto error = write(csvHeader())) {
    close();
    return error;
  }
  return std::nullopt;
}

std::optional<QString> CsvLog::writeRow(const ValueBoxes& boxes, const QDateTime& when,
                                        const QLocale& locale) {
  if (!file_.isOpen()) return QStringLiteral("The log file is not open");
  return write(csvLine(boxes, logTimeText(when, locale)));
}

std::optional<QString> CsvLog::write(const QByteArray& bytes) {
  // Flushed at once: a crash or a pulled cable loses no finished round.
  if (file_.write(bytes) != bytes.size() || !file_.flush()) return file_.errorString();
#ifdef Q_OS_UNIX
  ::fsync(file_.handle());
#endif
  return std::nullopt;
}

void CsvLog::close() {
  if (file_.isOpen()) file_.close();
}

}  // namespace tarvex
