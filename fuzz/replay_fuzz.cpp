// Any bytes as a log opened for replay: the reader must refuse or read them,
// never crash, and what it read must hold together: times in order, every
// line's texts found again where it was read, no value that is not a number.
#include <QBuffer>
#include <cmath>
#include <cstdlib>

#include "replay/log_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tarvex;
  auto buffer = std::make_unique<QBuffer>();
  buffer->setData(reinterpret_cast<const char*>(data), qsizetype(size));
  buffer->open(QIODevice::ReadOnly);
  LogReader reader;
  Readings readings;
  const Status loaded = reader.load(std::move(buffer), QStringLiteral("fuzz.csv"), readings);
  if (!loaded) {
    if (loaded.failure().reason.isEmpty() || reader.lineCount() != 0) std::abort();
    return 0;
  }
  const std::vector<std::int64_t>& times = reader.lineTimes();
  if (times.empty() || !std::is_sorted(times.begin(), times.end())) std::abort();
  if (reader.timeColumn() < 0 || reader.timeColumn() >= reader.columns().size()) std::abort();
  for (const qsizetype line : {qsizetype(0), reader.lineCount() / 2, reader.lineCount() - 1})
    if (reader.fields(line).size() != reader.columns().size()) std::abort();
  for (qsizetype c = 0; c < readings.channels().size(); ++c) {
    const Series& s = readings.series(int(c));
    if (s.size() > reader.lineCount() || !std::is_sorted(s.ms.begin(), s.ms.end())) std::abort();
    for (const float v : s.values)
      if (!std::isfinite(v)) std::abort();
  }
  (void)reader.skippedNotice();
  (void)reader.timeText(times.back());
  return 0;
}
