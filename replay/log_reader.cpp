#include "replay/log_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QBuffer>
#include <QFile>
#include <QStringDecoder>
#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>

#include "core/number_text.h"
#include "scan/catalogue.h"

namespace tarvex {

namespace {

constexpr qint64 kChunk = 1 << 20;
// A line longer than this is no log line (an open quote running on); it is
// skipped to the next line end rather than read to the end of the file.
constexpr qsizetype kLongestLine = 1 << 20;
constexpr int kSamples = 64;

struct FieldSpan {
  qsizetype begin;
  qsizetype size;
  bool escaped;  // holds doubled quotes
};

enum class Split { kDone, kMore, kOpenQuote, kJunkAfterQuote };

struct Record {
  std::vector<FieldSpan> fields;
  qsizetype end = 0;  // just after its line end
  int newlines = 0;
  int badField = 0;  // where an open quote or junk after a quote is
};

// One record of RFC 4180 from `begin`: fields split at commas, quoted fields
// may hold commas, doubled quotes and line ends; CRLF, LF or CR ends it.
// kMore: the data ends before the record does (and more may come).
Split splitRecord(const char* data, qsizetype begin, qsizetype size, bool atEof, Record& r) {
  r.fields.clear();
  r.newlines = 0;
  qsizetype p = begin;
  for (;;) {
    r.badField = int(r.fields.size());
    if (p < size && data[p] == '"') {
      const qsizetype start = p + 1;
      qsizetype q = start;
      bool escaped = false;
      for (;;) {
        const void* hit = q < size ? std::memchr(data + q, '"', std::size_t(size - q)) : nullptr;
        if (!hit) {
          r.end = size;  // an open quote at the end takes the rest
          return atEof ? Split::kOpenQuote : Split::kMore;
        }
        q = static_cast<const char*>(hit) - data;
        if (q + 1 < size && data[q + 1] == '"') {
          escaped = true;
          q += 2;
          continue;
        }
        if (q + 1 >= size && !atEof) return Split::kMore;
        break;
      }
      r.newlines += int(std::count(data + start, data + q, '\n'));
      r.fields.push_back({start, q - start, escaped});
      p = q + 1;
      if (p < size && data[p] != ',' && data[p] != '\r' && data[p] != '\n') {
        r.badField = int(r.fields.size()) - 1;
        return Split::kJunkAfterQuote;
      }
    } else {
      const qsizetype start = p;
      while (p < size) {
        const char c = data[p];
        if (c == ',' || c == '\n' || c == '\r') break;
        ++p;
      }
      r.fields.push_back({start, p - start, false});
    }
    if (p >= size) {
      if (!atEof) return Split::kMore;
      r.end = p;
      return Split::kDone;
    }
    if (data[p] == ',') {
      ++p;
      continue;
    }
    if (data[p] == '\r') {
      if (p + 1 >= size && !atEof) return Split::kMore;
      ++p;
      if (p < size && data[p] == '\n') ++p;
    } else {
      ++p;
    }
    ++r.newlines;
    r.end = p;
    return Split::kDone;
  }
}

// Skips to just after the next line end at or after `from` (or the end).
qsizetype nextLine(const char* data, qsizetype from, qsizetype size) {
  const void* hit = from < size ? std::memchr(data + from, '\n', std::size_t(size - from)) : nullptr;
  return hit ? static_cast<const char*>(hit) - data + 1 : size;
}

QString fieldText(const char* data, const FieldSpan& f) {
  QString text = QString::fromUtf8(data + f.begin, f.size);
  if (f.escaped) text.replace(QStringLiteral("\"\""), QStringLiteral("\""));
  return text;
}

bool isBlankByte(char c) {
  return c == ' ' || c == '\t';
}

// Plain decimals ("-12.75", "3,5") as most fields are, without a copy: up
// to 15 digits are exact in a double, and so is a power of ten up to 10^22,
// so one division rounds as from_chars would. Nothing when it is not that
// simple (an exponent, many digits), for from_chars to decide.
std::optional<double> simpleDecimal(const char* p, const char* end, bool& simple) {
  simple = true;
  static constexpr double kTens[] = {1,   1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                     1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
  const bool negative = *p == '-';
  if (negative) ++p;
  std::int64_t mantissa = 0;
  int digitCount = 0, decimals = 0;
  bool point = false;
  for (; p < end; ++p) {
    const char c = *p;
    if (c >= '0' && c <= '9') {
      mantissa = mantissa * 10 + (c - '0');
      ++digitCount;
      decimals += point;
      if (digitCount > 15) break;
    } else if ((c == '.' || c == ',') && !point) {
      point = true;
    } else {
      break;
    }
  }
  if (p != end) {
    simple = false;  // more than this reads
    return std::nullopt;
  }
  if (digitCount == 0) return std::nullopt;
  const double value = double(mantissa) / kTens[decimals];
  return negative ? -value : value;
}

// A field as a number: digits with a point or a comma as the decimal sign
// (the log writes no grouping), else by the log's locale (other digits, a
// minus sign of its own). Nothing for a text.
std::optional<double> fieldNumber(const char* p, qsizetype n, const QLocale& locale, bool asciiDigits) {
  while (n > 0 && isBlankByte(*p)) ++p, --n;
  while (n > 0 && isBlankByte(p[n - 1])) --n;
  if (n == 0) return std::nullopt;
  if (*p == '+' && n > 1) ++p, --n;
  const char first = *p;
  const bool plausible = (first >= '0' && first <= '9') || first == '-' || first == '.' || first == ',';
  if (plausible) {
    bool simple = true;
    if (std::optional<double> value = simpleDecimal(p, p + n, simple); value || simple) return value;
  }
  const bool ascii = std::none_of(p, p + n, [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
  if (ascii && plausible && n < 64) {
    char buffer[64];
    std::transform(p, p + n, buffer, [](char c) { return c == ',' ? '.' : c; });
    double value = 0;
    const auto [end, ec] = std::from_chars(buffer, buffer + n, value);
    if (ec == std::errc() && end == buffer + n && std::isfinite(value)) return value;
    return std::nullopt;
  }
  if (ascii && asciiDigits) return std::nullopt;
  return readNumber(QString::fromUtf8(p, n), locale);
}

// "Speed [km/h]" is the column Speed in km/h.
std::pair<QString, QString> nameAndUnit(QString header) {
  header = header.trimmed();
  if (header.endsWith(QLatin1Char(']'))) {
    const qsizetype open = header.lastIndexOf(QLatin1Char('['));
    if (open > 0)
      return {header.left(open).trimmed(), header.mid(open + 1, header.size() - open - 2).trimmed()};
  }
  return {header, QString()};
}

bool isTimeName(const QString& name) {
  for (const char* known : {"Time", "Date Time", "DateTime", "Date/Time", "Timestamp", "Time Stamp"})
    if (name.compare(QLatin1String(known), Qt::CaseInsensitive) == 0) return true;
  return false;
}

Failure unreadable(const QString& path, QString reason) {
  return Failure{Failure::Kind::kRead, path, std::move(reason), {}};
}

// The file was read, but it is no log this reader can play.
Failure notALog(const QString& path, QString why) {
  return Failure{Failure::Kind::kInvalid, path, QStringLiteral("not a Tarvex log: ") + why, {}};
}

}  // namespace

// The reading position over the device, a chunk at a time.
struct LogReader::Parsed {
  explicit Parsed(QIODevice& from) : device(from) {}
  QIODevice& device;
  QByteArray buffer;
  qint64 bufferAt = 0;  // the file offset of buffer[0]
  qsizetype pos = 0;
  bool atEof = false;
  bool failed = false;
  qint64 chunk = kChunk;

  // Drops what was read and reads more; false at the end of the file.
  bool more() {
    if (atEof) return false;
    buffer.remove(0, pos);
    bufferAt += pos;
    pos = 0;
    const qsizetype had = buffer.size();
    buffer.resize(had + chunk);
    const qint64 got = device.read(buffer.data() + had, chunk);
    if (got < 0) failed = true;
    buffer.resize(had + std::max<qint64>(got, 0));
    if (got <= 0) atEof = true;
    return true;
  }

  // The next record; false at the end. Too long a record is kOpenQuote, and
  // one line however long: it is passed over to its line end a chunk at a
  // time, never held whole.
  bool next(Record& r, Split& status) {
    for (;;) {
      if (pos >= buffer.size() && atEof) return false;
      status = splitRecord(buffer.constData(), pos, buffer.size(), atEof, r);
      if (status != Split::kMore) return true;
      if (buffer.size() - pos > kLongestLine) {
        status = Split::kOpenQuote;
        r.newlines = 1;
        for (;;) {
          const qsizetype end = nextLine(buffer.constData(), pos, buffer.size());
          const bool found = end < buffer.size() || (end > pos && buffer[end - 1] == '\n');
          if (found || atEof) {
            r.end = end;
            return true;
          }
          pos = buffer.size();
          more();
        }
      }
      more();
    }
  }
};

LogReader::~LogReader() = default;

Status LogReader::load(const QString& path, Readings& readings) {
  // Opened without waiting: a named pipe without a writer would hold the open
  // (and the program) for good. Only a regular file is a log.
  const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    return unreadable(path, QString::fromLocal8Bit(std::strerror(errno)));
  }
  struct stat opened {};
  const char* kind = nullptr;
  if (::fstat(fd, &opened) != 0)
    kind = "cannot be looked at";
  else if (S_ISDIR(opened.st_mode))
    kind = "is a folder";
  else if (S_ISFIFO(opened.st_mode))
    kind = "is a named pipe (FIFO)";
  else if (S_ISSOCK(opened.st_mode))
    kind = "is a socket";
  else if (S_ISCHR(opened.st_mode) || S_ISBLK(opened.st_mode))
    kind = "is a device";
  else if (!S_ISREG(opened.st_mode))
    kind = "is a special file";
  if (kind) {
    ::close(fd);
    return unreadable(path, QStringLiteral("it %1, not a log").arg(QLatin1String(kind)));
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  auto file = std::make_unique<QFile>(path);
  // Unbuffered: the reader reads in large chunks of its own.
  if (!file->open(fd, QIODevice::ReadOnly | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle)) {
    ::close(fd);
    return unreadable(path, file->errorString());
  }
  return load(std::move(file), path, readings);
}

Status LogReader::load(std::unique_ptr<QIODevice> device, const QString& name, Readings& readings) {
  device_ = std::move(device);
  columns_.clear();
  units_.clear();
  timeColumn_ = -1;
  tarvex_ = false;
  timeReader_.reset();
  times_ = {};
  offsets_ = {};
  fileLines_ = {};
  skipped_ = 0;
  firstSkippedLine_ = 0;
  firstSkippedColumn_.clear();
  readings.clear();
  Status read = this->read(name, readings);
  if (!read) {
    times_ = {};
    offsets_ = {};
    fileLines_ = {};
    device_.reset();
  }
  return read;
}

void LogReader::skip(qsizetype fileLine, QString column) {
  if (skipped_++ == 0) {
    firstSkippedLine_ = fileLine;
    firstSkippedColumn_ = std::move(column);
  }
}

QString LogReader::skippedNotice() const {
  if (skipped_ == 0) return {};
  const QString place = QStringLiteral("line %1, column %2").arg(firstSkippedLine_).arg(firstSkippedColumn_);
  if (skipped_ == 1) return QStringLiteral("1 line could not be read: line ") + place.mid(5);
  return QStringLiteral("%1 lines could not be read; the first is %2").arg(skipped_).arg(place);
}

Status LogReader::read(const QString& name, Readings& readings) {
  Parsed in(*device_);
  in.more();
  if (in.failed) return unreadable(name, device_->errorString());
  if (in.buffer.startsWith("\xEF\xBB\xBF")) in.pos = 3;
  if (in.buffer.size() <= in.pos) return notALog(name, QStringLiteral("it is empty"));
  if (in.buffer.left(4096).contains('\0')) return notALog(name, QStringLiteral("it is not text"));

  // The header.
  Record record;
  Split status = Split::kDone;
  in.next(record, status);
  if (status != Split::kDone) return notALog(name, QStringLiteral("its first line is no column header"));
  {
    QStringDecoder utf8(QStringDecoder::Utf8);
    const QString header = utf8(QByteArrayView(in.buffer.constData() + in.pos, record.end - in.pos));
    if (utf8.hasError() || header.isEmpty()) return notALog(name, QStringLiteral("it is not text"));
  }
  for (const FieldSpan& f : record.fields) {
    auto [column, unit] = nameAndUnit(fieldText(in.buffer.constData(), f));
    columns_.append(column);
    units_.append(unit);
  }
  // The writer ends its header with a comma: no column follows it.
  while (!columns_.isEmpty() && columns_.constLast().isEmpty()) {
    columns_.removeLast();
    units_.removeLast();
  }
  for (qsizetype i = 0; i < columns_.size() && timeColumn_ < 0; ++i)
    if (isTimeName(columns_[i])) timeColumn_ = int(i);
  if (timeColumn_ < 0) return notALog(name, QStringLiteral("its first line names no Time column"));
  {
    QStringList written;
    for (const CsvColumn& column : csvColumns())
      written.append(QString::fromLatin1(column.name.data(), qsizetype(column.name.size())));
    written.append(QStringLiteral("Time"));
    tarvex_ = columns_ == written;
  }
  qsizetype fileLine = 1 + record.newlines;
  in.pos = record.end;

  const qsizetype columnCount = columns_.size();
  const auto fieldsFit = [columnCount](const Record& r) {
    const qsizetype n = qsizetype(r.fields.size());
    return n == columnCount || (n == columnCount + 1 && r.fields.back().size == 0);
  };

  // The time's form, from the first lines.
  {
    QStringList samples;
    Parsed peek = in;
    Record r;
    Split s = Split::kDone;
    for (int tries = 0; samples.size() < kSamples && tries < 4 * kSamples && peek.next(r, s); ++tries) {
      if (s == Split::kDone && fieldsFit(r))
        samples.append(fieldText(peek.buffer.constData(), r.fields[std::size_t(timeColumn_)]).trimmed());
      peek.pos = r.end;
    }
    if (!device_->seek(in.bufferAt + in.buffer.size())) return unreadable(name, device_->errorString());
    if (samples.isEmpty()) return notALog(name, QStringLiteral("it holds no line that could be read"));
    timeReader_ = TimeReader::detect(samples, units_[timeColumn_]);
    if (!timeReader_) timeReader_ = TimeReader::detect({samples.first()}, units_[timeColumn_]);
    if (!timeReader_)
      return notALog(
          name,
          QStringLiteral("its Time column holds no time it can read (\u201C%1\u201D)").arg(samples.first()));
  }

  // Every line.
  const QLocale locale = timeReader_->locale();
  const bool asciiDigits =
      locale.zeroDigit() == QLatin1Char('0') && locale.negativeSign() == QLatin1String("-");
  std::vector<int> channelOf(static_cast<std::size_t>(columnCount), Readings::kNoChannel);
  std::vector<BoxChannel> meaning(static_cast<std::size_t>(columnCount));
  std::vector<bool> known(static_cast<std::size_t>(columnCount), false);
  for (qsizetype i = 0; i < columnCount; ++i) {
    for (int b = 0; b < kBoxCount; ++b) {
      const BoxChannel box = boxChannel(static_cast<Box>(b));
      if (columns_[i] == QLatin1String(box.name.data(), qsizetype(box.name.size()))) {
        meaning[std::size_t(i)] = box;
        known[std::size_t(i)] = true;
        break;
      }
    }
  }
  QByteArray lastTimeField;
  std::int64_t lastTime = 0;
  bool haveLast = false;
  std::int64_t previous = std::numeric_limits<std::int64_t>::min();
  readings.beginBatch();
  while (in.next(record, status)) {
    const qsizetype line = fileLine;
    fileLine += record.newlines;
    const char* data = in.buffer.constData();
    const qint64 offset = in.bufferAt + in.pos;
    in.pos = record.end;
    if (status == Split::kOpenQuote || status == Split::kJunkAfterQuote) {
      if (status == Split::kJunkAfterQuote) {
        // On to the next line end, after the quote that closed too soon.
        in.pos = nextLine(data, record.fields.back().begin + record.fields.back().size + 1, in.buffer.size());
        fileLine = line + std::count(data + (offset - in.bufferAt), data + in.pos, '\n');
      }
      const int at = record.badField;
      skip(line, at < columnCount ? columns_[at] : QString::number(at + 1));
      continue;
    }
    const qsizetype n = qsizetype(record.fields.size());
    if (n == 1 && record.fields[0].size == 0) continue;  // a blank line
    if (!fieldsFit(record)) {
      skip(line, n < columnCount ? columns_[n] : QString::number(columnCount + 1));
      continue;
    }
    const FieldSpan& tf = record.fields[std::size_t(timeColumn_)];
    const QByteArrayView timeField(data + tf.begin, tf.size);
    if (!haveLast || timeField != QByteArrayView(lastTimeField)) {
      const std::optional<std::int64_t> t = timeReader_->read(fieldText(data, tf));
      if (!t) {
        skip(line, columns_[timeColumn_]);
        continue;
      }
      lastTimeField = timeField.toByteArray();
      lastTime = *t;
      haveLast = true;
    }
    const std::int64_t at = std::max(lastTime, previous);
    previous = at;
    if (times_.empty()) readings.setOrigin(Micros{at * 1000});
    times_.push_back(at);
    offsets_.push_back(offset);
    fileLines_.push_back(std::int32_t(std::min<qsizetype>(line, std::numeric_limits<std::int32_t>::max())));
    for (qsizetype i = 0; i < columnCount; ++i) {
      if (i == timeColumn_) continue;
      const FieldSpan& f = record.fields[std::size_t(i)];
      const std::optional<double> value = fieldNumber(data + f.begin, f.size, locale, asciiDigits);
      // Readings hold floats: a number beyond them is as unreadable as a text.
      if (!value || std::abs(*value) > double(std::numeric_limits<float>::max())) continue;
      int& channel = channelOf[std::size_t(i)];
      if (channel == Readings::kNoChannel) {
        const BoxChannel& m = meaning[std::size_t(i)];
        // A name given twice: the later column's channel says which column it is.
        QString channelName = columns_[i];
        if (columns_.indexOf(channelName) != i || channelName.isEmpty())
          channelName += QStringLiteral(" (column %1)").arg(i + 1);
        channel =
            known[std::size_t(i)]
                ? readings.channel(channelName, QString::fromUtf8(m.title.data(), qsizetype(m.title.size())),
                                   QString::fromUtf8(m.unit.data(), qsizetype(m.unit.size())))
                : readings.channel(channelName, QString(), units_[i]);
      }
      readings.add(channel, Micros{at * 1000}, *value);
    }
  }
  readings.endBatch();
  if (in.failed) return unreadable(name, device_->errorString());
  if (times_.empty()) {
    const QString none = QStringLiteral("it holds no line that could be read");
    return notALog(name, skipped_ > 0 ? none + QStringLiteral(" (") + skippedNotice() + u')' : none);
  }
  return {};
}

QStringList LogReader::fields(qsizetype line) const {
  if (!device_ || line < 0 || line >= lineCount()) return {};
  if (!device_->seek(offsets_[std::size_t(line)])) return {};
  Parsed in(*device_);
  in.chunk = 4096;
  Record record;
  Split status = Split::kDone;
  if (!in.next(record, status) || status != Split::kDone) return {};
  QStringList texts;
  for (qsizetype i = 0; i < columns_.size() && i < qsizetype(record.fields.size()); ++i)
    texts.append(fieldText(in.buffer.constData(), record.fields[std::size_t(i)]));
  if (texts.size() != columns_.size()) return {};
  return texts;
}

qsizetype LogReader::fileLine(qsizetype line) const {
  return line >= 0 && line < lineCount() ? fileLines_[std::size_t(line)] : 0;
}

QString LogReader::timeText(std::int64_t ms) const {
  return timeReader_ ? timeReader_->text(ms) : QString();
}

}  // namespace tarvex
