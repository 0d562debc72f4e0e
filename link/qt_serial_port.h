#pragma once

#include <QSerialPort>
#include <memory>

#include "link/clock.h"
#include "link/serial_port.h"

namespace tarvex {

// The platform's first serial port, used when no device is named.
QString defaultPortName();

// A real serial device through QSerialPort: 8N1, no flow control. Writes never
// wait for the line. A device that goes away, fails, or stops taking data (its
// line's buffer is full) is closed at once and reported, so nothing keeps
// polling a dead descriptor.
class QtSerialPort final : public SerialPort {
 public:
  struct Holder;  // which port of a factory holds the device

  QtSerialPort(const QString& device, PortUse use, qint32 baud = 9600,
               std::shared_ptr<Holder> holder = nullptr);
  ~QtSerialPort() override;

  bool open() override;
  void close() override;
  bool isOpen() const override { return port_.isOpen(); }
  bool write(const QByteArray& data) override;
  QByteArray readAll() override { return port_.readAll(); }
  QString deviceName() const override { return device_; }
  QString errorString() const override { return error_; }

 private:
  void fault(const QString& reason);
  QString openFailure() const;

  QString device_;
  PortUse use_;
  qint32 baud_;
  std::shared_ptr<Holder> holder_;
  QSerialPort port_;
  QString error_;
  bool writing_ = false;
};

// Ports for the windows, all on one device; the factory knows which window
// holds it.
class QtPortFactory final : public PortFactory {
 public:
  explicit QtPortFactory(QString device, qint32 baud = 9600);
  std::unique_ptr<SerialPort> createPort(const PortUse& use) override;
  QString deviceName() const override { return device_; }

 private:
  QString device_;
  qint32 baud_;
  std::shared_ptr<QtSerialPort::Holder> holder_;
};

}  // namespace tarvex
