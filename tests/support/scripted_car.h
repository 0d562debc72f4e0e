#pragma once

#include <QHash>
#include <QStringList>
#include <functional>
#include <utility>

#include "tests/support/fake_clock.h"
#include "tests/support/fake_serial_port.h"

namespace tarvex::testing {

// An adapter on a fake port that answers each line from a script: its echo
// 10 ms after it was written, the answer and prompt 10 ms later: the reset with the banner, other AT
// commands with OK unless scripted, requests with NO DATA unless scripted.
// Answer lines are separated by '\r'.
struct ScriptedCar {
  explicit ScriptedCar(FakeSerialPort& device) : port(device) {
    port.duringWrite = [this](const QByteArray& line) {
      pending << QString::fromLatin1(line).trimmed();
      sent << pending.last();
    };
  }
  ~ScriptedCar() { port.duringWrite = {}; }

  // Moves fake time 10 ms at a time, answering what was written, until `done`
  // or `limit` of fake time have passed.
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
