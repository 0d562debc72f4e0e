#pragma once

#include <QByteArray>
#include <QStringList>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <random>

#include "core/clock.h"
#include "sim/vehicle.h"

namespace tarvex::sim {

// Time as a client sees it across the serial line.
struct SimTiming {
  int baud = 9600;          // pacing of both directions at 8N1; 0: no pacing
  Micros turnaround{2000};  // the adapter's own work before it acts on a line
  Millis latencyMin{10};    // the car's answer latency on the bus
  Millis latencyMax{40};
  // ATZ (and a spontaneous reset) until the banner: a little under the
  // second that clients commonly sleep after ATZ, so their next line is heard.
  Millis resetTime{900};

  // Everything at once: for tests that only care about the text.
  static SimTiming instant() { return {0, Micros{0}, Millis{0}, Millis{0}, Millis{0}}; }
  Micros charTime() const { return baud > 0 ? Micros{(10'000'000 + baud / 2) / baud} : Micros{0}; }
};

enum class Injection { None, Searching, BusInit, CanError, Noise };

// Faults for tests. Shares are probabilities per request to the car, drawn
// from the adapter's seeded generator.
struct SimFaults {
  double dropShare = 0;  // the car's answer is lost on the bus: "NO DATA"
  double lateShare = 0;  // the answer comes lateBy after the command, whatever ATST says
  Millis lateBy{250};
  double twiceShare = 0;  // the car's answer line arrives twice
  Injection inject = Injection::None;
  double injectShare = 1;  // share of requests that get the injection
  bool silent = false;     // nothing comes back at all, not even the echo
  int resetEvery = 0;      // every Nth command line resets the adapter instead (0: never)
  // Every Nth command line meets a supply dip, as while cranking: "LV RESET" at once instead of
  // an answer, then a restart as after ATZ (0: never).
  int lvResetEvery = 0;
  // On the Nth command line the device hangs: it takes in nothing more and answers nothing, but
  // stays present (0: never).
  int stallAfter = 0;
  int vanishAfter = 0;  // the device disappears on the Nth command line (0: never)
  // Lines are counted from the start, or from the last setFaults().
};

struct SimAdapterConfig {
  SimTiming timing;
  SimFaults faults;
  std::uint64_t seed = 1;
};

// The check byte of a J1850 frame (CRC-8, polynomial 1D), over header and data.
std::uint8_t j1850Crc(const QByteArray& bytes);

// An ELM327 v1.5 clone on the vehicle's car (a J1850 VPW GM car, or a CAN car with an engine
// and a transmission controller), as seen over the wire. It is
// driven by time values it is given: receive() takes what the client wrote
// at a moment, takeOutputDue() hands out what the adapter has put on the
// line by a moment. Nothing happens between calls, so any clock can drive it.
class SimAdapter {
 public:
  SimAdapter(Vehicle& vehicle, Micros engineStart, SimAdapterConfig config = {});

  // The client wrote these bytes at `at` (they arrive paced by the baud rate). What does not fit
  // the adapter's small input buffer is lost.
  void receive(const QByteArray& bytes, Micros at);
  // The client wrote these bytes at another line speed: the adapter takes them in as garbage,
  // echoes that, and answers the line "?" and its prompt, at its own speed, as to any line it
  // cannot read (a client's line end still ends a line).
  void receiveAtWrongSpeed(const QByteArray& bytes, Micros at);
  // What a client set to another speed makes of characters the adapter sent: garbage, all with
  // the high bit set, so never the prompt.
  static QByteArray heardAtAnotherSpeed(const QByteArray& sent);
  // Every byte the adapter has sent by `now`, in order.
  QByteArray takeOutputDue(Micros now);
  // When something next happens (a byte arrives or leaves); nullopt if idle.
  std::optional<Micros> nextEventTime() const;

  // When the device disappeared (vanishAfter): no output from then on, nothing is heard.
  std::optional<Micros> vanishedAt() const { return vanishedAt_; }
  bool goneBy(Micros now) const { return vanishedAt_ && *vanishedAt_ <= now; }
  // When the device hung (stallAfter): still there, but deaf and dumb from then on.
  std::optional<Micros> stalledAt() const { return stalledAt_; }

  // Counting for the faults by line starts again here.
  const SimAdapterConfig& config() const { return config_; }
  void setFaults(const SimFaults& faults) {
    config_.faults = faults;
    faultLines_ = 0;
  }
  void setCommandObserver(std::function<void(const QByteArray&)> observer) {
    observer_ = std::move(observer);
  }
  // Every line feed that reaches the adapter: it means nothing to the adapter, but a client
  // should not send one.
  void setLineFeedObserver(std::function<void()> observer) { lineFeedObserver_ = std::move(observer); }

  // The settings a client can change.
  struct Settings {
    bool echo = true;
    bool linefeeds = false;
    bool spaces = true;
    bool headers = false;
    bool canAutoFormat = true;  // ATCAF: CAN frames shown without their protocol bytes
    QByteArray header = QByteArray::fromHex("686AF1");  // on CAN the default means 7DF
    int timeoutUnits = 0x32;                            // ATST, 4 ms each
  };
  const Settings& settings() const { return settings_; }

  static constexpr const char* kVersion = "ELM327 v1.5";

 private:
  struct OutByte {
    Micros due;
    char c;
    bool answer;  // part of an answer that an interruption cancels
  };
  struct InByte {
    Micros arrival;
    char c;
  };

  void advanceTo(Micros now);
  void processByte(char c, Micros at);
  void handleLine(const QByteArray& raw, Micros at);
  void handleCommand(const QByteArray& cmd, Micros at);
  void handleAt(const QByteArray& cmd, Micros at);
  void handleRequest(const QByteArray& cmd, Micros at);
  void interrupt(Micros at);
  void restart(Micros at, const QByteArray& notice = {});
  void fallSilent(Micros at);
  bool deafAt(Micros at) const;
  void emitAt(Micros ready, const QByteArray& text, bool answer);
  void answer(Micros ready, const QList<QByteArray>& lines, bool isRequest);
  QByteArray formatFrame(const QByteArray& header, const QByteArray& data) const;
  QByteArray hexText(const QByteArray& bytes) const;
  QList<QByteArray> canLines(std::uint16_t id, const QByteArray& data) const;
  QList<QByteArray> carFrames(const QByteArray& request, Millis vehicleTime);
  int carProtocol() const;
  Micros lastScheduled() const;
  bool roll(double share);

  Vehicle& vehicle_;
  Micros engineStart_;
  SimAdapterConfig config_;
  Settings settings_;
  int protocol_ = 2;
  bool protocolFound_ = false;
  std::mt19937_64 rng_;

  std::deque<InByte> input_;
  std::deque<OutByte> output_;
  Micros inputLineFree_{0};
  Micros outputLineFree_{0};
  Micros clock_{0};
  Micros resettingUntil_{-1};
  Micros requestBusyUntil_{-1};  // an answer to a request is on its way until then
  std::optional<Micros> vanishedAt_;
  std::optional<Micros> stalledAt_;
  char lastTaken_ = '\0';
  QByteArray line_;
  QByteArray lastCommand_;
  int faultLines_ = 0;
  std::function<void(const QByteArray&)> observer_;
  std::function<void()> lineFeedObserver_;
};

// Sets a single-shot timer to fire at `when` (timers count whole milliseconds,
// so at or just after it), or stops it when nothing is due.
void wakeTimerAt(Timer& timer, Micros now, std::optional<Micros> when);

}  // namespace tarvex::sim
