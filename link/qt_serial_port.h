#pragma once

#include <QSerialPort>
#include <memory>
#include <optional>

#include "core/clock.h"
#include "link/line_speed.h"
#include "link/serial_port.h"

namespace tarvex {

// The platform's first serial port, used when no device is named.
QString defaultPortName();

// A serial device as the system lists it.
struct SerialDeviceInfo {
  QString device;  // the path to open: /dev/ttyUSB0
  QString description;
  QString manufacturer;
  std::optional<quint16> vendorId, productId;  // USB devices only
  bool busy = false;                           // another program holds its lock
};
QList<SerialDeviceInfo> serialDevices();

// A real serial device through QSerialPort: 8N1, no flow control, and on a
// USB bridge that allows it, low latency (it hands on each character at once
// instead of holding it for its latency timer). Writes never wait for the line.
// A device that goes away, fails, or stops taking data (its line's buffer is
// full) is closed at once and reported, so nothing keeps polling a dead
// descriptor.
class QtSerialPort final : public SerialPort {
 public:
  struct Line;  // what the ports of one factory share: device, speed, who holds it

  QtSerialPort(const QString& device, PortUse use, qint32 baud = kDefaultBaud,
               std::shared_ptr<Line> line = nullptr);
  ~QtSerialPort() override;

  // With the speed to be found (kFindBaud), until one search has found it, an
  // open starts the search on the event loop and returns: the port is ready
  // (whenReady) once the search ends, at the speed found or, after a search in
  // vain, at 9600 baud. Meanwhile what arrives is the search's (no receive
  // notification, readAll() gives nothing) and write() refuses without
  // closing the port; a device that fails is told through whenReady, not
  // through the notification.
  bool open() override;
  void close() override;
  bool isOpen() const override { return port_.isOpen(); }
  bool write(const QByteArray& data) override;
  QByteArray readAll() override;
  QString deviceName() const override;
  QString errorString() const override { return error_; }
  void whenReady(std::function<void(bool ready)> ready) override;
  bool gettingReady() const override;
  // Where the speed was a guess, the first call looks for it (once).
  bool searchSpeed() override;

 private:
  class SearchPort;
  void fault(const QString& reason);
  void checkFailure(QSerialPort::SerialPortError error, int errorNumber);
  QString openFailure() const;
  void startSearch();
  void searchEnded(std::optional<qint32> found);
  bool send(const QByteArray& data);
  void lowLatency(bool on);

  PortUse use_;
  std::shared_ptr<Line> line_;
  QString openedDevice_;
  QSerialPort port_;
  QString error_;
  bool writing_ = false;
  QByteArray readAhead_;  // taken from the device while finding out why a read failed
  std::unique_ptr<SearchPort> searchPort_;
  std::unique_ptr<BaudSearch> search_;
  std::function<void(bool)> ready_;
  std::optional<int> serialFlags_;  // the driver's flags before low latency was asked for
};

// Ports for the windows, all on one device at one speed; the factory knows
// which window holds it. A speed found, or a device the user picked, holds for
// every port from then on.
class QtPortFactory final : public PortFactory {
 public:
  // `guessed`: the speed is the default, not one the user gave or that worked
  // before; should the adapter not answer at it, a port may look once.
  explicit QtPortFactory(QString device, qint32 baud = kDefaultBaud, bool guessed = false);
  ~QtPortFactory() override;
  std::unique_ptr<SerialPort> createPort(const PortUse& use) override;
  QString deviceName() const override;
  QStringList devicesPresent() const override;
  void setDeviceName(const QString& device) override;
  bool isHeld() const override;
  // The speed in use; kFindBaud until a search found one. While one of its
  // ports looks for it, status() says so.
  qint32 baud() const;
  std::optional<qint32> lineSpeed() const override { return baud(); }

 private:
  std::shared_ptr<QtSerialPort::Line> line_;
};

}  // namespace tarvex
