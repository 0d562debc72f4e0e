#pragma once

#include "sim/sim_adapter.h"

namespace tarvex::testing {

// Car and adapter driven straight through their time interface, no ports or timers.
struct SimRig {
  // No pacing; the car answers after `latency`.
  static sim::SimAdapterConfig instant(Millis latency = Millis{0}) {
    sim::SimAdapterConfig c;
    c.timing = sim::SimTiming::instant();
    c.timing.latencyMin = c.timing.latencyMax = latency;
    return c;
  }
  explicit SimRig(sim::SimAdapterConfig config = instant(), sim::VehicleConfig car = {})
      : vehicle(car), adapter(vehicle, Micros{0}, config) {}

  void write(const QByteArray& bytes) { adapter.receive(bytes, now); }
  // Follows the adapter's events up to `until` (default: until it is idle), returns its output.
  QByteArray run(Micros until = Micros::max()) {
    QByteArray out;
    for (auto next = adapter.nextEventTime(); next && *next <= until; next = adapter.nextEventTime())
      out += adapter.takeOutputDue(now = std::max(now, *next));
    if (until != Micros::max()) out += adapter.takeOutputDue(now = std::max(now, until));
    return out;
  }

  QByteArray exchange(const QByteArray& line) {
    write(line + "\r\n");
    return run();
  }

  sim::Vehicle vehicle;
  sim::SimAdapter adapter;
  Micros now{0};
};

}  // namespace tarvex::testing
