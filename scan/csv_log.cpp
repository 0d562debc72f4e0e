#include "scan/csv_log.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
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
QString timeFormatWithoutZone(const QString& format) {
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
  const QString timeFormat = timeFormatWithoutZone(locale.timeFormat(QLocale::LongFormat));
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

ssize_t LogFileCalls::write(int fd, const char* data, std::size_t size) {
  return ::write(fd, data, size);
}

int LogFileCalls::sync(int fd) {
  return ::fsync(fd);
}

int LogFileCalls::truncate(int fd, off_t length) {
  return ::ftruncate(fd, length);
}

LogFileCalls& LogFileCalls::system() {
  static LogFileCalls calls;
  return calls;
}

CsvLog::~CsvLog() {
  finish();
}

namespace {

QString systemReason(int error) {
  return QString::fromLocal8Bit(std::strerror(error));
}

// Why a file of this kind is no log: a FIFO would hold every write (and the
// open) until something reads it, a device or a socket is no record at all.
QString notARegularFile(mode_t mode) {
  const char* kind = S_ISDIR(mode)                    ? "it is a folder"
                     : S_ISFIFO(mode)                 ? "it is a named pipe (FIFO)"
                     : S_ISSOCK(mode)                 ? "it is a socket"
                     : S_ISCHR(mode) || S_ISBLK(mode) ? "it is a device"
                                                      : "it is a special file";
  return QString::fromLatin1(kind) + QStringLiteral(", not a regular file");
}

}  // namespace

Status CsvLog::open(const QString& path) {
  if (std::optional<QString> reason = create(path)) return Failure{Failure::Kind::kCreate, path, *reason, {}};
  return {};
}

Status CsvLog::writeRow(const ValueBoxes& boxes, const QDateTime& when, const QLocale& locale) {
  if (std::optional<QString> reason = write(boxes, when, locale))
    return Failure{Failure::Kind::kWrite, path_, *reason, {}};
  return {};
}

Status CsvLog::close() {
  if (std::optional<QString> reason = finish()) return Failure{Failure::Kind::kWrite, path_, *reason, {}};
  return {};
}

std::optional<QString> CsvLog::create(const QString& path) {
  finish();
  path_.clear();
  const QByteArray name = QFile::encodeName(path);
  // Looked at before opening, so a device is never opened at all; O_NONBLOCK
  // keeps the open from waiting should a FIFO take the name in between.
  struct stat named {};
  if (::stat(name.constData(), &named) == 0 && !S_ISREG(named.st_mode)) return notARegularFile(named.st_mode);
  const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
  if (fd < 0) {
    const int error = errno;
    // A FIFO without a reader that took the name after the look.
    if (::stat(name.constData(), &named) == 0 && !S_ISREG(named.st_mode))
      return notARegularFile(named.st_mode);
    return systemReason(error);
  }
  const auto refuse = [fd](QString reason) {
    ::close(fd);
    return std::optional<QString>(std::move(reason));
  };
  struct stat opened {};
  if (::fstat(fd, &opened) != 0) return refuse(systemReason(errno));
  if (!S_ISREG(opened.st_mode)) return refuse(notARegularFile(opened.st_mode));
  // Locked before it is emptied: a second Tarvex must not wipe the first one's log.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    return refuse(errno == EWOULDBLOCK
                      ? QStringLiteral("it is in use by another program (another Tarvex logging to it?)")
                      : systemReason(errno));
  }
  if (calls_.truncate(fd, 0) != 0) return refuse(systemReason(errno));
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  fd_ = fd;
  path_ = path;
  complete_ = 0;
  return append(csvHeader());
}

std::optional<QString> CsvLog::write(const ValueBoxes& boxes, const QDateTime& when, const QLocale& locale) {
  if (!isOpen()) return QStringLiteral("the log file is not open");
  // Rows written on into a file nobody can find any more would be lost; into
  // a file cut short they would follow a hole of zero bytes.
  if (std::optional<QString> reason = changedBehindUs()) {
    drop();
    return reason;
  }
  return append(csvLine(boxes, logTimeText(when, locale)));
}

std::optional<QString> CsvLog::changedBehindUs() const {
  struct stat held {
  }, named{};
  if (::fstat(fd_, &held) != 0 || ::stat(QFile::encodeName(path_).constData(), &named) != 0 ||
      held.st_dev != named.st_dev || held.st_ino != named.st_ino)
    return QStringLiteral("the file was deleted or replaced while the scan ran");
  if (held.st_size < complete_)
    return QStringLiteral("another program cut the file short while the scan ran");
  if (held.st_size > complete_) return QStringLiteral("another program wrote to the file while the scan ran");
  return std::nullopt;
}

std::optional<QString> CsvLog::append(const QByteArray& bytes) {
  // Written by hand: a full disk must come back as its own reason, and a line
  // cut short must be known as such.
  const char* at = bytes.constData();
  qsizetype left = bytes.size();
  while (left > 0) {
    const ssize_t n = calls_.write(fd_, at, std::size_t(left));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return abandon(errno);
    at += n;
    left -= n;
  }
  // On disk before the next round: a pulled cable or a crash loses no finished line.
  if (calls_.sync(fd_) != 0 && errno != EINVAL) return abandon(errno);
  complete_ += bytes.size();
  return std::nullopt;
}

std::optional<QString> CsvLog::abandon(int error) {
  // The file keeps its complete lines only; nothing more goes into it.
  [[maybe_unused]] const int cut = calls_.truncate(fd_, complete_);
  drop();
  return systemReason(error);
}

void CsvLog::drop() {
  ::close(fd_);
  fd_ = -1;
}

std::optional<QString> CsvLog::finish() {
  if (!isOpen()) return std::nullopt;
  const bool synced = calls_.sync(fd_) == 0 || errno == EINVAL;
  const int syncError = errno;
  const int closed = ::close(fd_);
  const int closeError = errno;
  fd_ = -1;
  if (!synced) return systemReason(syncError);
  if (closed != 0) return systemReason(closeError);
  return std::nullopt;
}

}  // namespace tarvex
