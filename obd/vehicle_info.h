#pragma once

#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

#include "obd/answer.h"

namespace tarvex::obd {

// Service 09 items this program reads.
inline constexpr int kVinPid = 0x02;
inline constexpr int kCalibrationPid = 0x04;
inline constexpr int kEcuNamePid = 0x0A;

struct InfoItems {
  QString source;     // the controller's address, empty with headers off
  QStringList items;  // one VIN, or each calibration ID, or the ECU name
};

// The text items of every controller's answer to "09 pid". On CAN one
// message holds "49 pid count" and the items; on the older buses each line
// holds "49 pid n" and four bytes, put in order by n. Filler zeros are
// dropped; an answer cut short gives nothing.
std::vector<InfoItems> readInfo(const std::vector<Message>& messages, int pid, Bus bus);

// The first 17-character VIN any controller gave.
std::optional<QString> vin(const std::vector<Message>& messages, Bus bus);

}  // namespace tarvex::obd
