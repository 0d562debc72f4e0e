#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <cstdint>
#include <functional>
#include <optional>

#include "core/readings.h"

namespace tarvex {

// The value a channel had at a time: its sample at or before that time, and
// nothing before its first.
std::optional<float> valueAt(const Series& series, std::int32_t atMs);

// The first and the newest time any of these channels has a value for;
// nothing when none has.
struct Extent {
  std::int32_t first;
  std::int32_t newest;
};
std::optional<Extent> extentOf(const Readings& readings, const QList<int>& channels);

// How a chart names a channel (its lanes, its pick list) in `room`, as
// `widthOf` measures text: its title in words with its short name where both
// fit ("Vehicle speed \u00B7 VSS"), else the title alone; a channel without a
// title (another program's column) by its short name. `suffix` (the unit)
// follows either.
QString channelLabel(const Channel& channel, const QString& suffix, int room,
                     const std::function<int(const QString&)>& widthOf);

// The shown range as CSV: a header, then one line for each time any of the
// channels has a sample within [fromMs, toMs], in time order. The first column
// is the time in seconds from the readings' origin, then one column a channel
// ("RPM (rpm)"), empty where that channel has no sample at that time.
QByteArray chartCsv(const Readings& readings, const QList<int>& channels, std::int32_t fromMs,
                    std::int32_t toMs);

}  // namespace tarvex
