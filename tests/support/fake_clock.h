#pragma once

#include <vector>

#include "core/clock.h"

namespace tarvex::testing {

// advance() fires the timers due on the way in deadline order; busy() runs none, as inside a handler.
class FakeClock final : public Clock {
 public:
  explicit FakeClock(Micros start = Micros{0}) : now_(start) {}
  ~FakeClock() override;

  Micros now() const override { return now_; }
  void busy(Millis duration) { now_ += duration; }
  std::unique_ptr<Timer> createTimer() override;

  void advance(Micros duration);
  void setTickCount(std::uint32_t ms) { now_ = Micros{std::int64_t(ms) * 1000}; }

  class FakeTimer;

 private:
  friend class FakeTimer;
  Micros now_;
  std::vector<FakeTimer*> timers_;
  std::uint64_t sequence_ = 0;
};

class FakeClock::FakeTimer final : public Timer {
 public:
  explicit FakeTimer(FakeClock& clock) : clock_(&clock) {}
  ~FakeTimer() override;
  void setInterval(Millis interval) override { interval_ = interval; }
  Millis interval() const override { return interval_; }
  void setSingleShot(bool singleShot) override { singleShot_ = singleShot; }
  void start() override;
  void stop() override { active_ = false; }
  bool isActive() const override { return active_; }

 private:
  friend class FakeClock;
  FakeClock* clock_;
  Millis interval_{0};
  bool singleShot_ = false;
  bool active_ = false;
  Micros deadline_{0};
  std::uint64_t order_ = 0;
};

}  // namespace tarvex::testing
