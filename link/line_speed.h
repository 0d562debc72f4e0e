#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <optional>

#include "link/clock.h"

namespace tarvex {

// Adapters leave the factory at 9600 or 38400 baud; some are set faster.
inline constexpr qint32 kDefaultBaud = 9600;
// Asks the port factory to find the adapter's speed instead.
inline constexpr qint32 kFindBaud = 0;
inline constexpr qint32 kBaudRates[] = {9600, 19200, 38400, 57600, 115200, 230400, 500000};
// The speeds tried when looking for the adapter, the common ones first.
inline constexpr qint32 kSearchOrder[] = {38400, 9600, 115200, 57600, 19200, 230400};

// "9600" ... "500000", or "auto" (kFindBaud); nothing for anything else.
std::optional<qint32> parseBaud(const QString& text);
QString baudRatesText();  // "9600, 19200, ... or 500000"

// Asks the adapter something harmless: its name. An adapter still working on
// something takes the line as an order to stop, and answers too.
inline constexpr char kProbe[] = "ATI\r";
// How long each speed gets to bring the prompt: the answer is a dozen
// characters, a few milliseconds even at 9600 baud.
inline constexpr Millis kProbeWait{300};

// The line as the search uses it: blocking, but never longer than told.
class ProbeLine {
 public:
  virtual ~ProbeLine() = default;
  virtual bool setBaudRate(qint32 baud) = 0;
  virtual void discardInput() = 0;
  virtual bool write(const QByteArray& data) = 0;
  // Waits up to `wait` for characters; returns what is there (maybe nothing).
  virtual QByteArray read(Millis wait) = 0;
};

// True once the received text ends in the prompt with only printable text and
// line ends before it. At a wrong speed the adapter's characters arrive as
// garbage, mostly with the high bit set.
bool answeredAtThisSpeed(const QByteArray& received);
// Any character that is neither printable nor a line end: a wrong speed.
bool garbled(const QByteArray& received);

// Tries each speed of kSearchOrder with the probe, and stops at the first that
// brings a clean prompt. The line is left at that speed; nothing when none did.
std::optional<qint32> findBaud(ProbeLine& line, Clock& clock, Millis waitEach = kProbeWait);

}  // namespace tarvex
