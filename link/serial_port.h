#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>

#include "core/failure.h"
#include "link/adapter_traits.h"

namespace tarvex {

// What a port tells its owner. No port tells when a command has been sent: a
// command goes to the device as it is written, and the reply timer runs from
// there.
enum class PortEvent {
  kReceived,  // characters are waiting
  kError,     // the device failed or went away; errorString() says how
};

// The serial port as the windows use it: open, close, write, take what is
// waiting, and a notification with its kind. Implemented over QSerialPort, by
// the simulated adapter, and by a scripted fake in tests.
class SerialPort {
 public:
  virtual ~SerialPort() = default;

  // Opens the line. On failure returns false and errorString() says why.
  virtual bool open() = 0;
  virtual void close() = 0;
  virtual bool isOpen() const = 0;
  // False when the data could not be handed to the device; errorString() says why.
  virtual bool write(const QByteArray& data) = 0;
  // Takes every character waiting at the port.
  virtual QByteArray readAll() = 0;
  virtual QString deviceName() const = 0;
  virtual QString errorString() const = 0;

  // Some ports need a while after open() before a command makes sense (their
  // line speed is still being looked for). `ready` is called once the port is
  // ready: at once when there is nothing to wait for, otherwise later from the
  // event loop, with false when the device failed meanwhile (errorString()
  // says why). A close() before then cancels the wait: `ready` is not called.
  virtual void whenReady(std::function<void(bool ready)> ready) { ready(isOpen()); }
  // True while a whenReady() wait is outstanding.
  virtual bool gettingReady() const { return false; }
  // Looks for the adapter's line speed again on the open port, when the speed
  // in use is only a guess (neither given by the user nor known to have worked):
  // true when a search started, which whenReady() then waits for.
  virtual bool searchSpeed() { return false; }

  void setNotify(std::function<void(PortEvent)> notify) { notify_ = std::move(notify); }

 protected:
  void notify(PortEvent event) {
    if (notify_) notify_(event);
  }

 private:
  std::function<void(PortEvent)> notify_;
};

// A failure of this port: its device, and the system's words for what went
// wrong (or "unknown error" when it gave none).
Failure openFailure(const SerialPort& port);
Failure lostFailure(const SerialPort& port);

// Who uses a port, and how.
struct PortUse {
  QString user;  // as the user knows it, for "in use by ...": "the trouble-code window"
  // The one setting in which the drag strip window's port differs from the
  // others: it leaves DTR low.
  bool dataTerminalReady = true;
};

// Why a port would not open while another port of the program holds the device.
QString inUseBy(const PortUse& holder);

// Makes the port of one window. All ports made by one factory name the same
// device, so only one of them can be open at a time; opening another fails
// with "it is in use by" its user.
class PortFactory {
 public:
  virtual ~PortFactory() = default;
  virtual std::unique_ptr<SerialPort> createPort(const PortUse& use) = 0;
  virtual QString deviceName() const = 0;
  // The serial devices there are, for the user to pick one when the port will
  // not open. A factory of one fixed device (the simulator) lists none.
  virtual QStringList devicesPresent() const { return {}; }
  // Every port of this factory names this device from its next open on.
  virtual void setDeviceName(const QString&) {}
  // One of its ports has the device open.
  virtual bool isHeld() const = 0;
  // The line speed in use, where the device has one (a network adapter has
  // none); kFindBaud while it is still being looked for.
  virtual std::optional<qint32> lineSpeed() const { return std::nullopt; }
  // Every port of this factory uses another adapter from its next open on: a
  // serial device at a speed (0: looked for), or tcp://HOST:PORT. Refused
  // while a port holds the adapter, and by factories of one fixed adapter.
  virtual Status setLine(const QString& device, qint32 baud) {
    Q_UNUSED(baud);
    return Failure{Failure::Kind::kInvalid, device, QStringLiteral("this adapter cannot be changed"), {}};
  }
  // What has been learnt of the adapter behind the device, by every window.
  AdapterTraits& traits() { return traits_; }

  // What the factory has to tell the user while a window opens its port, such
  // as the line speed it found.
  void setNotice(std::function<void(const QString&)> notice) { notice_ = std::move(notice); }
  // While one of its ports gets ready (SerialPort::whenReady), a line a window
  // can show meanwhile, such as "Looking for the adapter's line speed on
  // /dev/ttyUSB0..."; an empty text once that has ended, however it ended.
  void setStatus(std::function<void(const QString&)> status) { status_ = std::move(status); }

 protected:
  void notice(const QString& text) const {
    if (notice_) notice_(text);
  }
  void status(const QString& text) const {
    if (status_) status_(text);
  }

 private:
  std::function<void(const QString&)> notice_;
  std::function<void(const QString&)> status_;
  AdapterTraits traits_;
};

}  // namespace tarvex
