#pragma once

#include <QString>
#include <QStringView>
#include <optional>

namespace tarvex {

// What an ELM327 prints on a line of its own (or, for a checksum error, at a
// line's end) instead of, or besides, what the car said.
enum class AdapterWord {
  kUnknownCommand,   // "?": it did not understand the line
  kNoData,           // "NO DATA": it asked, nobody answered
  kUnableToConnect,  // "UNABLE TO CONNECT": the protocol search found no car
  kBusInitError,     // "BUS INIT: ...ERROR": the K-line wake-up failed
  kBusBusy,          // "BUS BUSY"
  kBusError,         // "BUS ERROR"
  kCanError,         // "CAN ERROR"
  kDataError,        // "DATA ERROR", or "<DATA ERROR" after a line with a bad checksum
  kBufferFull,       // "BUFFER FULL": the answer outran the serial line
  kStopped,          // "STOPPED": a character arrived while it worked
  kFeedbackError,    // "FB ERROR"
  kFatalCan,         // "ERR94": a fatal CAN error; the adapter resets
  kLowVoltageReset,  // "LV RESET"
  kActivityAlert,    // "ACT ALERT": no bus activity; it goes to low power
};

// The word on a line of the adapter's text (blanks and case as printed), or
// nothing when the line is anything else: data, an echo, "SEARCHING...",
// "OK", or "BUS INIT: ...OK".
std::optional<AdapterWord> adapterWord(QStringView line);

// The word as the adapter prints it: "CAN ERROR".
QString adapterWordText(AdapterWord word);

}  // namespace tarvex
