#pragma once

#include <QString>
#include <QStringList>
#include <algorithm>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <vector>

#include "core/clock.h"
#include "core/readings.h"
#include "link/polling_session.h"
#include "obd/answer.h"
#include "obd/pids.h"
#include "obd/readiness.h"
#include "obd/vehicle_info.h"
#include "standard/standard_log.h"

namespace tarvex {

// Where the standard-data poll stands.
enum class StandardStage {
  kIdle,         // stopped, or never started
  kSettingUp,    // the adapter set-up is going out
  kSearching,    // the first request runs the adapter's protocol search
  kDiscovering,  // protocol, support bitmaps, identity and readiness
  kPolling,      // round after round
  kNoCar,        // the search found no car; stopped
};

// What a controller said of the car's identity (service 09), each item from
// every controller that gave it.
struct CarIdentity {
  std::vector<obd::InfoItems> vin, calibrations, ecuNames;
};

struct PollRates {
  double requestsPerSecond = 0;
  double parametersPerSecond = 0;
};

// The standard OBD-II poll without widgets. "Start" resets the adapter with
// echo on (each answer is then found after its own request's echo, whatever
// arrived before it) and headers on (so that the answers of several
// controllers are told apart), and lets the adapter search the protocol:
// its first request, "0100", runs the search. Then it asks the protocol
// (ATDPN), the remaining support bitmaps, the identity items the car has and
// the readiness, and polls the supported parameters it knows round after
// round. On CAN up to six go in one request; a parameter that did not come
// back in such a request (the answer was short, cut, or refused) is asked
// alone from then on.
//
// An answer later than the reply timer is still waited for (the search can
// take seconds, a car's "NO DATA" comes after the adapter's own time-out);
// after kLateLimit (kSearchLimit for the search) the poll goes on without it.
class StandardPoller {
 public:
  static constexpr int kMostPerRequest = 6;
  // Fewer a request, down to one (the benchmark compares).
  void setMostPerRequest(int most) { mostPerRequest_ = std::clamp(most, 1, kMostPerRequest); }
  static constexpr Millis kLateLimit{1000};
  static constexpr Millis kSearchLimit{20000};
  static constexpr Millis kLateLook{20};  // how often a late answer is looked for
  static constexpr Millis kRateWindow{2000};

  StandardPoller(SerialPort& port, Timer& replyTimer, Clock& clock, Readings& readings,
                 QString initialBuffer = QString());
  ~StandardPoller();
  StandardPoller(const StandardPoller&) = delete;
  StandardPoller& operator=(const StandardPoller&) = delete;

  static QStringList setupCommands();

  std::optional<PortFailure> start();
  // Closes the port and the log; nothing is sent after it.
  void stop();

  // Takes a parameter out of the poll or puts it back.
  void setPolled(int pid, bool polled);
  bool isPolled(int pid) const { return !unpolled_.contains(pid); }

  // Logs every round from the next one on to this file (nothing: no log).
  // A log that cannot be opened or written is told through onProblem.
  void setLogPath(std::optional<QString> path);
  const StandardLog& log() const { return log_; }

  StandardStage stage() const { return stage_; }
  const std::optional<obd::Protocol>& protocol() const { return protocol_; }
  bool manyPerRequest() const { return protocol_ && protocol_->bus != obd::Bus::kLegacy; }
  const obd::SupportedPids& supported() const { return supported_; }
  // The supported parameters this program knows, ascending.
  const std::vector<int>& parameters() const { return parameters_; }
  // The last value of a parameter, and the controller that gave it.
  const obd::Value* value(int pid) const;
  QString valueSource(int pid) const;
  const std::optional<obd::Readiness>& readiness() const { return readiness_; }
  const CarIdentity& identity() const { return identity_; }
  // The requests of the coming round, each a list of PIDs.
  const std::vector<std::vector<int>>& round() const { return round_; }
  const std::set<int>& askedAlone() const { return alone_; }
  PollRates rates() const;
  int rounds() const { return rounds_; }

  struct Handlers {
    std::function<void()> onStage;      // stage or protocol changed
    std::function<void()> onSupported;  // the parameters are known
    std::function<void()> onIdentity;   // identity or readiness changed
    std::function<void(int pid)> onValue;
    std::function<void()> onRound;                      // a round ended
    std::function<void(const QString&)> onProblem;      // worth telling; the poll goes on, or is stopped
    std::function<void(const PortFailure&)> onFailure;  // the port failed; stopped
  };
  Handlers& handlers() { return handlers_; }
  PollingSession& session() { return session_; }

 private:
  enum class Step { kSetup, kSearch, kProtocol, kBitmap, kInfoBitmap, kInfo, kReadiness, kPoll };

  void send(Step step, const QString& command, Millis patience);
  void onReply();
  void onTimeout();
  void lookLate();
  void answered(std::optional<QString> text);
  std::vector<obd::Message> messages(const QString& text) const;

  void afterSearch(std::optional<QString> text);
  void afterProtocol(std::optional<QString> text);
  void bitmapsDone();
  void nextInfo();
  void startRound();
  void nextRequest();
  void takePoll(const std::optional<QString>& text);
  void takeValue(const obd::PidAnswer& answer, Micros at);
  void endRound();
  void setStage(StandardStage stage);
  void fail(const PortFailure& failure);
  void problem(const QString& text);

  Clock& clock_;
  Readings& readings_;
  PollingSession session_;
  std::unique_ptr<Timer> late_;
  Handlers handlers_;

  StandardStage stage_ = StandardStage::kIdle;
  Step step_ = Step::kSetup;
  QString command_;   // the request out, whose echo starts its answer
  QString captured_;  // the buffer as it last stood before it was cleared
  Micros sentAt_{0};
  Millis patience_{0};
  bool waitingLate_ = false;

  QString searchAnswer_;  // read once the protocol (and so the bus) is known
  std::optional<obd::Protocol> protocol_;
  obd::SupportedPids supported_;
  int bitmapBase_ = 0;
  std::vector<int> parameters_;
  std::set<int> unpolled_;
  int mostPerRequest_ = kMostPerRequest;
  std::set<int> alone_;
  std::deque<int> infoLeft_;
  int infoPid_ = 0;
  CarIdentity identity_;
  std::optional<obd::Readiness> readiness_;
  std::map<int, obd::PidAnswer> values_;
  std::map<int, obd::Value> decoded_;

  std::vector<std::vector<int>> round_;
  std::size_t next_ = 0;
  int rounds_ = 0;
  std::map<int, double> roundValues_;  // the first reading of each parameter this round
  struct Exchange {
    Micros at;
    int parameters;
  };
  std::deque<Exchange> exchanges_;
  Micros pollFrom_{0};

  std::optional<QString> logPath_;
  StandardLog log_;
  Micros logFrom_{0};
};

}  // namespace tarvex
