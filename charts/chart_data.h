#pragma once

#include <QByteArray>
#include <QList>
#include <cstdint>
#include <optional>

#include "core/readings.h"

namespace tarvex {

// The value a channel had at a time: its sample at or before that time, and
// nothing before its first.
std::optional<float> valueAt(const Series& series, std::int32_t atMs);

// The newest time any of these channels has a value for; nothing when none has.
std::optional<std::int32_t> newestOf(const Readings& readings, const QList<int>& channels);

// The shown range as CSV: a header, then one line for each time any of the
// channels has a sample within [fromMs, toMs], in time order. The first column
// is the time in seconds from the readings' origin, then one column a channel
// ("RPM (rpm)"), empty where that channel has no sample at that time.
QByteArray chartCsv(const Readings& readings, const QList<int>& channels, std::int32_t fromMs,
                    std::int32_t toMs);

}  // namespace tarvex
