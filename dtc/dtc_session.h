#pragma once

#include <QString>
#include <functional>
#include <optional>

#include "link/polling_session.h"

namespace tarvex {

// The trouble-code window without its widgets: it resets the adapter when the
// window opens, sends the two trouble-code services on request, and gathers
// everything the adapter answers, unparsed, in one output text.
class DTCSession {
 public:
  // The output keeps at most this many characters, the newest; the oldest go.
  // Far more than any trouble-code answer, so only a long session trims it.
  static constexpr qsizetype kMaxOutput = 64 * 1024;

  // The port and the (unarmed) reply timer belong to the window, which routes
  // the port's notifications to onPortEvent(). initialOutput: what the output
  // shows before any answer.
  DTCSession(SerialPort& port, Timer& replyTimer, Clock& clock, QString initialOutput);
  ~DTCSession();

  // Opens the port and resets the adapter. A failure comes back; the port is
  // closed then.
  std::optional<PortFailure> open();
  // Read DTC ("03") and Reset DTC ("04"). A port that is not open is opened
  // first (another program may have let go of it, or the adapter is back).
  std::optional<PortFailure> sendRead();
  std::optional<PortFailure> sendReset();
  void close();

  // A receive notification appends what is waiting; a port error closes the
  // port and is told to the failure handler.
  void onPortEvent(PortEvent event);
  void setFailureHandler(std::function<void(const PortFailure&)> handler) { onFailure_ = std::move(handler); }

  const QString& output() const { return output_; }
  // The user edited the box: later text is appended to the edited text.
  void setOutput(const QString& text);
  void setOutputChanged(std::function<void(const QString&)> callback) {
    outputChanged_ = std::move(callback);
  }

 private:
  void append(const QString& text);

  PollingSession session_;
  QString output_;
  std::function<void(const QString&)> outputChanged_;
  std::function<void(const PortFailure&)> onFailure_;
};

}  // namespace tarvex
