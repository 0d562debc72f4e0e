#pragma once

#include <QDateTime>
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

#include "car/car_link.h"
#include "core/clock.h"
#include "core/failure.h"
#include "core/readings.h"
#include "core/units.h"
#include "obd/answer.h"
#include "obd/pids.h"
#include "obd/readiness.h"
#include "obd/user_parameters.h"
#include "obd/vehicle_info.h"
#include "scan/gauge_sink.h"
#include "standard/standard_log.h"
#include "trip/trip_computer.h"

namespace tarvex {

// Where the standard-data poll stands.
enum class StandardStage {
  kIdle,         // stopped, or never started
  kSettingUp,    // the adapter set-up is going out
  kSearching,    // the first request runs the adapter's protocol search
  kDiscovering,  // protocol and support bitmaps
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

// The last answer to one of the user's own parameters: its value and the
// controller that gave it; no value when the car did not answer it (NO DATA,
// a refusal, an answer its equation cannot read).
struct OwnValue {
  std::optional<double> value;
  QString source;
};

// The trip computer's channels and log columns, in its own units.
inline constexpr char kEconomyChannel[] = "Fuel economy";  // L/100 km
inline constexpr char kFuelUsedChannel[] = "Fuel used";    // L

// The header the adapter sends requests to every controller with, which
// ATSH gives back after a user's parameter was asked of one: 7DF on 11-bit
// CAN; DB 33 F1 on 29-bit CAN (its priority byte stays 18); 61 6A F1 on
// J1850 PWM, C1 33 F1 on ISO 14230-4, 68 6A F1 on J1850 VPW and ISO 9141-2.
QString functionalHeader(const obd::Protocol& protocol);

// The standard OBD-II poll without widgets, at the adapter's real limit. It
// connects through the car link (set-up line by line, each after its prompt;
// adaptive timing AT2 tried), reads which controller supports which
// parameter from the support bitmaps, and polls the supported parameters it
// knows round after round: on CAN up to six in one request, each request
// with the number of controllers that will answer it as the count digit, so
// the adapter prints its prompt at the last answer instead of listening out
// its time-out. What the driver changes goes every round, temperatures and
// pressures every kSlowEvery rounds, what does not change in a drive (and the
// car's identity and readiness) once, between the first rounds, and again on
// refresh(). A parameter that did not come back in a request of several is
// asked alone from then on. Should answers get lost under AT2, it goes back to
// AT1 for good.
//
// The user's own parameters (obd/user_parameters) go in the same rounds:
// those of service 01 without a header of their own with the standard ones,
// those of services 21 and 22 (or with a header) each alone after them, the
// header set by ATSH before and the functional one set again after. The trip
// computer follows road speed and the fuel rate (or the air flow) and adds
// the economy and the fuel used to every round.
class StandardPoller {
 public:
  static constexpr int kMostPerRequest = 6;
  static constexpr int kSlowEvery = 5;
  static constexpr Millis kPollPatience{1000};
  static constexpr Millis kRateWindow{2000};
  // Fewer a request, down to one (the benchmark compares).
  void setMostPerRequest(int most) { mostPerRequest_ = std::clamp(most, 1, kMostPerRequest); }

  StandardPoller(SerialPort& port, Timer& replyTimer, Clock& clock, AdapterTraits& traits, Readings& readings,
                 QString initialBuffer = QString());
  ~StandardPoller();
  StandardPoller(const StandardPoller&) = delete;
  StandardPoller& operator=(const StandardPoller&) = delete;

  // Opens the port and starts; a port that will not open comes back.
  Status start();
  // Closes the port and the log; nothing is sent after it.
  void stop();
  // Reads what does not change in a drive, the identity and the readiness
  // again, in the coming rounds.
  void refresh();

  // Takes a parameter out of the poll or puts it back.
  void setPolled(int pid, bool polled);
  bool isPolled(int pid) const { return !unpolled_.contains(pid); }

  // Logs every round from the next one on to this file (nothing: no log). A
  // log that cannot be opened or written is told to the failure handler; the
  // poll goes on without it.
  void setLogPath(std::optional<QString> path);
  // The units the log's columns are written in, from the next log on.
  void setUnits(const UnitChoice& units) { units_ = units; }
  // The needles follow engine and road speed (01 0C, 01 0D) as they come.
  void setGaugeSink(GaugeSink* gauges) { gauges_ = gauges; }

  // The user's own parameters, polled from the next round on (a poll that
  // runs tells onSupported when they changed). Each goes to the readings and
  // the log under ownChannel(): its short name, or "NAME (own)" when that is
  // one of the standard parameters' or the trip's.
  void setOwnParameters(std::vector<obd::UserParameter> parameters);
  const std::vector<obd::UserParameter>& ownParameters() const { return own_; }
  const QString& ownChannel(std::size_t index) const { return ownChannels_[index]; }
  void setOwnPolled(std::size_t index, bool polled);
  bool isOwnPolled(std::size_t index) const { return !ownUnpolled_.contains(index); }
  // Nothing until the parameter was asked.
  const OwnValue* ownValue(std::size_t index) const;

  // Fuel, calibration and the figures of the trip since the last start.
  trip::TripComputer& trip() { return trip_; }
  const trip::TripComputer& trip() const { return trip_; }
  // Road speed and a fuel rate or air flow are polled: the trip has figures.
  bool tripRuns() const;
  // Where the log's time comes from (tests pin it); each line's time is the
  // start's plus the time the poll measured since.
  void setDateTimeSource(std::function<QDateTime()> now) { now_ = std::move(now); }
  const StandardLog& log() const { return log_; }

  StandardStage stage() const { return stage_; }
  const std::optional<obd::Protocol>& protocol() const { return car_.protocol(); }
  bool manyPerRequest() const { return protocol() && protocol()->bus != obd::Bus::kLegacy; }
  // Every parameter any controller supports.
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
  // How many controllers answer a request for these parameters.
  int answersFor(const std::vector<int>& pids) const;
  bool adaptiveTwo() const { return adaptiveTwo_; }
  PollRates rates() const;
  int rounds() const { return rounds_; }

  struct Handlers {
    std::function<void()> onStage;      // stage or protocol changed
    std::function<void()> onSupported;  // the parameters are known
    std::function<void()> onIdentity;   // identity or readiness changed
    std::function<void(int pid)> onValue;
    std::function<void(std::size_t index)> onOwnValue;  // a user parameter was answered, or not
    std::function<void()> onRound;                      // a round ended
  };
  Handlers& handlers() { return handlers_; }
  // The device failed or no car answered (the poll has stopped: see
  // stage()), or the log could not be written (the poll goes on).
  void setFailureHandler(FailureHandler handler) { onFailure_ = std::move(handler); }
  PollingSession& session() { return car_.session(); }
  CarLink& car() { return car_; }

 private:
  struct Extra {
    QString command;
    std::function<void(const Result<CarAnswer>&)> then;
  };

  void connected(const Result<obd::Protocol>& protocol);
  void askBitmap(int base);
  void bitmapsDone();
  void askInfo(const Result<CarAnswer>& bitmap);
  void startRound(bool betweenDone = false);
  void nextRequest();
  void takePoll(const std::vector<int>& asked, const Result<CarAnswer>& answer);
  void takeValue(const obd::PidAnswer& answer, Micros at);
  void askOwn(std::size_t index);
  void setHeader(const std::optional<QString>& header, std::function<void()> then);
  void takeOwn(std::size_t index, std::optional<double> value, const QString& source, Micros at);
  bool polledStandard(int pid) const;
  bool inRound(const obd::UserParameter& parameter) const;
  void applyOwn();
  void endRound();
  void setStage(StandardStage stage);
  void fail(const Failure& failure);
  void told(const Failure& failure);
  bool due(int pid) const;
  void openLog();

  Clock& clock_;
  Readings& readings_;
  CarLink car_;
  Handlers handlers_;
  FailureHandler onFailure_;

  StandardStage stage_ = StandardStage::kIdle;
  obd::SupportedPids supported_;
  std::map<QString, obd::SupportedPids> bySource_;  // each controller's own bitmaps
  std::vector<int> parameters_;
  std::set<int> unpolled_;
  int mostPerRequest_ = kMostPerRequest;
  std::set<int> alone_;
  bool onceDue_ = true;       // the parameters that do not change go in the coming round
  std::deque<Extra> extras_;  // identity and readiness, one between rounds
  CarIdentity identity_;
  std::optional<obd::Readiness> readiness_;
  std::map<int, obd::PidAnswer> values_;
  std::map<int, obd::Value> decoded_;
  bool adaptiveTwo_ = false;
  int lostUnderTwo_ = 0;

  std::vector<std::vector<int>> round_;
  std::size_t next_ = 0;
  int rounds_ = 0;
  std::map<QString, double> roundValues_;  // by log column: the first reading of each this round

  std::vector<obd::UserParameter> own_;
  std::optional<std::vector<obd::UserParameter>> ownComing_;  // set while a round runs
  std::vector<QString> ownChannels_;
  std::set<std::size_t> ownUnpolled_;
  std::map<std::size_t, OwnValue> ownValues_;
  std::vector<std::size_t> ownRound_;  // asked alone after the standard requests
  std::size_t nextOwn_ = 0;
  std::optional<QString> header_;  // set by ATSH; nothing: the functional one

  trip::TripComputer trip_;
  GaugeSink* gauges_ = nullptr;
  struct Exchange {
    Micros at;
    int parameters;
  };
  std::deque<Exchange> exchanges_;
  Micros pollFrom_{0};

  std::optional<QString> logPath_;
  UnitChoice units_;
  std::function<QDateTime()> now_ = [] { return QDateTime::currentDateTime(); };
  StandardLog log_;
  Micros logFrom_{0};
};

}  // namespace tarvex
