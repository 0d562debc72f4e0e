#pragma once

#include <QDateTime>
#include <QString>
#include <functional>
#include <optional>
#include <vector>

#include "car/car_link.h"
#include "codes/codes_reader.h"
#include "core/failure.h"
#include "monitors/monitor_reader.h"
#include "obd/vehicle_info.h"

namespace tarvex {

// Everything a mechanic wants to see of a car, read at one sitting: the
// adapter and the protocol, the identity (VIN, calibration IDs), the trouble
// codes with the MIL, freeze frame and readiness, and the on-board test
// results. Every read that failed is kept with why, in the part it belongs to.
struct CarReport {
  QDateTime date;   // when the reading began
  QString device;   // the adapter's port
  QString adapter;  // what the adapter calls itself (ATI); empty when not read
  std::optional<obd::Protocol> protocol;
  std::vector<obd::InfoItems> vin;             // 0902, each controller that gave one
  std::vector<obd::InfoItems> calibrationIds;  // 0904
  CodesReport codes;
  MonitorReport monitors;
  std::vector<Failure> failed;  // the adapter's identity, the VIN, the calibration IDs

  // Every read that failed, from every part.
  std::vector<Failure> allFailures() const;
  // Something failed that the report cannot do without. A controller's NO
  // DATA to what older cars lack (the VIN and calibration IDs came about 2000,
  // like pending and permanent codes) is no failure, nor is an adapter that
  // does not tell its name.
  bool incomplete() const;
};

// The report's reads over one car link, one after the other: the trouble
// codes (which connect), the adapter's identity, the VIN and calibration IDs,
// then the on-board tests. A failure that ends the reading as a whole (the
// device, or no car found) goes to the failure handler instead of a report.
class ReportReader {
 public:
  ReportReader(SerialPort& port, Timer& replyTimer, Clock& clock, AdapterTraits& traits);
  ~ReportReader();
  ReportReader(const ReportReader&) = delete;
  ReportReader& operator=(const ReportReader&) = delete;

  // `date` is when the reading begins, as the report will say. A port that
  // will not open comes back at once.
  Status read(const QDateTime& date);
  void stop();
  bool busy() const { return busy_; }

  void onPortEvent(PortEvent event) { car_.session().onPortEvent(event); }
  void onReplyTimeout() { car_.session().onReplyTimeout(); }

  void setDone(std::function<void(const CarReport&)> done) { done_ = std::move(done); }
  void setFailureHandler(FailureHandler handler) { failed_ = std::move(handler); }
  // Each request as it goes out, for a status line.
  void setProgress(std::function<void(const QString&)> progress);

 private:
  void codesRead(const CodesReport& codes);
  void askAdapter();
  void askInfo(int pid, std::vector<obd::InfoItems> CarReport::*into, std::function<void()> next);
  void fail(const Failure& failure);

  CarLink car_;
  CodesReader codes_;
  MonitorReader monitors_;
  bool busy_ = false;
  int run_ = 0;
  CarReport report_;
  std::function<void(const CarReport&)> done_;
  FailureHandler failed_;
  std::function<void(const QString&)> progress_;
};

}  // namespace tarvex
