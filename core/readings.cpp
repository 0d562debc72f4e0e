#include "core/readings.h"

#include <algorithm>
#include <cmath>

namespace tarvex {

qsizetype Series::lowerBound(std::int32_t atMs) const {
  return qsizetype(std::lower_bound(ms.begin(), ms.end(), atMs) - ms.begin());
}

int Readings::find(const QString& name) const {
  for (qsizetype i = 0; i < channels_.size(); ++i)
    if (channels_[i].name == name) return int(i);
  return kNoChannel;
}

int Readings::channel(const QString& name, const QString& title, const QString& unit) {
  if (const int found = find(name); found != kNoChannel) return found;
  channels_.append({name, title.isEmpty() ? name : title, unit});
  series_.emplace_back();
  isPending_.push_back(0);
  return int(channels_.size() - 1);
}

void Readings::setOrigin(Micros origin) {
  origin_ = origin;
  originSet_ = true;
}

std::int32_t Readings::toMs(Micros at) const {
  const std::int64_t ms = std::chrono::duration_cast<Millis>(at - origin_).count();
  return std::int32_t(std::clamp<std::int64_t>(ms, std::numeric_limits<std::int32_t>::min(),
                                               std::numeric_limits<std::int32_t>::max()));
}

Micros Readings::toTime(std::int32_t ms) const {
  return origin_ + Millis{ms};
}

void Readings::add(int channel, Micros at, double value) {
  // What a float cannot hold is no value either.
  if (channel < 0 || channel >= int(series_.size()) || !std::isfinite(value) ||
      std::abs(value) > double(std::numeric_limits<float>::max()))
    return;
  if (!originSet_) setOrigin(at);
  Series& s = series_[std::size_t(channel)];
  const std::int32_t ms = toMs(at);
  const auto v = static_cast<float>(value);
  if (s.ms.empty() || s.ms.back() <= ms) {
    s.ms.push_back(ms);
    s.values.push_back(v);
  } else {
    const auto at_ = std::upper_bound(s.ms.begin(), s.ms.end(), ms) - s.ms.begin();
    s.ms.insert(s.ms.begin() + at_, ms);
    s.values.insert(s.values.begin() + at_, v);
  }
  if (limit_ > 0 && s.size() > limit_ + limit_ / 8) {
    const auto drop = std::ptrdiff_t(s.size() - limit_);
    s.ms.erase(s.ms.begin(), s.ms.begin() + drop);
    s.values.erase(s.values.begin(), s.values.begin() + drop);
  }
  changed(channel);
}

void Readings::changed(int channel) {
  // A flag a channel: a batch adds millions of values to a few dozen channels.
  if (!std::exchange(isPending_[std::size_t(channel)], char(1))) pending_.append(channel);
  if (batch_ > 0) return;
  const QList<int> channels = takePending();
  // A watcher may unwatch (a window closing); walk a copy.
  const auto watchers = watchers_;
  for (const auto& [key, watcher] : watchers) watcher(channels);
}

void Readings::endBatch() {
  if (batch_ > 0 && --batch_ == 0 && !pending_.isEmpty()) {
    const QList<int> channels = takePending();
    const auto watchers = watchers_;
    for (const auto& [key, watcher] : watchers) watcher(channels);
  }
}

void Readings::clear() {
  channels_.clear();
  series_.clear();
  pending_.clear();
  isPending_.clear();
  originSet_ = false;
  origin_ = Micros{0};
  const auto watchers = watchers_;
  for (const auto& [key, watcher] : watchers) watcher({});
}

QList<int> Readings::takePending() {
  for (int c : pending_) isPending_[std::size_t(c)] = 0;
  return std::exchange(pending_, {});
}

int Readings::watch(std::function<void(const QList<int>&)> changed) {
  watchers_[nextKey_] = std::move(changed);
  return nextKey_++;
}

void Readings::unwatch(int key) {
  watchers_.erase(key);
}

}  // namespace tarvex
