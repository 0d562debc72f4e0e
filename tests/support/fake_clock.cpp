#include "tests/support/fake_clock.h"

#include <algorithm>

namespace tarvex::testing {

FakeClock::~FakeClock() {
  for (FakeTimer* t : timers_) t->clock_ = nullptr;
}

std::unique_ptr<Timer> FakeClock::createTimer() {
  auto timer = std::make_unique<FakeTimer>(*this);
  timers_.push_back(timer.get());
  return timer;
}

void FakeClock::advance(Micros duration) {
  const Micros target = now_ + duration;
  for (;;) {
    FakeTimer* next = nullptr;
    for (FakeTimer* t : timers_) {
      if (!t->active_ || t->deadline_ > target) continue;
      if (!next || t->deadline_ < next->deadline_ ||
          (t->deadline_ == next->deadline_ && t->order_ < next->order_))
        next = t;
    }
    if (!next) break;
    now_ = std::max(now_, next->deadline_);
    next->active_ = !next->singleShot_;  // a repeating one comes due again an interval on
    next->deadline_ = now_ + std::max(next->interval_, Millis{1});
    next->fire();
  }
  now_ = std::max(now_, target);
}

FakeClock::FakeTimer::~FakeTimer() {
  if (clock_) std::erase(clock_->timers_, this);
}

void FakeClock::FakeTimer::start() {
  active_ = true;
  if (clock_) {
    deadline_ = clock_->now_ + interval_;
    order_ = clock_->sequence_++;
  }
}

}  // namespace tarvex::testing
