#include "charts/chart_data.h"

#include <algorithm>
#include <limits>
#include <vector>

namespace tarvex {

std::optional<float> valueAt(const Series& series, std::int32_t atMs) {
  const auto after = std::upper_bound(series.ms.begin(), series.ms.end(), atMs);
  if (after == series.ms.begin()) return std::nullopt;
  return series.values[std::size_t(after - series.ms.begin() - 1)];
}

std::optional<Extent> extentOf(const Readings& readings, const QList<int>& channels) {
  std::optional<Extent> extent;
  for (const int c : channels) {
    if (c < 0 || c >= readings.channels().size() || readings.series(c).isEmpty()) continue;
    const Series& s = readings.series(c);
    extent = extent ? Extent{std::min(extent->first, s.ms.front()), std::max(extent->newest, s.ms.back())}
                    : Extent{s.ms.front(), s.ms.back()};
  }
  return extent;
}

QString channelLabel(const Channel& channel, const QString& suffix, int room,
                     const std::function<int(const QString&)>& widthOf) {
  if (channel.title.isEmpty() || channel.title == channel.name) return channel.name + suffix;
  const QString both = channel.title + QStringLiteral(" \u00B7 ") + channel.name + suffix;
  return widthOf(both) <= room ? both : channel.title + suffix;
}

namespace {

// Three decimals, without a locale: a millisecond is the finest time kept.
QByteArray seconds(std::int32_t ms) {
  const std::int64_t whole = ms / 1000;
  const std::int64_t part = ms % 1000;
  QByteArray text = (ms < 0 ? QByteArray("-") : QByteArray()) + QByteArray::number(std::abs(whole)) + '.';
  text += QByteArray::number(std::abs(part)).rightJustified(3, '0');
  return text;
}

QByteArray quoted(const QString& text) {
  QByteArray bytes = text.toUtf8();
  if (!bytes.contains(',') && !bytes.contains('"') && !bytes.contains('\n')) return bytes;
  bytes.replace("\"", "\"\"");
  return '"' + bytes + '"';
}

}  // namespace

QByteArray chartCsv(const Readings& readings, const QList<int>& channels, std::int32_t fromMs,
                    std::int32_t toMs) {
  QByteArray csv = "Time (s)";
  std::vector<qsizetype> next;
  std::vector<qsizetype> end;
  std::vector<const Series*> series;
  for (const int c : channels) {
    const Channel& channel = readings.channels()[c];
    csv += ',' + quoted(channel.unit.isEmpty()
                            ? channel.name
                            : channel.name + QStringLiteral(" (") + channel.unit + QLatin1Char(')'));
    const Series& s = readings.series(c);
    series.push_back(&s);
    next.push_back(s.lowerBound(fromMs));
    end.push_back(toMs == std::numeric_limits<std::int32_t>::max() ? s.size() : s.lowerBound(toMs + 1));
  }
  csv += "\r\n";
  for (;;) {
    // The earliest time still to write, then every channel's sample at it.
    std::optional<std::int32_t> at;
    for (std::size_t i = 0; i < series.size(); ++i)
      if (next[i] < end[i])
        at = std::min(at.value_or(std::numeric_limits<std::int32_t>::max()),
                      series[i]->ms[std::size_t(next[i])]);
    if (!at) break;
    csv += seconds(*at);
    for (std::size_t i = 0; i < series.size(); ++i) {
      csv += ',';
      if (next[i] < end[i] && series[i]->ms[std::size_t(next[i])] == *at) {
        csv += QByteArray::number(double(series[i]->values[std::size_t(next[i])]), 'g', 7);
        ++next[i];
      }
    }
    csv += "\r\n";
  }
  return csv;
}

}  // namespace tarvex
