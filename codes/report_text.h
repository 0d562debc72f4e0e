#pragma once

#include <QString>

#include "codes/codes_reader.h"

namespace tarvex {

// The report as plain text: the protocol, the lamp, every code with its status
// and description, the freeze frame, the readiness of each monitor, and every
// read that failed with why. "none" only where a controller said so.
QString reportText(const CodesReport& report);

// The parts of it, for a window that shows each in its place.
QString milText(const CodesReport& report);       // "MIL: on (...)", and notes on the counts
QString codesSummary(const CodesReport& report);  // "Trouble codes: none", or empty
QString failuresText(const CodesReport& report);  // "Not read:" and a line a failed read, or empty
QList<std::pair<QString, QString>> freezeFrameRows(const FreezeFrame& frame);  // name, value
QString readinessText(const ControllerReadiness& readiness);

}  // namespace tarvex
