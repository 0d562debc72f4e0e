#pragma once

#include <memory>
#include <vector>

#include "link/clock.h"
#include "link/serial_port.h"
#include "tests/support/fake_serial_port.h"

namespace tarvex::testing {

// A window's port that forwards to a fake the test keeps, so the test can still
// look at the device after the window (and this proxy) is gone. Destroying the
// proxy does not close the device: only an explicit close does.
class ProxyPort final : public SerialPort {
 public:
  explicit ProxyPort(FakeSerialPort& device) : device_(device) {
    device_.setNotify([this](int kind) { notify(kind); });
  }
  ~ProxyPort() override { device_.setNotify({}); }
  bool open() override { return device_.open(); }
  void close() override { device_.close(); }
  bool isOpen() const override { return device_.isOpen(); }
  bool write(const QByteArray& data) override {
    if (clock_) timedWrites_.push_back({clock_->now(), data});
    return device_.write(data);
  }
  QByteArray readAll() override { return device_.readAll(); }
  QString deviceName() const override { return device_.deviceName(); }
  QString errorString() const override { return device_.errorString(); }

  // With a clock, every write is recorded with the time it was made.
  void recordTimesFrom(const Clock& clock) { clock_ = &clock; }
  struct TimedWrite {
    Micros at;
    QByteArray data;
  };
  const std::vector<TimedWrite>& timedWrites() const { return timedWrites_; }

 private:
  FakeSerialPort& device_;
  const Clock* clock_ = nullptr;
  std::vector<TimedWrite> timedWrites_;
};

// Hands every window a proxy of the one fake device, as all ports of the
// program name the same device, and records the flag each port was made with.
class ProxyPortFactory final : public PortFactory {
 public:
  explicit ProxyPortFactory(FakeSerialPort& device) : device_(device) {}
  std::unique_ptr<SerialPort> createPort(bool dataTerminalReady) override {
    dataTerminalReady_.push_back(dataTerminalReady);
    return std::make_unique<ProxyPort>(device_);
  }
  QString deviceName() const override { return device_.deviceName(); }
  const std::vector<bool>& dataTerminalReady() const { return dataTerminalReady_; }

 private:
  FakeSerialPort& device_;
  std::vector<bool> dataTerminalReady_;
};

}  // namespace tarvex::testing
