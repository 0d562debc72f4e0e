#pragma once

#include <QString>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "core/clock.h"
#include "link/serial_port.h"
#include "ui/box_mirror.h"
#include "ui/message.h"
#include "ui/port_chooser.h"

class QLineEdit;
class QWidget;

namespace tarvex {

// What ties a polling window to the adapter: it makes the window's port and
// reply timer, routes their notifications to the window's handlers, sets the
// window's mirrored boxes once each handler is done, and when the port will
// not open, tells why and lets the user pick another port to try again on.
class PortWindow {
 public:
  // Without a chooser, a port that will not open is only reported.
  PortWindow(QWidget& window, PortFactory& ports, Clock& clock, const PortUse& use, Reporter report,
             PortChooser* chooser);
  ~PortWindow();
  PortWindow(const PortWindow&) = delete;
  PortWindow& operator=(const PortWindow&) = delete;

  SerialPort& port() { return *port_; }
  Timer& timer() { return *timer_; }

  // The window's handlers of the port's notification and the timer's expiry.
  void route(std::function<void(PortEvent)> onComm, std::function<void()> onTimer = {});
  // A box that shows a text several changes of which one event may bring. A
  // box set only `onExchange` is set while hidden only after a command went
  // out (noteExchange), not on every character.
  BoxMirror& mirror(QLineEdit& box, bool onExchange = false);
  void noteExchange() { exchanged_ = true; }
  // Sets the mirrored boxes; after every handler.
  void flush();

  // Runs `attempt`; when it fails because the port would not open, offers
  // another port and runs it again on the one picked. Any other failure is
  // handed to `otherwise`, or reported as it is.
  using Attempt = std::function<Status()>;
  void withPort(const Attempt& attempt, const FailureHandler& otherwise = {});
  // The same, for an attempt already made that came back with `status`.
  void settle(Status status, const Attempt& attempt, const FailureHandler& otherwise = {});
  // The traits of the adapter behind the port, shared by every window.
  AdapterTraits& traits() { return ports_.traits(); }
  // Tells the user, on this window.
  void report(Urgency urgency, const QString& message) const;
  const Reporter& reporter() const { return report_; }

 private:
  struct Mirrored {
    BoxMirror* mirror;
    bool onExchange;
  };

  QWidget& window_;
  PortFactory& ports_;
  Reporter report_;
  PortChooser* chooser_;
  std::unique_ptr<SerialPort> port_;
  std::unique_ptr<Timer> timer_;
  std::vector<Mirrored> mirrors_;
  bool exchanged_ = false;
};

}  // namespace tarvex
