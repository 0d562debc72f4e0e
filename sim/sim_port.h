#pragma once

#include <memory>

#include "core/clock.h"
#include "link/serial_port.h"
#include "sim/sim_adapter.h"

namespace tarvex::sim {

class SimPortFactory;

// One window's port onto the simulated adapter. Writes go to the adapter at
// the clock's present time; a single-shot timer wakes when the adapter next
// has something on the line and raises the receive notification.
class SimSerialPort final : public SerialPort {
 public:
  ~SimSerialPort() override;

  bool open() override;
  void close() override;
  bool isOpen() const override { return open_; }
  bool write(const QByteArray& data) override;
  QByteArray readAll() override;
  QString deviceName() const override;
  QString errorString() const override { return error_; }

  const PortUse& use() const { return use_; }

 private:
  friend class SimPortFactory;
  struct Shared;
  SimSerialPort(std::shared_ptr<Shared> shared, PortUse use);
  void arm();
  void wake();

  std::shared_ptr<Shared> shared_;
  PortUse use_;
  bool open_ = false;
  bool vanishReported_ = false;
  bool dropReported_ = false;
  std::unique_ptr<Timer> timer_;
  QByteArray received_;
  QString error_;
};

// All ports it makes lead to the one adapter (and so the one car): only one
// of them can be open at a time, as with a real device. The clock and the
// adapter must outlive the factory and its ports.
class SimPortFactory final : public PortFactory {
 public:
  SimPortFactory(Clock& clock, SimAdapter& adapter, QString deviceName = QStringLiteral("ELM327 simulator"));
  ~SimPortFactory() override;

  std::unique_ptr<SerialPort> createPort(const PortUse& use) override;
  QString deviceName() const override;

  bool isHeld() const override;

  static constexpr const char* kGoneError = "No such device: the adapter has gone";
  // A link the adapter dropped (a Bluetooth one on ATZ); opening the port again makes it anew.
  static constexpr const char* kDroppedError = "Connection lost: the adapter dropped the link";

 private:
  std::shared_ptr<SimSerialPort::Shared> shared_;
};

}  // namespace tarvex::sim
