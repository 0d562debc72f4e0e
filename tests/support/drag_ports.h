#pragma once

#include <memory>
#include <utility>
#include <vector>

#include "core/clock.h"
#include "link/serial_port.h"
#include "tests/support/fake_serial_port.h"

namespace tarvex::testing {

// Forwards to a fake the test keeps, never closing it; with a clock, records when each write was made.
class ProxyPort final : public SerialPort {
 public:
  explicit ProxyPort(FakeSerialPort& device, const Clock* clock = nullptr) : device_(device), clock_(clock) {
    device_.setNotify([this](PortEvent event) { notify(event); });
  }
  ~ProxyPort() override { device_.setNotify({}); }
  bool open() override { return device_.open(); }
  void close() override { device_.close(); }
  bool isOpen() const override { return device_.isOpen(); }
  bool write(const QByteArray& data) override {
    if (clock_) timedWrites.emplace_back(clock_->now(), data);
    return device_.write(data);
  }
  QByteArray readAll() override { return device_.readAll(); }
  QString deviceName() const override { return device_.deviceName(); }
  QString errorString() const override { return device_.errorString(); }
  void whenReady(std::function<void(bool)> ready) override { device_.whenReady(std::move(ready)); }
  bool gettingReady() const override { return device_.gettingReady(); }

  std::vector<std::pair<Micros, QByteArray>> timedWrites;

 private:
  FakeSerialPort& device_;
  const Clock* clock_;
};

// Hands every window a proxy of the one device; records each port's DTR flag.
class ProxyPortFactory final : public PortFactory {
 public:
  explicit ProxyPortFactory(FakeSerialPort& device) : device_(device) {}
  std::unique_ptr<SerialPort> createPort(const PortUse& use) override {
    dataTerminalReady.push_back(use.dataTerminalReady);
    return std::make_unique<ProxyPort>(device_);
  }
  QString deviceName() const override { return device_.deviceName(); }
  QStringList devicesPresent() const override { return present; }
  void setDeviceName(const QString& device) override { picked << device; }
  bool isHeld() const override { return device_.isOpen(); }
  std::optional<qint32> lineSpeed() const override { return speed; }
  // What the factory tells the user, as a real one does while a port opens.
  void tell(const QString& text) const { notice(text); }

  QStringList present, picked;  // the devices listed, and those the user picked
  std::optional<qint32> speed;
  std::vector<bool> dataTerminalReady;  // each port's DTR flag

 private:
  FakeSerialPort& device_;
};

}  // namespace tarvex::testing
