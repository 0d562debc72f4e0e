#pragma once

#include <QString>

#include "codes/codes_reader.h"
#include "core/units.h"

namespace tarvex {

// The report as plain text: the protocol, the lamp, every code with its status
// and description, the freeze frame, the readiness of each monitor, and every
// read that failed with why. "none" only where a controller said so. The
// freeze frame's values in `units`.
QString reportText(const CodesReport& report, const UnitChoice& units = UnitChoice());

// The parts of it, for a window that shows each in its place.
QString milText(const CodesReport& report);       // "MIL: on (...)", and notes on the counts
QString codesSummary(const CodesReport& report);  // "Trouble codes: none", or empty
QString failuresText(const CodesReport& report);  // "Not read:" and a line a failed read, or empty
// Name and value, each value in `units`.
QList<std::pair<QString, QString>> freezeFrameRows(const FreezeFrame& frame,
                                                   const UnitChoice& units = UnitChoice());
QString readinessText(const ControllerReadiness& readiness);

}  // namespace tarvex
