#include "standard/standard_log.h"

#include <cmath>

#include "scan/csv_log.h"

namespace tarvex {
namespace {

// Decimals when a column's step is not known: enough for any parameter.
constexpr int kUnknownDecimals = 6;

QByteArray numberText(double value, int decimals) {
  QByteArray text = QByteArray::number(value, 'f', decimals);
  if (text.contains('.')) {
    while (text.endsWith('0')) text.chop(1);
    if (text.endsWith('.')) text.chop(1);
  }
  if (text == "-0") text = "0";
  return text;
}

// A column's decimals in the chosen unit: the step converted as a
// difference, so an offset (°F) does not count. An inverse unit (mpg from
// L/100 km) has no step of its own: its figures keep the resolution they had.
int columnDecimals(const LogColumn& column, const UnitChoice& units) {
  double converted =
      std::abs(convert(column.step, column.unit, units).value - convert(0.0, column.unit, units).value);
  if (!std::isfinite(converted)) converted = column.step;
  return decimalsForStep(converted).value_or(kUnknownDecimals);
}

}  // namespace

std::optional<int> decimalsForStep(double step) {
  if (!(step > 0) || !std::isfinite(step)) return std::nullopt;
  // Two significant digits: the step as digits * 10^(power - 1), digits in 10..99.
  int power = static_cast<int>(std::floor(std::log10(step)));
  long digits = std::lround(step / std::pow(10.0, power - 1));
  if (digits >= 100) {
    digits /= 10;
    ++power;
  }
  int decimals = 1 - power;
  if (digits % 10 == 0) --decimals;
  return std::max(decimals, 0);
}

QByteArray standardLogTime(const QDateTime& when) {
  return when.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")).toLatin1();
}

QByteArray standardLogUtcOffset(const QDateTime& when) {
  const int offset = when.offsetFromUtc();
  const int minutes = std::abs(offset) / 60;
  return QString::asprintf("%c%02d:%02d", offset < 0 ? '-' : '+', minutes / 60, minutes % 60).toLatin1();
}

QByteArray standardLogHeader(const std::vector<LogColumn>& columns, const UnitChoice& units) {
  QString line = QStringLiteral("\uFEFFTime,UTC offset");
  for (const LogColumn& c : columns) {
    const QString label = convert(0.0, c.unit, units).label;
    line += QLatin1Char(',');
    line += csvField(label.isEmpty() ? c.name : QStringLiteral("%1 [%2]").arg(c.name, label));
  }
  return line.toUtf8() + "\r\n";
}

QByteArray standardLogLine(const QDateTime& when, const std::vector<LogColumn>& columns,
                           const std::vector<std::optional<double>>& values, const UnitChoice& units) {
  QByteArray line = standardLogTime(when) + ',' + standardLogUtcOffset(when);
  for (std::size_t i = 0; i < columns.size(); ++i) {
    line += ',';
    if (i >= values.size() || !values[i]) continue;
    const double value = convert(*values[i], columns[i].unit, units).value;
    if (std::isfinite(value)) line += numberText(value, columnDecimals(columns[i], units));
  }
  return line + "\r\n";
}

Status StandardLog::open(const QString& path, std::vector<LogColumn> columns, const UnitChoice& units,
                         const QDateTime& start) {
  close();
  file_.setFileName(path);
  if (!file_.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered))
    return Failure{Failure::Kind::kCreate, path, file_.errorString(), {}};
  columns_ = std::move(columns);
  units_ = units;
  start_ = start;
  complete_ = 0;
  if (std::optional<QString> reason = append(standardLogHeader(columns_, units_)))
    return Failure{Failure::Kind::kCreate, path, *reason, {}};
  return {};
}

Status StandardLog::write(double seconds, const std::vector<std::optional<double>>& values) {
  if (!file_.isOpen())
    return Failure{Failure::Kind::kWrite, path(), QStringLiteral("the log is not open"), {}};
  const QString name = path();
  if (std::optional<QString> reason =
          append(standardLogLine(start_.addMSecs(std::llround(seconds * 1000)), columns_, values, units_)))
    return Failure{Failure::Kind::kWrite, name, *reason, {}};
  return {};
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
