#pragma once

#include <QTextStream>
#include <functional>
#include <memory>
#include <optional>

#include "car/car_link.h"
#include "core/clock.h"
#include "core/units.h"
#include "link/serial_port.h"
#include "monitors/monitor_reader.h"

namespace tarvex {

// --monitor-tests on one port: the results as plain text on `out`, the reason
// on `err`, and the exit status once it is over: 0 when everything asked was
// read (a car without results says so and is no failure), 1 otherwise.
class MonitorRun {
 public:
  MonitorRun(SerialPort& port, Clock& clock, AdapterTraits& traits, QTextStream& out, QTextStream& err,
             UnitChoice units = {});
  ~MonitorRun();
  void start();
  std::optional<int> status() const { return status_; }
  void setFinished(std::function<void(int status)> finished) { finished_ = std::move(finished); }

 private:
  void finish(int status);
  void failed(const Failure& failure);
  void done(const MonitorReport& report);

  SerialPort& port_;
  QTextStream& out_;
  QTextStream& err_;
  UnitChoice units_;
  std::unique_ptr<Timer> timer_;
  CarLink car_;
  MonitorReader reader_;
  std::optional<int> status_;
  std::function<void(int)> finished_;
};

}  // namespace tarvex
