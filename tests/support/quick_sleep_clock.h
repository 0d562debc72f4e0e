#pragma once

#include "link/clock.h"

namespace tarvex::testing {

// The real clock, but the adapter-reset waits are cut short: the simulated
// adapter resets in 20 ms, and no run waits whole seconds for it.
class QuickSleepClock final : public Clock {
 public:
  Micros now() const override { return real_.now(); }
  void sleep(Millis duration) override { real_.sleep(duration / 10); }
  std::unique_ptr<Timer> createTimer() override { return real_.createTimer(); }

 private:
  SystemClock real_;
};

}  // namespace tarvex::testing
