#pragma once

#include <QLocale>
#include <QString>
#include <functional>
#include <optional>

#include "core/clock.h"
#include "drag/drag_run.h"
#include "link/polling_session.h"

namespace tarvex {

// The drag strip window's commands without its widgets: the adapter set-up on
// "Start", then road-speed requests ("010D") one after the other, each complete
// reply timed into the run and followed at once by the next request; a request
// that gets no complete reply in 150 ms is written again.
class DragPoller {
 public:
  static constexpr char kSpeedRequest[] = "010D";

  // The port and the reply timer belong to the window, which routes their
  // events to session(). initialBuffer: what the reply buffer holds at first.
  DragPoller(SerialPort& port, Timer& replyTimer, Clock& clock, AdapterTraits& traits, DragBoxes& boxes,
             QLocale locale = QLocale(), QString initialBuffer = QString());
  ~DragPoller();

  // Opens the port if it is closed and sets the adapter up; the set-up goes
  // out from the event loop, a line a second.
  Status start();
  // Closes the port and switches the reply timer off; every box keeps its text.
  void stop();
  // Writes the next speed request and tells the tick count it went out at.
  void AskSpeed();

  // The tick count of each speed request, as a signed 32-bit number.
  void setTicksHandler(std::function<void(std::int32_t)> handler) { onTicks_ = std::move(handler); }
  // The port failed or went away while polling; polling has stopped.
  void setFailureHandler(FailureHandler handler) { onFailure_ = std::move(handler); }

  PollingSession& session() { return session_; }
  AdapterLink& link() { return session_.link(); }
  DragRun& run() { return run_; }

 private:
  void answered(const Result<Reply>& reply);
  void fail(const Failure& failure);

  Clock& clock_;
  PollingSession session_;
  DragRun run_;
  std::function<void(std::int32_t)> onTicks_;
  FailureHandler onFailure_;
};

}  // namespace tarvex
