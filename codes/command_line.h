#pragma once

#include <QString>
#include <QTextStream>
#include <functional>
#include <memory>
#include <optional>

#include "codes/codes_reader.h"
#include "codes/confirm.h"
#include "core/clock.h"
#include "core/units.h"
#include "link/serial_port.h"

namespace tarvex {

// What the command line can ask of the car without a window.
enum class CodesCommand { kCodes, kVin, kClearCodes };

// Asks on a terminal; without one it refuses and says why.
class TerminalConfirm final : public Confirm {
 public:
  TerminalConfirm(QTextStream& in, QTextStream& out, bool terminal)
      : in_(in), out_(out), terminal_(terminal) {}
  bool ask(const QString& question) override;
  QString refusal() const override { return refusal_; }

 private:
  QTextStream& in_;
  QTextStream& out_;
  bool terminal_;
  QString refusal_;
};

// --yes: the answer is given in advance.
class AlwaysYes final : public Confirm {
 public:
  bool ask(const QString&) override { return true; }
};

// One command-line run on one port: the report or the VIN on `out`, the
// reason on `err`, and the exit status once it is over (0 when it did what it
// was asked).
class CommandRun {
 public:
  CommandRun(CodesCommand command, SerialPort& port, Clock& clock, AdapterTraits& traits, Confirm& confirm,
             QTextStream& out, QTextStream& err);
  ~CommandRun();
  void start();
  std::optional<int> status() const { return status_; }
  void setFinished(std::function<void(int status)> finished) { finished_ = std::move(finished); }
  // The freeze frame's values in these units.
  void setUnits(const UnitChoice& units) { units_ = units; }

 private:
  void finish(int status);
  void failed(const Failure& failure);
  void done(const CodesReport& report);

  CodesCommand command_;
  SerialPort& port_;
  Confirm& confirm_;
  QTextStream& out_;
  QTextStream& err_;
  std::unique_ptr<Timer> timer_;
  CodesReader reader_;
  std::optional<int> status_;
  std::function<void(int)> finished_;
  UnitChoice units_;
};

}  // namespace tarvex
