#pragma once

#include <QString>

#include "core/failure.h"

namespace tarvex {

// What the user is told when a whole round of the scan brought no answer:
// the device and, when the adapter answered the protocol question, the
// protocol it uses (its answer to ATDPN, "A2"); on a car that does not speak
// J1850 VPW, that the enhanced parameters need a GM controller there and that
// Standard data reads any car. When the adapter did not answer at all, it is
// the adapter that is silent, not the car.
QString silenceNotice(const QString& device, const Result<QString>& protocolAnswer);

// Why a scan could not start or had to stop, in the same words for the window
// and the command line: the device or file, the reason, and, when a log was
// open, that it kept its whole lines. The window adds what to press.
QString scanFailureText(const Failure& failure, bool logWasOpen);

}  // namespace tarvex
