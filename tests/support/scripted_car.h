#pragma once

#include <QHash>
#include <QStringList>
#include <functional>
#include <utility>

#include "tests/support/fake_clock.h"
#include "tests/support/fake_serial_port.h"

namespace tarvex::testing {

// Echoes each line after 10 ms, then 10 ms later answers from the script (lines split by '\r'):
// else the reset with the banner, AT commands with OK, requests with NO DATA.
struct ScriptedCar {
  explicit ScriptedCar(FakeSerialPort& device) : port(device) {
    port.duringWrite = [this](const QByteArray& line) {
      pending << QString::fromLatin1(line).trimmed();
      sent << pending.last();
    };
  }
  ~ScriptedCar() { port.duringWrite = {}; }

  // 10 ms steps of fake time until `done` or `limit`.
  void runUntil(FakeClock& clock, const std::function<bool()>& done, Millis limit = Millis{120'000}) {
    for (Millis spent{0}; spent < limit && !done(); spent += Millis{10}) {
      if (port.isOpen() && !later.isEmpty()) port.receive(std::exchange(later, {}));
      for (const QString& line : std::exchange(pending, {})) {
        if (onLine) onLine(line);
        if (!port.isOpen() || silent) continue;
        QByteArray answer = line == QLatin1String("ATZ")           ? QByteArray("\rELM327 v1.5")
                            : answers.contains(line)               ? answers.value(line)
                            : line.startsWith(QLatin1String("AT")) ? QByteArray("OK")
                                                                   : QByteArray("NO DATA");
        port.receive(line.toLatin1() + '\r');
        later += answer + "\r\r>";
      }
      clock.advance(Millis{10});
    }
  }

  FakeSerialPort& port;
  QHash<QString, QByteArray> answers;
  std::function<void(const QString&)> onLine;  // each line as the adapter takes it
  bool silent = false;                         // nothing answers
  QStringList sent, pending;
  QByteArray later;
};

}  // namespace tarvex::testing
