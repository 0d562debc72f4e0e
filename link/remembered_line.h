#pragma once

#include <QByteArray>
#include <QSettings>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

#include "link/serial_port.h"

namespace tarvex {

// The device and line speed on which the adapter last answered, kept in the
// settings from one run to the next.
class RememberedLine {
 public:
  explicit RememberedLine(QSettings& settings) : settings_(settings) {}
  // Nothing when nothing usable is kept.
  std::optional<QString> device() const;
  std::optional<qint32> baud() const;
  // Writes only what changed; a speed still to be found is not kept.
  void remember(const QString& device, qint32 baud);

 private:
  QSettings& settings_;
};

// The line a run starts on: the command line's device and speed, else the
// remembered ones (the speed only when the device is the remembered one), else
// defaultDevice at kDefaultBaud.
struct LineChoice {
  QString device;
  qint32 baud;
  bool guessed = false;  // the default speed, for want of a better one
};
LineChoice chooseLine(const std::optional<QString>& portOption, const std::optional<qint32>& baudOption,
                      const RememberedLine& remembered, const QString& defaultDevice);

// Ports that remember their line once the adapter has given a complete answer
// on it: clean text up to its prompt, which only comes at the right speed.
// Everything else is the inner factory's.
class RememberingPortFactory final : public PortFactory {
 public:
  // baud: the inner factory's speed now (kFindBaud while still to be found).
  RememberingPortFactory(std::unique_ptr<PortFactory> inner, std::function<qint32()> baud,
                         RememberedLine& remembered);
  ~RememberingPortFactory() override;
  std::unique_ptr<SerialPort> createPort(const PortUse& use) override;
  QString deviceName() const override { return inner_->deviceName(); }
  QStringList devicesPresent() const override { return inner_->devicesPresent(); }
  void setDeviceName(const QString& device) override { inner_->setDeviceName(device); }
  bool isHeld() const override { return inner_->isHeld(); }

 private:
  class Port;
  std::unique_ptr<PortFactory> inner_;
  // What a port calls when its adapter answered; shared, as ports may outlive
  // their factory.
  std::shared_ptr<std::function<void(const QString& device)>> answered_;
};

}  // namespace tarvex
