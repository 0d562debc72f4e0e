#pragma once

#include "sim/sim_adapter.h"

namespace tarvex::testing {

// Car and adapter driven straight through their time interface, no ports or timers.
struct SimRig {
  // No pacing; the car answers after `latency`; the adapter prompts right after the answer.
  static sim::SimAdapterConfig instant(Millis latency = Millis{0}, sim::AdapterProfile profile = {}) {
    sim::SimAdapterConfig c;
    c.timing = sim::SimTiming::instant();
    c.timing.latencyMin = c.timing.latencyMax = latency;
    c.profile = std::move(profile);
    return c;
  }
  // As instant(), but the adapter listens after the last answer before its prompt, as one does.
  static sim::SimAdapterConfig listening(Millis latency, sim::AdapterProfile profile = {}) {
    sim::SimAdapterConfig c = instant(latency, std::move(profile));
    c.timing.listening = true;
    return c;
  }
  static sim::AdapterProfile profile(const char* name) {
    return *sim::adapterProfile(QString::fromLatin1(name));
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
