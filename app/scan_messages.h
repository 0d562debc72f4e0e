#pragma once

#include <QString>

#include "scan/scan_cycle.h"

namespace tarvex {

// What the user is told when a whole round of the scan brought no answer:
// the device, the protocol the adapter says it uses (its answer to ATDPN,
// "A2"; empty when it gave none), and, on a car that does not speak J1850
// VPW, that the enhanced parameters need a GM controller on it and that
// Standard data reads any car.
QString silenceNotice(const QString& device, const QString& protocolAnswer);

// Why a scan could not start or had to stop, in the same words for the window
// and the command line: the device or file, the system's reason, and whether
// the log kept its whole lines. The window adds what to press.
QString scanFailureText(const ScanFailure& failure);

}  // namespace tarvex
