#include "scan/csv_log.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

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

CsvLog::~CsvLog() {
  close();
}

std::optional<QString> CsvLog::open(const QString& path) {
  close();
  file_.setFileName(path);
  complete_ = 0;
  if (!file_.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
    QString reason = file_.errorString();
    file_.setFileName(QString());
    return reason;
  }
  return append(csvHeader());
}

std::optional<QString> CsvLog::writeRow(const ValueBoxes& boxes, const QDateTime& when,
                                        const QLocale& locale) {
  if (!file_.isOpen()) return QStringLiteral("the log file is not open");
  // Rows written on into a file nobody can find any more would be lost.
  if (!stillTheNamedFile()) {
    file_.close();
    return QStringLiteral("the file was deleted or replaced while the scan ran");
  }
  return append(csvLine(boxes, logTimeText(when, locale)));
}

bool CsvLog::stillTheNamedFile() const {
  struct stat held {
  }, named{};
  return ::fstat(file_.handle(), &held) == 0 &&
         ::stat(QFile::encodeName(file_.fileName()).constData(), &named) == 0 &&
         held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}

std::optional<QString> CsvLog::append(const QByteArray& bytes) {
  // Written by hand rather than through QFile: a full disk must come back as
  // its own reason, and a line cut short must be known as such.
  const char* at = bytes.constData();
  qsizetype left = bytes.size();
  while (left > 0) {
    const ssize_t n = ::write(file_.handle(), at, std::size_t(left));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return abandon(errno);
    at += n;
    left -= n;
  }
  // On disk before the next round: a pulled cable or a crash loses no finished line.
  if (::fsync(file_.handle()) != 0 && errno != EINVAL) return abandon(errno);
  complete_ += bytes.size();
  return std::nullopt;
}

std::optional<QString> CsvLog::abandon(int error) {
  // The file keeps its complete lines only; nothing more goes into it.
  [[maybe_unused]] const int cut = ::ftruncate(file_.handle(), complete_);
  file_.close();
  return QString::fromLocal8Bit(std::strerror(error));
}

std::optional<QString> CsvLog::close() {
  if (!file_.isOpen()) return std::nullopt;
  const int handle = file_.handle();
  const bool synced = ::fsync(handle) == 0 || errno == EINVAL;
  const int syncError = errno;
  file_.close();
  if (!synced) return QString::fromLocal8Bit(std::strerror(syncError));
  if (file_.error() != QFileDevice::NoError) return file_.errorString();
  return std::nullopt;
}

}  // namespace tarvex
