#pragma once

#include <QDateTime>
#include <QLocale>
#include <QString>
#include <functional>
#include <optional>
#include <vector>

#include "core/readings.h"
#include "link/polling_session.h"
#include "scan/catalogue.h"
#include "scan/csv_log.h"
#include "scan/decode.h"
#include "scan/gauge_sink.h"
#include "scan/value_boxes.h"

namespace tarvex {

// Why a scan could not start, or had to stop: the device or the log file, and
// the system's words. The window shows it.
struct ScanFailure {
  enum class What {
    kPortOpen,   // the port would not open
    kPortLost,   // the device failed or went away; the scan stopped
    kLogCreate,  // the log file could not be created
    kLogWrite,   // the log could not be written (or closed); the scan stopped
  } what;
  QString name;
  QString reason;
  bool logWasOpen = false;  // a log was open when it happened (and holds every whole round)

  static ScanFailure fromPort(const PortFailure& failure, bool logWasOpen = false);
};

// The main window's scan: set-up, then one request at a time over the selected
// parameters in catalogue order, round after round, a log line a round.
// Advanced by the adapter link: after every decoded reply and every time-out.
class ScanCycle {
 public:
  // The port and the reply timer belong to the window, which routes their
  // events to session(). initialBuffer: what the reply buffer holds at first.
  ScanCycle(SerialPort& port, Timer& replyTimer, Clock& clock, ValueBoxes& boxes,
            QString initialBuffer = QString());
  ~ScanCycle();

  void setGaugeSink(GaugeSink* gauges) { gauges_ = gauges; }
  // Where the log's time column comes from (tests pin it).
  void setDateTimeSource(std::function<QDateTime()> now) { now_ = std::move(now); }
  void setLocale(const QLocale& locale) { locale_ = locale; }
  // Told when something fails while the scan runs; the scan has stopped then.
  void setFailureHandler(std::function<void(const ScanFailure&)> handler) { onFailure_ = std::move(handler); }
  // Told once when a whole round passed without a single answer (no adapter,
  // ignition off, a car that does not speak the enhanced requests' bus);
  // again only after answers came and stopped again. Before it is told the
  // adapter is asked which protocol it uses ("ATDPN"): its answer ("A2", "6")
  // comes along, empty when it gave none. The scan goes on.
  void setSilenceHandler(std::function<void(const QString& protocol)> handler) {
    onSilence_ = std::move(handler);
  }
  static constexpr char kProtocolQuestion[] = "ATDPN";
  // Every decoded number goes here too, with the time it came.
  void setReadings(Readings* readings) { readings_ = readings; }

  // Opens the port (and the log), sets the adapter up and starts the cycle: the
  // set-up goes out from the event loop, a line a second. On failure the port
  // is left closed, no log is open and nothing more is sent.
  std::optional<ScanFailure> start(bool logToFile, const QString& logPath);
  // Closes the port and the log, switches the reply timer off; a set-up still
  // going out stops where it is. A log that fails to close is reported.
  void stop();
  // Hands the port to another window: closes it and stops the reply timer; the
  // scan stands still with its log open until it is stopped.
  void releasePort();

  void SendNext();
  void Display(const QString& out);

  int scanStep() const { return scanStep_; }
  bool logging() const { return log_.isOpen(); }
  PollingSession& session() { return session_; }
  AdapterLink& link() { return session_.link(); }
  SerialPort& port() { return session_.port(); }

 private:
  void fail(ScanFailure failure);
  void onReply(const QString& out);
  bool askProtocol();
  void tellSilence(const QString& protocol);
  void endOfRound();
  ReplyShape expected() const;

  Clock& clock_;
  ValueBoxes& boxes_;
  PollingSession session_;
  GaugeSink* gauges_ = nullptr;
  const Parameter* asked_ = nullptr;  // the row of the request last sent
  CsvLog log_;
  bool logToFile_ = false;
  bool answeredThisRound_ = false;
  bool silenceTold_ = false;
  // A silent round: the protocol question goes out before the next request,
  // and its answer (or time-out) tells the silence.
  enum class Silence { kNone, kToAsk, kAsked } silence_ = Silence::kNone;
  int scanStep_ = 0;
  QLocale locale_;
  std::function<QDateTime()> now_ = [] { return QDateTime::currentDateTime(); };
  std::function<void(const ScanFailure&)> onFailure_;
  std::function<void(const QString&)> onSilence_;
  Readings* readings_ = nullptr;
};

}  // namespace tarvex
