#pragma once

#include <QList>
#include <QString>
#include <cstdint>
#include <functional>
#include <limits>
#include <map>
#include <vector>

#include "core/clock.h"

namespace tarvex {

// One measured quantity: its short name as the log's column and the windows
// call it ("RPM", "MAF"), what it is, and its unit.
struct Channel {
  QString name;
  QString title;
  QString unit;
};

// The values of one channel in time order. Times are milliseconds from the
// readings' origin, held in 32 bits (24 days), and values as float: eight
// bytes a point, so that a long log fits in memory many times over.
struct Series {
  std::vector<std::int32_t> ms;
  std::vector<float> values;

  qsizetype size() const { return qsizetype(ms.size()); }
  bool isEmpty() const { return ms.empty(); }
  // The first point at or after `atMs` (size() when there is none).
  qsizetype lowerBound(std::int32_t atMs) const;
};

// The decoded values of a run, channel by channel with their time: the one
// place charts, logs and replay take values from. Sources (the scan, the
// standard data poll, a replayed log) add to it; views read it and are told
// what changed. A value that could not be read is never added: a gap in a
// series is a missing value, never a zero.
class Readings {
 public:
  static constexpr int kNoChannel = -1;

  // The channel of this name, added (with its title and unit) if new.
  int channel(const QString& name, const QString& title = QString(), const QString& unit = QString());
  int find(const QString& name) const;  // kNoChannel when there is none
  const QList<Channel>& channels() const { return channels_; }
  const Series& series(int channel) const { return series_[std::size_t(channel)]; }

  // Where time 0 is; set by the first value added after clear().
  Micros origin() const { return origin_; }
  void setOrigin(Micros origin);
  std::int32_t toMs(Micros at) const;
  Micros toTime(std::int32_t ms) const;

  // Adds a value at a time. A value earlier than the channel's last is put
  // in its place; NaN and infinities are not values and are left out.
  void add(int channel, Micros at, double value);
  // Live views keep at most this many points a channel: the oldest go first
  // (in blocks, so that adding stays cheap). 0: no limit (a replayed log).
  void setLimit(qsizetype pointsPerChannel) { limit_ = pointsPerChannel; }

  // Forgets every value and channel, and tells the watchers.
  void clear();

  // Told after values were added (the channels that got some) or after a
  // clear (an empty list). Returns a key for unwatch().
  int watch(std::function<void(const QList<int>& channels)> changed);
  void unwatch(int key);
  // Adding many values at once (a log being read): the watchers are told
  // once, when the outermost batch ends.
  void beginBatch() { ++batch_; }
  void endBatch();

 private:
  void changed(int channel);
  QList<int> takePending();

  QList<Channel> channels_;
  std::vector<Series> series_;
  Micros origin_{0};
  bool originSet_ = false;
  qsizetype limit_ = 0;
  int batch_ = 0;
  QList<int> pending_;
  std::vector<char> isPending_;
  int nextKey_ = 0;
  std::map<int, std::function<void(const QList<int>&)>> watchers_;
};

}  // namespace tarvex
