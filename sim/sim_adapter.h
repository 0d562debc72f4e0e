#pragma once

#include <QByteArray>
#include <QStringList>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <random>

#include "core/clock.h"
#include "sim/adapter_profile.h"
#include "sim/vehicle.h"

namespace tarvex::sim {

// Time as a client sees it across the serial line.
struct SimTiming {
  int baud = 9600;          // pacing of both directions at 8N1; 0: no pacing
  Micros turnaround{2000};  // the adapter's own work before it acts on a line
  Millis latencyMin{10};    // each controller's answer latency on the bus, drawn anew each time
  Millis latencyMax{40};
  // ATZ (and a spontaneous reset) until the banner: a little under the
  // second that clients commonly sleep after ATZ, so their next line is heard.
  Millis resetTime{900};
  Millis transmissionLag{0};  // the CAN car's transmission answers this much later than its draw
  Micros frameGap{1000};      // between one controller's frames (CAN) or messages (J1850)
  // After the last answer the adapter listens for more until its time-out (ATAT, ATST) passes,
  // then prompts; false: the prompt follows the last answer at once.
  bool listening = true;

  // Everything at once: for tests that only care about the text.
  static SimTiming instant() {
    SimTiming t;
    t.baud = 0;
    t.turnaround = Micros{0};
    t.latencyMin = t.latencyMax = t.resetTime = Millis{0};
    t.frameGap = Micros{0};
    t.listening = false;
    return t;
  }
  Micros charTime() const { return baud > 0 ? Micros{(10'000'000 + baud / 2) / baud} : Micros{0}; }
};

// Faults for tests. Shares are probabilities per request to the car, drawn
// from the adapter's seeded generator.
struct SimFaults {
  double dropShare = 0;  // the car's answer is lost on the bus: "NO DATA"
  double lateShare = 0;  // the answer comes lateBy after the command, whatever ATST says
  Millis lateBy{250};
  double twiceShare = 0;                   // the car's answer line arrives twice
  AdapterWord inject = AdapterWord::None;  // a word for every request (see `words` for chosen ones)
  double injectShare = 1;                  // share of requests that get it
  bool silent = false;                     // nothing comes back at all, not even the echo
  int resetEvery = 0;                      // every Nth command line resets the adapter instead (0: never)
  // Every Nth command line meets a supply dip, as while cranking: "LV RESET" at once instead of
  // an answer, then a restart as after ATZ (0: never).
  int lvResetEvery = 0;
  // On the Nth command line the device hangs: it takes in nothing more and answers nothing, but
  // stays present (0: never).
  int stallAfter = 0;
  int vanishAfter = 0;  // the device disappears on the Nth command line (0: never)
  // Lines are counted from the start, or from the last setFaults().
  std::vector<WordRule> words{};  // the adapter's words on chosen requests; the first that hits wins
};

struct SimAdapterConfig {
  SimTiming timing;
  SimFaults faults;
  std::uint64_t seed = 1;
  AdapterProfile profile;  // the common clone

  // The profile's adapter at the speed it leaves the factory at.
  static SimAdapterConfig of(AdapterProfile profile) {
    SimAdapterConfig c;
    c.timing.baud = profile.lineSpeed;
    c.profile = std::move(profile);
    return c;
  }
};

// The check byte of a J1850 frame (CRC-8, polynomial 1D), over header and data.
std::uint8_t j1850Crc(const QByteArray& bytes);

// An ELM327 adapter of the configured profile on the vehicle's car (a J1850 VPW GM car, or a CAN
// car with an engine and a transmission controller), as seen over the wire. It is
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
  // When the adapter dropped its link (a Bluetooth one on ATZ): nothing passes until relink().
  std::optional<Micros> linkDroppedAt() const { return linkDroppedAt_; }
  // A client has connected again.
  void relink() { linkDroppedAt_.reset(); }

  // Counting for the faults by line starts again here.
  const SimAdapterConfig& config() const { return config_; }
  void setFaults(const SimFaults& faults) {
    config_.faults = faults;
    faultLines_ = 0;
    ruleMatches_.clear();
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
    int adaptive = 1;                                   // ATAT0, ATAT1, ATAT2
  };
  const Settings& settings() const { return settings_; }

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
  struct Arrival;
  std::vector<Arrival> carAnswers(const QByteArray& request, Micros ready, Micros at, bool late);
  void finish(Micros at, const QByteArray& word);
  void busInitError(Micros ready);
  AdapterWord pickWord(const QByteArray& digits);
  Micros drawLatency();
  Micros listeningTime() const;
  void interrupt(Micros at);
  void restart(Micros at, const QByteArray& notice = {});
  void fallSilent(Micros at);
  bool deafAt(Micros at) const;
  void emitAt(Micros ready, const QByteArray& text, bool answer = false);
  void answer(Micros ready, const QList<QByteArray>& lines);
  QByteArray formatFrame(const QByteArray& header, const QByteArray& data) const;
  QByteArray hexText(const QByteArray& bytes) const;
  QList<QByteArray> canLines(std::uint16_t id, const QByteArray& data) const;
  struct CarMessage {
    Ecu ecu;
    QList<QByteArray> lines;
  };
  QList<CarMessage> carMessages(const QByteArray& request, Millis vehicleTime);
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
  std::optional<Micros> linkDroppedAt_;
  std::optional<Micros> asleepFrom_;  // low power after ACT ALERT, until a character wakes it
  std::optional<Micros> answerTime_;  // the recent answers' latency, for adaptive timing
  Micros searchUntil_{-1};            // a protocol search goes on until then
  bool canSearchBarred_ = false;      // after ERR94, until ATFE
  std::vector<int> ruleMatches_;      // matching requests so far, by word rule
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
