#include "charts/time_view.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace tarvex {

void TimeView::setRange(std::int64_t from, std::int64_t to) {
  constexpr std::int64_t kLow = std::numeric_limits<std::int32_t>::min();
  constexpr std::int64_t kHigh = std::numeric_limits<std::int32_t>::max();
  const std::int64_t span = std::clamp<std::int64_t>(to - from, kMinSpanMs, kMaxSpanMs);
  from = std::clamp<std::int64_t>(from, kLow, kHigh - span);
  from_ = std::int32_t(from);
  to_ = std::int32_t(from + span);
}

void TimeView::follow(std::int32_t firstMs, std::int32_t newestMs) {
  first_ = firstMs;
  newest_ = newestMs;
  if (following_) showNewest(span());
}

// No empty stretch before the first value: it starts the view until the
// values are wider than the view.
void TimeView::showNewest(std::int64_t span) {
  const std::int64_t from = std::max<std::int64_t>(first_, std::int64_t(newest_) - span);
  setRange(from, from + span);
}

void TimeView::zoom(std::int32_t aroundMs, double scale) {
  if (!(scale > 0)) return;
  following_ = false;
  const double span = std::clamp(double(to_ - from_) * scale, double(kMinSpanMs), double(kMaxSpanMs));
  const double share = to_ > from_ ? double(aroundMs - from_) / double(to_ - from_) : 1.0;
  const auto from = std::int64_t(std::llround(double(aroundMs) - share * span));
  setRange(from, from + std::int64_t(std::llround(span)));
}

void TimeView::pan(std::int32_t byMs) {
  following_ = false;
  setRange(std::int64_t(from_) + byMs, std::int64_t(to_) + byMs);
}

void TimeView::setHome(std::optional<std::pair<std::int32_t, std::int32_t>> range) {
  home_ = range;
  reset();
}

void TimeView::reset() {
  if (home_) {
    following_ = false;
    setRange(home_->first, home_->second);
  } else {
    following_ = true;
    showNewest(kDefaultSpanMs);
  }
}

double TimeView::xOf(std::int32_t ms, double width) const {
  return double(std::int64_t(ms) - from_) * width / double(to_ - from_);
}

std::int32_t TimeView::timeAt(double x, double width) const {
  if (!(width > 0)) return from_;
  return std::int32_t(std::llround(double(from_) + x * double(to_ - from_) / width));
}

}  // namespace tarvex
