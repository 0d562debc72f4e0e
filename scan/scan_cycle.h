#pragma once

#include <QDateTime>
#include <QLocale>
#include <QString>
#include <functional>
#include <optional>

#include "link/adapter_link.h"
#include "scan/csv_log.h"
#include "scan/gauge_sink.h"
#include "scan/value_boxes.h"

namespace tarvex {

// The adapter set-up of every scan start: each command written straight to the
// port with a blocking wait after it, then the reply time-out through SendCom.
inline constexpr Millis kSetupWait{1000};
inline constexpr const char* kSetupCommands[] = {"ATZ", "ATE1", "ATSH 6C 10 F1"};
inline constexpr char kReplyTimeoutCommand[] = "ATST 10";

// Why a scan could not start. The window shows it; nothing is half-started.
struct StartFailure {
  enum class What { kPort, kLog } what;
  QString name;    // the device or the file
  QString reason;  // the system's words
};

// The main window's scan: set-up, then one request at a time over the selected
// parameters in catalogue order, round after round, a log line a round.
// Advanced by the adapter link: after every decoded reply and every time-out.
class ScanCycle {
 public:
  ScanCycle(SerialPort& port, Clock& clock, ValueBoxes& boxes);
  ~ScanCycle() { port_.setNotify({}); }

  void setGaugeSink(GaugeSink* gauges) { gauges_ = gauges; }
  // Where the log's time column comes from (tests pin it).
  void setDateTimeSource(std::function<QDateTime()> now) { now_ = std::move(now); }
  void setLocale(const QLocale& locale) { locale_ = locale; }
  // Called when a log line cannot be written (the disk filled up, the stick was pulled).
  void setLogErrorHandler(std::function<void(const QString&)> handler) { onLogError_ = std::move(handler); }

  // "Start Scan". On failure the port is left closed and no log is open.
  std::optional<StartFailure> pb_StartScan_Click(bool logToFile, const QString& logPath);
  // "Stop Scan": closes the port and the log, switches the reply timer off.
  void pb_StopScan_Click();
  // Hands the port to another window: closes it and stops the reply timer; the
  // scan stands still with its log open until it is stopped.
  void releasePort();

  void SendNext();
  void Display(const QString& out);

  int scanStep() const { return scanStep_; }
  bool logging() const { return log_.isOpen(); }
  AdapterLink& link() { return link_; }
  SerialPort& port() { return port_; }

 private:
  SerialPort& port_;
  Clock& clock_;
  ValueBoxes& boxes_;
  AdapterLink link_;
  GaugeSink* gauges_ = nullptr;
  CsvLog log_;
  bool logToFile_ = false;
  int scanStep_ = 0;
  QLocale locale_;
  std::function<QDateTime()> now_ = [] { return QDateTime::currentDateTime(); };
  std::function<void(const QString&)> onLogError_;
};

}  // namespace tarvex
