#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace tarvex {

// A point handed to the painter. A NaN value lifts the pen: the line breaks
// there and goes on at the next point.
struct PlotPoint {
  std::int32_t ms;
  float value;
};

// Thins a series for drawing `columns` pixel columns wide over [fromMs, toMs]:
// of the points inside, each column keeps its lowest and its highest (in the
// order they came), so no peak is lost however many points share a column.
// The nearest point on either side outside the range is kept too, so the line
// runs to the edges. NaN values inside break the line. `out` is reused to
// spare an allocation a redraw.
void decimate(std::span<const std::int32_t> ms, std::span<const float> values, std::int32_t fromMs,
              std::int32_t toMs, int columns, std::vector<PlotPoint>& out);

struct ValueRange {
  float low;
  float high;
};

// The lowest and highest value of the points within [fromMs, toMs]; nothing
// when none is there.
std::optional<ValueRange> rangeWithin(const std::vector<PlotPoint>& points, std::int32_t fromMs,
                                      std::int32_t toMs);

// A lane's vertical scale: the range widened a little so the line does not
// run along the frame, and a flat line given some room.
ValueRange laneScale(ValueRange range);

}  // namespace tarvex
