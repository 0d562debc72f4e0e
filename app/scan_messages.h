#pragma once

#include <QString>
#include <optional>

#include "core/failure.h"

namespace tarvex {

// What the user is told when a whole round of the scan brought no answer:
// the device and, when the adapter answered the protocol question, the
// protocol it uses (its answer to ATDPN, "A2"); on a car that does not speak
// J1850 VPW (or none found), that the enhanced parameters need a GM controller
// there and that Standard data reads any car. When the adapter did not answer at all, it is
// the adapter that is silent, not the car. When the controller refused the
// requests (`refusal`, "7F 22 12"), it heard them: that is told instead.
QString silenceNotice(const QString& device, const Result<QString>& protocolAnswer,
                      const QString& refusal = {});

// The adapter named a protocol that is not J1850 VPW, or found no car on any
// protocol that answers the GM scan: the enhanced scan will not hear this car,
// Standard data (which searches with standard requests) may.
bool offersStandardData(const Result<QString>& protocolAnswer);

// What the log without a window says when its first `rounds` rounds heard no
// value: the device, the protocol when the adapter named one, and that
// --standard reads any OBD-II car.
QString silentLogText(const QString& device, const std::optional<QString>& protocolAnswer, int rounds,
                      const QString& refusal = {});

// Why a scan could not start or had to stop, in the same words for the window
// and the command line: the device or file, the reason, and, when a log was
// open, that it kept its whole lines. The window adds what to press.
QString scanFailureText(const Failure& failure, bool logWasOpen);

}  // namespace tarvex
