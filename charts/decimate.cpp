#include "charts/decimate.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace tarvex {

namespace {

// Keeps one column's lowest and highest point, and hands them over in the
// order they came. The values are kept beside their places so that the loop
// over a million points compares registers.
struct ColumnExtremes {
  std::ptrdiff_t low = -1;
  std::ptrdiff_t high = -1;
  float lowValue = std::numeric_limits<float>::infinity();
  float highValue = -std::numeric_limits<float>::infinity();

  void take(std::ptrdiff_t i, float value) {
    if (value < lowValue || low < 0) {
      lowValue = value;
      low = i;
    }
    if (value > highValue || high < 0) {
      highValue = value;
      high = i;
    }
  }
  void flush(const std::int32_t* ms, const float* values, std::vector<PlotPoint>& out) {
    if (low < 0) return;
    const std::ptrdiff_t first = std::min(low, high);
    const std::ptrdiff_t second = std::max(low, high);
    out.push_back({ms[first], values[first]});
    if (second != first) out.push_back({ms[second], values[second]});
    *this = ColumnExtremes();
  }
};

void pushBreak(std::int32_t at, std::vector<PlotPoint>& out) {
  if (!out.empty() && std::isnan(out.back().value)) return;
  out.push_back({at, std::numeric_limits<float>::quiet_NaN()});
}

}  // namespace

void decimate(std::span<const std::int32_t> ms, std::span<const float> values, std::int32_t fromMs,
              std::int32_t toMs, int columns, std::vector<PlotPoint>& out) {
  out.clear();
  const auto n = std::ptrdiff_t(std::min(ms.size(), values.size()));
  if (n == 0 || columns <= 0 || toMs < fromMs) return;
  const std::int32_t* t = ms.data();
  const float* v = values.data();
  const std::ptrdiff_t first = std::lower_bound(t, t + n, fromMs) - t;
  const std::ptrdiff_t end = std::upper_bound(t, t + n, toMs) - t;

  if (first > 0) out.push_back({t[first - 1], v[first - 1]});
  // Column c holds the times before from + ceil((c + 1) * span / columns):
  // whole milliseconds, so each point is compared, never divided.
  const std::int64_t span = std::max<std::int64_t>(1, std::int64_t(toMs) - fromMs);
  ColumnExtremes column;
  std::ptrdiff_t i = first;
  std::int64_t c = 0;
  while (i < end) {
    const std::int64_t boundary = c + 1 >= columns
                                      ? std::numeric_limits<std::int64_t>::max()
                                      : std::int64_t(fromMs) + ((c + 1) * span + columns - 1) / columns;
    // Skip empty columns at once: the next point's own column.
    if (t[i] >= boundary) {
      c = std::min<std::int64_t>(columns - 1, (std::int64_t(t[i]) - fromMs) * columns / span);
      continue;
    }
    for (; i < end && t[i] < boundary; ++i) {
      const float value = v[i];
      if (std::isnan(value)) [[unlikely]] {
        column.flush(t, v, out);
        pushBreak(t[i], out);
      } else {
        column.take(i, value);
      }
    }
    column.flush(t, v, out);
    ++c;
  }
  if (end < n) out.push_back({t[end], v[end]});
}

std::optional<ValueRange> rangeWithin(const std::vector<PlotPoint>& points, std::int32_t fromMs,
                                      std::int32_t toMs) {
  std::optional<ValueRange> range;
  for (const PlotPoint& p : points) {
    if (p.ms < fromMs || p.ms > toMs || std::isnan(p.value)) continue;
    if (!range) {
      range = ValueRange{p.value, p.value};
    } else {
      range->low = std::min(range->low, p.value);
      range->high = std::max(range->high, p.value);
    }
  }
  return range;
}

ValueRange laneScale(ValueRange range) {
  const float height = range.high - range.low;
  if (!(height > 0)) {
    const float room = std::max(1.0f, std::abs(range.low) * 0.1f);
    return {range.low - room, range.high + room};
  }
  return {range.low - height * 0.05f, range.high + height * 0.05f};
}

}  // namespace tarvex
