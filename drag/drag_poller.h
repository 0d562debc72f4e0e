#pragma once

#include <QLocale>
#include <QString>
#include <functional>
#include <optional>

#include "drag/drag_run.h"
#include "link/adapter_link.h"
#include "link/clock.h"
#include "link/serial_port.h"

namespace tarvex {

// The drag strip window's commands without its widgets: the adapter set-up on
// "Start", then road-speed requests ("010D") one after the other, each complete
// reply timed into the run and followed at once by the next request; a request
// that gets no complete reply in 150 ms is written again.
class DragPoller {
 public:
  // The adapter's reset and echo setting each get this long before the next command.
  static constexpr Millis kSetupPause{1000};
  static constexpr char kSpeedRequest[] = "010D";

  DragPoller(SerialPort& port, Clock& clock, DragBoxes& boxes, QLocale locale = QLocale());
  ~DragPoller();
  DragPoller(const DragPoller&) = delete;
  DragPoller& operator=(const DragPoller&) = delete;

  // Opens the port if it is closed and sets the adapter up. Returns the message
  // for the user when the port cannot be opened; nothing is written then.
  std::optional<QString> pb_Start_Click();
  // Closes the port and switches the reply timer off; every box keeps its text.
  void pb_stop_Click();
  // Writes the next speed request and shows its tick count.
  void AskSpeed();

  // The reply buffer, visible and editable in the window; an edit runs the check.
  const QString& rxText() const { return link_.rxText(); }
  void setRxText(const QString& text) { link_.setRxText(text); }
  const QString& ticksText() const { return ticksText_; }

  void setRxTextChanged(std::function<void(const QString&)> callback);
  void setTicksChanged(std::function<void(const QString&)> callback) { ticksChanged_ = std::move(callback); }

  bool polling() const { return link_.timerActive(); }
  AdapterLink& link() { return link_; }
  DragRun& run() { return run_; }

 private:
  void onReply(const QString& out);

  SerialPort& port_;
  Clock& clock_;
  AdapterLink link_;
  DragRun run_;
  QString ticksText_ = QStringLiteral("Ticks");
  std::function<void(const QString&)> ticksChanged_;
};

}  // namespace tarvex
