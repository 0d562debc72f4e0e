#pragma once

#include "core/clock.h"

namespace tarvex::testing {

// Timers of a second or more (the set-up's pauses) run ten times faster; the sim resets in 20 ms.
class QuickClock final : public Clock {
 public:
  Micros now() const override { return real_.now(); }
  std::unique_ptr<Timer> createTimer() override { return std::make_unique<QuickTimer>(real_.createTimer()); }

 private:
  class QuickTimer final : public Timer {
   public:
    explicit QuickTimer(std::unique_ptr<Timer> real) : real_(std::move(real)) {
      real_->setCallback([this] { fire(); });
    }
    void setInterval(Millis interval) override {
      interval_ = interval;
      real_->setInterval(interval >= Millis{1000} ? interval / 10 : interval);
    }
    Millis interval() const override { return interval_; }
    void setSingleShot(bool singleShot) override { real_->setSingleShot(singleShot); }
    void start() override { real_->start(); }
    void stop() override { real_->stop(); }
    bool isActive() const override { return real_->isActive(); }

   private:
    std::unique_ptr<Timer> real_;
    Millis interval_{0};
  };
  SystemClock real_;
};

}  // namespace tarvex::testing
