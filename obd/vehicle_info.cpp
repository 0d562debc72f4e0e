#include "obd/vehicle_info.h"

#include <algorithm>
#include <map>

namespace tarvex::obd {
namespace {

// The length of one item; a VIN is read whole, as the older buses put filler
// in front of it.
std::size_t itemLength(int pid) {
  switch (pid) {
    case kCalibrationPid:
      return 16;
    case kEcuNamePid:
      return 20;
    default:
      return 0;
  }
}

QString itemText(const std::vector<std::uint8_t>& bytes, std::size_t from, std::size_t length) {
  QString text;
  for (std::size_t i = from; i < from + length && i < bytes.size(); ++i)
    if (bytes[i] != 0) text += QLatin1Char(static_cast<char>(bytes[i]));
  return text.trimmed();
}

}  // namespace

std::vector<InfoItems> readInfo(const std::vector<Message>& messages, int pid, Bus bus) {
  // Each controller's bytes in the order they go, then split into items.
  std::vector<std::pair<QString, std::vector<std::uint8_t>>> bytesOf;
  std::map<QString, std::map<int, std::vector<std::uint8_t>>> lines;
  for (const Message& m : messages) {
    const auto& d = m.data;
    if (!m.complete || d.size() < 3 || d[0] != 0x49 || d[1] != pid) continue;
    if (bus != Bus::kLegacy) {
      bytesOf.emplace_back(m.source, std::vector<std::uint8_t>(d.begin() + 3, d.end()));
    } else {
      if (!lines.contains(m.source)) bytesOf.emplace_back(m.source, std::vector<std::uint8_t>{});
      lines[m.source][d[2]].assign(d.begin() + 3, d.end());
    }
  }
  std::vector<InfoItems> out;
  for (auto& [source, bytes] : bytesOf) {
    for (const auto& [number, part] : lines[source]) bytes.insert(bytes.end(), part.begin(), part.end());
    InfoItems info{source, {}};
    const std::size_t length = itemLength(pid);
    if (length == 0) {
      info.items << itemText(bytes, 0, bytes.size());
    } else {
      for (std::size_t at = 0; at + length <= bytes.size(); at += length)
        info.items << itemText(bytes, at, length);
    }
    info.items.removeAll(QString());
    if (!info.items.isEmpty()) out.push_back(std::move(info));
  }
  return out;
}

std::optional<QString> vin(const std::vector<Message>& messages, Bus bus) {
  for (const InfoItems& info : readInfo(messages, kVinPid, bus))
    if (info.items.first().size() == 17) return info.items.first();
  return std::nullopt;
}

}  // namespace tarvex::obd
