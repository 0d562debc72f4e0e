#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

namespace tarvex {

using Micros = std::chrono::microseconds;
using Millis = std::chrono::milliseconds;

// A repeating timer, like the reply timer: while active it calls its callback
// every interval. start() on an active timer restarts the countdown.
class Timer {
 public:
  virtual ~Timer() = default;
  virtual void setInterval(Millis interval) = 0;
  virtual Millis interval() const = 0;
  virtual void setSingleShot(bool singleShot) = 0;
  virtual void start() = 0;
  virtual void stop() = 0;
  virtual bool isActive() const = 0;

  void setCallback(std::function<void()> callback) { callback_ = std::move(callback); }

 protected:
  void fire() {
    if (callback_) callback_();
  }

 private:
  std::function<void()> callback_;
};

// Time as the program sees it: a monotonic clock, the 32-bit millisecond tick
// counter derived from it, and the timers that run on the event loop. Nothing
// of the program sleeps. Tests substitute a fake clock so that no test waits
// real seconds.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual Micros now() const = 0;
  virtual std::unique_ptr<Timer> createTimer() = 0;

  // Milliseconds since an arbitrary origin, wrapping at 2^32 like the
  // platform's tick counter. Differences are taken in unsigned arithmetic.
  std::uint32_t tickCount() const {
    return static_cast<std::uint32_t>(std::chrono::duration_cast<Millis>(now()).count());
  }
};

// The real clock: steady time since boot and QTimer timers.
class SystemClock final : public Clock {
 public:
  Micros now() const override;
  std::unique_ptr<Timer> createTimer() override;
};

}  // namespace tarvex
