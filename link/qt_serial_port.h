#pragma once

#include <QSerialPort>

#include "link/clock.h"
#include "link/serial_port.h"

namespace tarvex {

// The platform's first serial port, used when no device is named.
QString defaultPortName();

// A real serial device through QSerialPort, 9600 8N1, no flow control.
class QtSerialPort final : public SerialPort {
 public:
  QtSerialPort(const QString& device, bool dataTerminalReady);
  ~QtSerialPort() override;

  bool open() override;
  void close() override;
  bool isOpen() const override { return port_.isOpen(); }
  bool write(const QByteArray& data) override;
  QByteArray readAll() override { return port_.readAll(); }
  QString deviceName() const override { return device_; }
  QString errorString() const override { return error_; }

 private:
  QString device_;
  bool dataTerminalReady_;
  QSerialPort port_;
  QString error_;
};

class QtPortFactory final : public PortFactory {
 public:
  explicit QtPortFactory(QString device) : device_(std::move(device)) {}
  std::unique_ptr<SerialPort> createPort(bool dataTerminalReady) override {
    return std::make_unique<QtSerialPort>(device_, dataTerminalReady);
  }
  QString deviceName() const override { return device_; }

 private:
  QString device_;
};

}  // namespace tarvex
