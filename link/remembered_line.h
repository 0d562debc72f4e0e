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

// The ports of the adapter the user chose, whatever kind it is (a serial
// device, a Wi-Fi adapter): they remember their line once the adapter has
// given a complete answer on it (clean text up to its prompt, which only
// comes at the right speed), and the line can be changed for another, of
// another kind too, while no port holds the adapter: every port takes the new
// one from its next open on. Everything else is the inner factory's, which
// `make` builds for a line.
class RememberingPortFactory final : public PortFactory {
 public:
  using Maker = std::function<std::unique_ptr<PortFactory>(const LineChoice& line)>;
  RememberingPortFactory(Maker make, const LineChoice& line, RememberedLine& remembered);
  ~RememberingPortFactory() override;
  std::unique_ptr<SerialPort> createPort(const PortUse& use) override;
  QString deviceName() const override;
  QStringList devicesPresent() const override;
  // A device picked by the user: of the same kind at the same speed, of
  // another kind as it comes.
  void setDeviceName(const QString& device) override;
  bool isHeld() const override;
  std::optional<qint32> lineSpeed() const override;
  // Another line for every port from its next open on; refused (kOpen, with
  // who holds it) while a port has the adapter open.
  Status setLine(const LineChoice& line);
  Status setLine(const QString& device, qint32 baud) override {
    return setLine(LineChoice{device, baud, false});
  }

 private:
  class Port;
  struct Shared;
  std::shared_ptr<Shared> shared_;  // ports may outlive their factory
  Maker make_;
};

}  // namespace tarvex
