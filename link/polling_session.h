#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

#include "core/clock.h"
#include "link/adapter_link.h"
#include "link/serial_port.h"

namespace tarvex {

// One window's conversation with the adapter: its port, its reply timer and
// the link over them. The scan, the drag strip and the trouble-code window
// each hold one; their windows route the port's notifications and the timer's
// expiry here.
//
// Anything that needs the port opens it first. A port that needs a while
// before it is ready (its line speed is still being looked for) gets it: what
// was asked goes out once the port is ready, and a failure then is told
// through the link's onFault hook, as is every failure the session notices on
// its own. A failure of what the owner asks for now comes back from the call.
class PollingSession {
 public:
  PollingSession(SerialPort& port, Timer& replyTimer, Clock& clock, QString initialBuffer = QString());
  ~PollingSession();

  // Opens the port and sets the adapter up (see AdapterLink::setUp).
  std::optional<PortFailure> start(const QStringList& setup, ReplyShape last);
  // Opens the port and writes a line with no reply awaited.
  std::optional<PortFailure> write(const QString& line);
  // The next command of a running poll (see AdapterLink::SendCom).
  std::optional<PortFailure> SendCom(const QString& command, ReplyShape expected);
  // Closes the port; the link and both its timers stop, and nothing waits for
  // the port any more. Nothing is sent after it.
  void stop();

  void onPortEvent(PortEvent event);
  void onReplyTimeout() { link_.onReplyTimeout(); }

  // The port is open, or opening: something runs or waits to.
  bool active() const { return port_.isOpen(); }
  // The port is open but still getting ready (its speed is being looked for).
  bool gettingReady() const { return port_.isOpen() && port_.gettingReady(); }
  AdapterLink& link() { return link_; }
  AdapterLink::Hooks& hooks() { return link_.hooks(); }
  SerialPort& port() { return port_; }

 private:
  using Action = std::function<std::optional<PortFailure>()>;
  std::optional<PortFailure> whenOpen(Action action);
  void portReady(bool ready);

  SerialPort& port_;
  AdapterLink link_;
  QList<Action> afterReady_;  // asked for while the port was getting ready
};

}  // namespace tarvex
