#pragma once

#include <QString>
#include <QStringList>
#include <deque>
#include <functional>
#include <optional>
#include <vector>

#include "codes/confirm.h"
#include "core/clock.h"
#include "link/polling_session.h"
#include "obd/answer.h"
#include "obd/pids.h"
#include "obd/readiness.h"

namespace tarvex {

// One trouble code of one controller, with every service that reported it.
struct CodeEntry {
  QString code;    // "P0171"
  QString source;  // the controller's address as the adapter printed it
  bool stored = false;
  bool pending = false;
  bool permanent = false;
  QString description;

  QString status() const;  // "stored, permanent"
};

struct ControllerReadiness {
  QString source;
  obd::Readiness readiness;
};

// The freeze frame a controller kept, and the code that made it keep it.
struct FreezeFrame {
  QString source;
  QString code;
  std::vector<obd::FrozenValue> values;
};

// What one read of the car found. Whatever was not answered stays empty.
struct CodesReport {
  std::optional<obd::Protocol> protocol;
  std::vector<ControllerReadiness> readiness;
  std::vector<CodeEntry> codes;  // by controller, then code
  std::optional<FreezeFrame> freezeFrame;
  std::optional<QString> vin;
  bool answered = false;  // the car answered at least one request
  bool cleared = false;   // the car acknowledged clearing (04) on the way
  // Requests no controller answered, with the adapter's words: "07: NO DATA".
  QStringList unanswered;
};

// The standard trouble-code services over one polling session: it sets the
// adapter up for the automatic protocol search with headers shown, asks one
// request at a time, and hands over a report once all are answered (or timed
// out). Clearing asks for confirmation first and then reads again.
class CodesReader {
 public:
  // The set-up: reset, echo on (an answer is known by the echo of its
  // request), headers on (each controller is known by its address), then the
  // automatic protocol search.
  static QStringList setupCommands();
  // How long a request may take: the first runs the protocol search, which
  // an adapter may spend several seconds on.
  static constexpr Millis kSearchWait{15000};
  static constexpr Millis kAnswerWait{3000};
  static constexpr char kClearQuestion[] = "Clear all trouble codes and freeze frames?";

  // The port and the (unarmed) reply timer belong to the caller, which routes
  // the port's notifications to onPortEvent() and the timer to onReplyTimeout().
  CodesReader(SerialPort& port, Timer& replyTimer, Clock& clock);
  ~CodesReader();

  // Readiness, stored, pending and permanent codes and the freeze frame.
  std::optional<PortFailure> read();
  // The VIN (and the protocol) only.
  std::optional<PortFailure> readVin();
  // Asks first; on a yes sends 04 and then reads everything again. A no sends
  // nothing and returns false in `asked`.
  std::optional<PortFailure> clear(Confirm& confirm, bool* agreed = nullptr);
  void stop();
  bool busy() const { return !steps_.empty() || inFlight_; }

  void onPortEvent(PortEvent event) { session_.onPortEvent(event); }
  void onReplyTimeout() { session_.onReplyTimeout(); }

  // A read came to its end.
  void setDone(std::function<void(const CodesReport&)> done) { done_ = std::move(done); }
  // The port failed on its own (the link's fault hook); the read is over.
  void setFailure(std::function<void(const PortFailure&)> failed) { failed_ = std::move(failed); }
  // Each request as it goes out, for a status line.
  void setProgress(std::function<void(const QString&)> progress) { progress_ = std::move(progress); }

 private:
  struct Step {
    QString command;
    std::function<void(const QString& text)> then;  // the answer's text, empty when none came
  };

  std::optional<PortFailure> begin(std::deque<Step> steps);
  std::optional<PortFailure> next();
  void answered(const QString& text);
  std::deque<Step> readSteps();
  void addFreezeFrameSteps(const QString& source, int base);
  obd::Bus bus() const;
  std::vector<obd::Message> messages(const QString& text) const;
  void addCodes(const QString& text, int service);
  void noteAnswer(const QString& command, const QString& text);

  PollingSession session_;
  Timer& timer_;
  bool setUp_ = false;
  bool inFlight_ = false;
  bool protocolAsked_ = false;
  std::deque<Step> steps_;
  QString sent_;              // the request in flight
  QString lastBuffer_;        // what arrived for it
  QString pendingReadiness_;  // 0101 answered before the protocol was known
  CodesReport report_;
  std::function<void(const CodesReport&)> done_;
  std::function<void(const PortFailure&)> failed_;
  std::function<void(const QString&)> progress_;
};

// The report as plain text: the protocol, the lamp, every code with its status
// and description, the freeze frame and the readiness of each monitor.
QString reportText(const CodesReport& report);

}  // namespace tarvex
