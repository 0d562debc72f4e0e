#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>

#include "core/clock.h"
#include "core/failure.h"
#include "link/adapter_link.h"
#include "link/request_queue.h"
#include "link/serial_port.h"

namespace tarvex {

// One line of a set-up that waits for each prompt. An optional line may be
// refused ("?") by an adapter that does not know it: it is noted among the
// adapter's refusals and the set-up goes on without it.
struct SetupLine {
  QString command;
  bool optional = false;
};

inline constexpr Millis kSettingPatience{1000};

// One window's conversation with the adapter: its port, its reply timer, the
// link over them and the request queue every request goes through. Each
// window that polls holds one; the window routes the port's notifications and
// the timer's expiry here.
//
// Anything that needs the port opens it first. A port that needs a while
// before it is ready (its line speed is still being looked for) gets it: what
// was asked goes out once the port is ready. A failure of what is asked for
// now comes back from the call; one noticed later (the device went away, a
// write of the set-up's own timer failed) goes to the failure handler, and the
// session has stopped then.
class PollingSession {
 public:
  PollingSession(SerialPort& port, Timer& replyTimer, Clock& clock, AdapterTraits& traits,
                 QString initialBuffer = QString());
  ~PollingSession();

  // The set-up of the windows whose bytes and pauses are fixed: a line a
  // second (see AdapterLink::setUp); `done` has the last line's reply, or its
  // time-out as kSilent.
  Status startPaced(const QStringList& setup, ReplyShape last, ReplyHandler done);
  // Each line waits for its prompt. When the reset line hears nothing (or
  // nothing readable) and the port's speed is only a guess, the speed is
  // looked for once and the set-up begins again. `done`: set up, or the line
  // that failed and why.
  Status start(const QList<SetupLine>& setup, std::function<void(const Status&)> done);
  // Opens the port and writes a line with no reply awaited.
  Status write(const QString& line);
  // A request through the queue; a port that is not open yet is opened.
  void send(Request request, ReplyHandler done);
  // Closes the port; the link, its timers and the queue stop, and nothing
  // waits for the port any more. No handler is called after it.
  void stop();

  void setFailureHandler(FailureHandler handler) { onFailure_ = std::move(handler); }
  // The adapter reset itself and has been set up again; the request that was
  // out goes out again by itself. Told so the owner can say so.
  void setSetUpAgainHandler(std::function<void()> handler) { onSetUpAgain_ = std::move(handler); }

  void onPortEvent(PortEvent event);
  void onReplyTimeout() { link_.onReplyTimeout(); }

  // The port is open, or opening: something runs or waits to.
  bool active() const { return port_.isOpen(); }
  // The port is open but still getting ready (its speed is being looked for).
  bool gettingReady() const { return port_.isOpen() && port_.gettingReady(); }
  AdapterLink& link() { return link_; }
  RequestQueue& queue() { return queue_; }
  AdapterTraits& traits() { return queue_.traits(); }
  SerialPort& port() { return port_; }

 private:
  using Action = std::function<Status()>;
  Status whenOpen(Action action);
  void portReady(bool ready);
  void fail(const Failure& failure);
  void setUpLine(int index);
  void setUpEnded(const Status& status);

  SerialPort& port_;
  AdapterLink link_;
  RequestQueue queue_;
  QList<Action> afterReady_;  // asked for while the port was getting ready
  ReplyHandler pacedDone_;
  QList<SetupLine> setup_;
  std::function<void(const Status&)> setupDone_;
  bool speedSearched_ = false;
  int run_ = 0;  // counts stops, so a handler of an earlier run is told apart
  FailureHandler onFailure_;
  std::function<void()> onSetUpAgain_;
};

// The reset the windows that are free to choose send: ATZ, but ATWS (a warm
// start) on a Bluetooth serial link, which some adapters drop on ATZ.
QString resetCommandFor(const QString& device);

}  // namespace tarvex
