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

// The main window's scan: set-up, then one request at a time over the selected
// parameters in catalogue order, round after round, a log line a round.
// Advanced by the adapter link: after every decoded reply and every time-out.
class ScanCycle {
 public:
  // The port and the reply timer belong to the window, which routes their
  // events to session(). initialBuffer: what the reply buffer holds at first.
  ScanCycle(SerialPort& port, Timer& replyTimer, Clock& clock, AdapterTraits& traits, ValueBoxes& boxes,
            QString initialBuffer = QString());
  ~ScanCycle();

  void setGaugeSink(GaugeSink* gauges) { gauges_ = gauges; }
  // Where the log's time column comes from (tests pin it).
  void setDateTimeSource(std::function<QDateTime()> now) { now_ = std::move(now); }
  void setLocale(const QLocale& locale) { locale_ = locale; }
  // Told when something fails while the scan runs (the device, or the log);
  // the scan has stopped then.
  void setFailureHandler(FailureHandler handler) { onFailure_ = std::move(handler); }
  // A log was open when the scan last stopped on a failure: it holds every
  // complete round.
  bool logWasOpen() const { return logWasOpen_; }
  // Told once when a whole round passed without a single answer (no adapter,
  // ignition off, a car that does not speak the enhanced requests' bus);
  // again only after answers came and stopped again. Before it is told the
  // adapter is asked which protocol it uses ("ATDPN"): its answer ("A2", "6")
  // comes along, or the failure of the question when the adapter itself gave
  // none (then it is the adapter that is silent, not the car). When the
  // adapter is silent and the line speed was only a guess, the speed is looked
  // for and, once found, the adapter set up again. The scan goes on.
  void setSilenceHandler(std::function<void(const Result<QString>& protocol)> handler) {
    onSilence_ = std::move(handler);
  }
  static constexpr char kProtocolQuestion[] = "ATDPN";
  // The engine controller's refusal of an enhanced request since answers last
  // came ("7F 22 12"), or empty: the car heard the requests and said no.
  const QString& refusal() const { return refusal_; }
  // Told after each log line is whole on disk.
  void setLineHandler(std::function<void()> handler) { onLine_ = std::move(handler); }
  // Every decoded number goes here too, with the time it came.
  void setReadings(Readings* readings) { readings_ = readings; }

  // Opens the port (and the log), sets the adapter up and starts the cycle: the
  // set-up goes out from the event loop, a line a second. On failure the port
  // is left closed, no log is open and nothing more is sent.
  Status start(bool logToFile, const QString& logPath);
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
  // The file the log goes to (the last one opened, once closed).
  QString logPath() const { return log_.path(); }
  PollingSession& session() { return session_; }
  AdapterLink& link() { return session_.link(); }
  SerialPort& port() { return session_.port(); }

 private:
  void fail(const Failure& failure);
  void lost(const Failure& failure);  // the device failed: the scan stops
  void setUp();
  void answered(const Result<Reply>& reply);
  bool askProtocol();
  void tellSilence(const Result<QString>& protocol);
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
  QString refusal_;
  // A silent round: the protocol question goes out before the next request,
  // and its answer (or time-out) tells the silence.
  enum class Silence { kNone, kToAsk, kAsked } silence_ = Silence::kNone;
  int scanStep_ = 0;
  QLocale locale_;
  std::function<QDateTime()> now_ = [] { return QDateTime::currentDateTime(); };
  FailureHandler onFailure_;
  std::function<void()> onLine_;
  std::function<void(const Result<QString>&)> onSilence_;
  bool logWasOpen_ = false;
  Readings* readings_ = nullptr;
};

}  // namespace tarvex
