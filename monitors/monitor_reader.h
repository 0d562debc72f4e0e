#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <optional>
#include <vector>

#include "car/car_link.h"
#include "core/failure.h"
#include "obd/answer.h"
#include "obd/monitor_tests.h"

namespace tarvex {

// What one read of the on-board test results (service 06) found. A read that
// failed told nothing: its tests are not "passed", and it is listed in
// `failed` with why.
struct MonitorReport {
  std::optional<obd::Protocol> protocol;
  // The older buses ask by test ID and answer one component a message, in the
  // manufacturer's own scaling; CAN asks by monitor and scales by the table.
  bool legacy = false;
  // Some controller answered the first bitmap (0600).
  bool supported = false;
  // Why the car has none: every controller refused 0600, or none answered.
  std::optional<Failure> unsupported;
  QStringList controllers;             // every controller that answered the search (0100)
  QStringList withTests;               // those that answered a bitmap, in the order they came
  std::vector<int> ids;                // the monitors (CAN) or tests (older buses) the bitmaps named
  std::vector<obd::TestResult> tests;  // CAN: as each monitor's answer gave them
  std::vector<obd::LegacyTestResult> legacyTests;
  QStringList read;             // the requests some controller answered
  std::vector<Failure> failed;  // the requests that told nothing, and why

  bool wasRead(const QString& request) const { return read.contains(request); }
  const Failure* failure(const QString& request) const;
  bool incomplete() const { return !failed.empty(); }
};

// The on-board test results over the car link: it connects (unless the link
// is already), reads the bitmaps while their last bit says there is another,
// then asks each monitor (or, on the older buses, each test) they name, one
// request at a time, and hands over a report once all are answered or failed.
// A failure that ends the read as a whole (the device, or no car found) goes
// to the failure handler instead.
class MonitorReader {
 public:
  // The link's owner routes the port's events and the reply timer to it; the
  // reader takes the link's failure handler.
  explicit MonitorReader(CarLink& car);
  ~MonitorReader();
  MonitorReader(const MonitorReader&) = delete;
  MonitorReader& operator=(const MonitorReader&) = delete;

  // A port that will not open comes back at once.
  Status read();
  void stop();
  bool busy() const { return busy_; }

  void setDone(std::function<void(const MonitorReport&)> done) { done_ = std::move(done); }
  void setFailureHandler(FailureHandler handler) { failed_ = std::move(handler); }
  // Each request as it goes out, for a status line.
  void setProgress(std::function<void(const QString&)> progress) { progress_ = std::move(progress); }

 private:
  void begin();
  void ask(const QString& command, std::function<void(const Result<CarAnswer>&)> then);
  void askBitmap(int base);
  void askTest(std::size_t index);
  void takeMonitor(int mid, const QString& command, const CarAnswer& answer);
  void takeLegacy(int tid, const QString& command, const CarAnswer& answer);
  Failure broken(const QString& why, const QString& command) const;
  void fail(const Failure& failure);
  void finish();

  CarLink& car_;
  bool busy_ = false;
  int run_ = 0;
  obd::SupportedMonitors supported_;
  MonitorReport report_;
  std::function<void(const MonitorReport&)> done_;
  FailureHandler failed_;
  std::function<void(const QString&)> progress_;
};

}  // namespace tarvex
