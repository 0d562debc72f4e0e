#pragma once

#include <cstdint>
#include <optional>
#include <utility>

namespace tarvex {

// The stretch of time the chart shows, in milliseconds of the readings.
// Live, it starts at the first value and, once the values are wider than
// it, follows the newest with a fixed width; zooming or panning stops that,
// and reset() goes back home: following again, or the whole of a recorded run.
class TimeView {
 public:
  static constexpr std::int32_t kDefaultSpanMs = 10 * 60 * 1000;
  static constexpr std::int32_t kMinSpanMs = 50;
  static constexpr std::int32_t kMaxSpanMs = 7 * 24 * 60 * 60 * 1000;

  TimeView() { reset(); }

  std::int32_t from() const { return from_; }
  std::int32_t to() const { return to_; }
  std::int32_t span() const { return to_ - from_; }
  bool following() const { return following_; }

  // The values run from firstMs to newestMs: while following, the view starts
  // at the first, or ends at the newest when they are wider than it.
  void follow(std::int32_t firstMs, std::int32_t newestMs);
  // Makes the width `scale` times as wide (below 1: zooms in), keeping the
  // time under the mouse where it is. Stops following.
  void zoom(std::int32_t aroundMs, double scale);
  // Moves the view by this much (later when positive). Stops following.
  void pan(std::int32_t byMs);
  // Home is [fromMs, toMs] (a recorded run) instead of following the newest.
  void setHome(std::optional<std::pair<std::int32_t, std::int32_t>> range);
  void reset();

  // Between pixels of a plot `width` pixels wide and times.
  double xOf(std::int32_t ms, double width) const;
  std::int32_t timeAt(double x, double width) const;

 private:
  void setRange(std::int64_t from, std::int64_t to);
  void showNewest(std::int64_t span);

  std::int32_t from_ = 0;
  std::int32_t to_ = 0;
  std::int32_t first_ = 0;
  std::int32_t newest_ = 0;
  bool following_ = true;
  std::optional<std::pair<std::int32_t, std::int32_t>> home_;
};

}  // namespace tarvex
