#pragma once

#include <QByteArray>

#include "sim/sim_adapter.h"
#include "sim/vehicle.h"

namespace tarvex::testing {

// A simulated car and adapter driven straight through their time interface,
// without ports or timers: write a line, then follow the adapter's own event
// times until it shows its prompt.
class SimRig {
 public:
  explicit SimRig(sim::SimAdapterConfig config = instantConfig(), sim::VehicleConfig vehicle = {},
                  Micros engineStart = Micros{0})
      : vehicle(vehicle), adapter(this->vehicle, engineStart, config), now(engineStart) {}
  SimRig(const SimRig&) = delete;
  SimRig& operator=(const SimRig&) = delete;

  // Echo off, so each exchange returns the answer alone.
  SimRig& quiet() {
    exchange("ATE0");
    return *this;
  }

  static sim::SimAdapterConfig instantConfig() {
    sim::SimAdapterConfig c;
    c.timing = sim::SimTiming::instant();
    return c;
  }

  // Writes the bytes now, without waiting.
  void write(const QByteArray& bytes) { adapter.receive(bytes, now); }

  // Runs the adapter up to `until`, collecting its output.
  QByteArray runUntil(Micros until) {
    QByteArray out;
    while (auto next = adapter.nextEventTime()) {
      if (*next > until) break;
      now = std::max(now, *next);
      out += adapter.takeOutputDue(now);
    }
    now = std::max(now, until);
    out += adapter.takeOutputDue(now);
    return out;
  }

  // Runs until the adapter is idle (or a limit passes) and returns all output.
  QByteArray settle(Micros limit = Micros{10'000'000}) {
    const Micros until = now + limit;
    QByteArray out;
    while (auto next = adapter.nextEventTime()) {
      if (*next > until) break;
      now = std::max(now, *next);
      out += adapter.takeOutputDue(now);
    }
    return out;
  }

  // One command line ended by CR LF, and everything the adapter answers.
  QByteArray exchange(const QByteArray& line) {
    write(line + "\r\n");
    return settle();
  }

  sim::Vehicle vehicle;
  sim::SimAdapter adapter;
  Micros now;
};

}  // namespace tarvex::testing
