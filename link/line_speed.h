#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

#include "core/clock.h"

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

// What came back since a probe went out. At a wrong speed the adapter's
// characters arrive as garbage, mostly with the high bit set.
enum class Heard {
  kNothingYet,  // clean so far, no prompt yet
  kAnswer,      // the prompt, with only printable text and line ends before it
  kGarbage,     // a character that is neither printable nor a line end
};
Heard heard(const QByteArray& received);

// How long the search gives each step. An adapter at another speed answers a
// probe with its echo, "?" and the prompt at its own speed, which arrive over
// the next milliseconds (up to a USB bridge's 16 ms latency timer later): after
// each switch the line must have been quiet for `settle` before the probe goes
// out, but the probe goes out after `settleAtMost` whatever arrives. The answer
// is a dozen characters, a few milliseconds even at 9600 baud.
struct SearchTiming {
  Millis settle{40};
  Millis settleAtMost{300};
  Millis answerWait{300};
};

// What the search does with the line.
class SearchLine {
 public:
  virtual ~SearchLine() = default;
  // False when the device has no such speed: the search goes on without it.
  virtual bool setBaudRate(qint32 baud) = 0;
  // False when the device failed; the search stops and says nothing more.
  virtual bool write(const QByteArray& data) = 0;
};

// Looks for the adapter's line speed on the event loop, driven by its timer and
// by what the port hands to received(). Each speed of kSearchOrder is set in
// turn; after the line has settled (what arrives meanwhile is the answer to an
// earlier probe, and is dropped) the probe goes out. A speed is kept once two
// probes in a row were answered plainly; it is left after two probes that were
// not (garbage, or no prompt within answerWait). `done` is called once, with
// the speed (the line is left at it) or nothing when no speed answered; never
// after cancel(), nor when the line's write failed.
class BaudSearch {
 public:
  using Done = std::function<void(std::optional<qint32> found)>;
  BaudSearch(SearchLine& line, Clock& clock, SearchTiming timing = {});

  // Starts (or starts again) at the first speed. Returns at once.
  void start(Done done);
  void received(const QByteArray& bytes);
  void cancel();
  bool running() const { return state_ != State::kIdle; }
  // The speed being tried while running.
  qint32 speed() const;

 private:
  enum class State { kIdle, kSettling, kListening };
  void trySpeed(std::size_t index);
  void settle();
  void probe();
  void judged(bool plain);
  void finish(std::optional<qint32> found);

  SearchLine& line_;
  Clock& clock_;
  SearchTiming timing_;
  std::unique_ptr<Timer> timer_;
  Done done_;
  State state_ = State::kIdle;
  std::size_t index_ = 0;
  int plainInARow_ = 0;
  int failed_ = 0;
  Micros settleUntil_{0};  // the probe goes out by then, quiet or not
  QByteArray answer_;
  int run_ = 0;  // counts starts, so that a search started anew is told apart
};

}  // namespace tarvex
