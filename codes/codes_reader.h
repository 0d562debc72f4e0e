#pragma once

#include <QString>
#include <QStringList>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "car/car_link.h"
#include "codes/confirm.h"
#include "core/clock.h"
#include "core/failure.h"
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

// What one read of the car found. A read that failed told nothing: its codes
// are not "none", and it is listed in `failed` with why.
struct CodesReport {
  std::optional<obd::Protocol> protocol;
  std::vector<ControllerReadiness> readiness;
  std::vector<CodeEntry> codes;  // by controller, then code
  std::optional<FreezeFrame> freezeFrame;
  std::optional<QString> vin;
  bool cleared = false;         // the car acknowledged clearing (04) on the way
  QStringList read;             // the requests some controller answered
  std::vector<Failure> failed;  // the requests that told nothing, and why

  bool wasRead(const QString& request) const { return read.contains(request); }
  const Failure* failure(const QString& request) const;
  // A read failed that the report cannot do without: anything but a
  // controller's "NO DATA" to what older cars lack (pending and permanent
  // codes, the freeze frame).
  bool incomplete() const;
  // Controllers whose MIL count (0101) differs from the stored codes (03) they listed.
  QStringList countMismatches() const;
};

// The standard trouble-code services over the car link: it connects (set-up,
// protocol search), asks one request at a time, and hands over a report once
// all are answered or failed. Clearing asks for confirmation first and then
// reads again. A failure that ends the read as a whole (the device, or no car
// found) goes to the failure handler instead of a report.
class CodesReader {
 public:
  static constexpr char kClearQuestion[] = "Clear all trouble codes and freeze frames?";

  CodesReader(SerialPort& port, Timer& replyTimer, Clock& clock, AdapterTraits& traits);
  // Over a link shared with other readers, one after the other (a report):
  // what it connected stays connected for the next.
  explicit CodesReader(CarLink& car);
  ~CodesReader();

  // Readiness, stored, pending and permanent codes and the freeze frame. A
  // port that will not open comes back at once.
  Status read();
  // The VIN (and the protocol) only.
  Status readVin();
  // Asks first; on a yes sends 04 and then reads everything again. False: the
  // answer was no, and nothing was sent.
  Result<bool> clear(Confirm& confirm);
  void stop();
  bool busy() const { return busy_; }

  void onPortEvent(PortEvent event) { car_.session().onPortEvent(event); }
  void onReplyTimeout() { car_.session().onReplyTimeout(); }

  void setDone(std::function<void(const CodesReport&)> done) { done_ = std::move(done); }
  void setFailureHandler(FailureHandler handler) { failed_ = std::move(handler); }
  // Each request as it goes out, for a status line.
  void setProgress(std::function<void(const QString&)> progress) { progress_ = std::move(progress); }

 private:
  struct Step {
    QString command;
    std::function<void(const CarAnswer&)> then;
  };

  Status begin(std::deque<Step> steps);
  void next();
  void fail(const Failure& failure);
  std::deque<Step> readSteps();
  void addReadiness(const QString& source, const obd::Readiness& readiness);
  void addFreezeFrameSteps(const QString& source, int base);
  void addCodes(const CarAnswer& answer, int service);

  std::unique_ptr<CarLink> own_;
  CarLink& car_;
  bool busy_ = false;
  std::deque<Step> steps_;
  CodesReport report_;
  std::function<void(const CodesReport&)> done_;
  FailureHandler failed_;
  std::function<void(const QString&)> progress_;
};

}  // namespace tarvex
