#pragma once

#include <QString>
#include <cstdint>
#include <vector>

#include "obd/answer.h"

namespace tarvex::obd {

// The services that read trouble codes: stored, pending (this or the last
// drive cycle) and permanent (only the car clears them).
enum class CodeService : std::uint8_t { kStored = 0x03, kPending = 0x07, kPermanent = 0x0A };

// "P0171" from a code's two bytes: the letter from the first two bits, then
// four hex digits.
QString codeText(std::uint8_t a, std::uint8_t b);

struct TroubleCode {
  QString code;
  QString source;  // the controller's address, empty with headers off
};

// The codes in every controller's answer to a trouble-code service. On CAN
// an answer has a count byte, then that many codes; on the older buses each
// line has three codes, padded with 00 00. Answers to other services, and
// refusals, are left out; an answer cut short gives the codes that came.
std::vector<TroubleCode> troubleCodes(const std::vector<Message>& messages, CodeService service, Bus bus);

// What a code means: the description of a known generic code, else what its
// digits tell (generic or manufacturer-specific, and the system).
QString describeCode(const QString& code);

}  // namespace tarvex::obd
