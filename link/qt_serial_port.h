#pragma once

#include <QSerialPort>
#include <memory>
#include <optional>

#include "link/clock.h"
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

// A real serial device through QSerialPort: 8N1, no flow control. Writes never
// wait for the line. A device that goes away, fails, or stops taking data (its
// line's buffer is full) is closed at once and reported, so nothing keeps
// polling a dead descriptor.
class QtSerialPort final : public SerialPort {
 public:
  struct Line;  // what the ports of one factory share: device, speed, who holds it

  QtSerialPort(const QString& device, PortUse use, qint32 baud = kDefaultBaud,
               std::shared_ptr<Line> line = nullptr);
  ~QtSerialPort() override;

  // With the speed to be found (kFindBaud), an open looks for it before
  // returning, at most a few hundred milliseconds for each speed tried, until
  // one search has found it; the port is at 9600 baud after a search in vain.
  bool open() override;
  void close() override;
  bool isOpen() const override { return port_.isOpen(); }
  bool write(const QByteArray& data) override;
  QByteArray readAll() override { return port_.readAll(); }
  QString deviceName() const override;
  QString errorString() const override { return error_; }

 private:
  class Probe;
  void fault(const QString& reason);
  QString openFailure() const;
  void findSpeed();

  PortUse use_;
  std::shared_ptr<Line> line_;
  QString openedDevice_;
  QSerialPort port_;
  QString error_;
  bool writing_ = false;
  bool probing_ = false;  // the search reads the answers itself
};

// Ports for the windows, all on one device at one speed; the factory knows
// which window holds it. A speed found, or a device the user picked, holds for
// every port from then on.
class QtPortFactory final : public PortFactory {
 public:
  explicit QtPortFactory(QString device, qint32 baud = kDefaultBaud);
  ~QtPortFactory() override;
  std::unique_ptr<SerialPort> createPort(const PortUse& use) override;
  QString deviceName() const override;
  QStringList devicesPresent() const override;
  void setDeviceName(const QString& device) override;
  bool isHeld() const override;
  // The speed in use; kFindBaud until a search found one.
  qint32 baud() const;

 private:
  std::shared_ptr<QtSerialPort::Line> line_;
};

}  // namespace tarvex
