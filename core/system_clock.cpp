#include <QThread>
#include <QTimer>

#include "core/clock.h"

namespace tarvex {

namespace {

class QtTimer final : public Timer {
 public:
  QtTimer() {
    timer_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer_, &QTimer::timeout, [this] { fire(); });
  }
  void setInterval(Millis interval) override { timer_.setInterval(interval); }
  Millis interval() const override { return timer_.intervalAsDuration(); }
  void setSingleShot(bool singleShot) override { timer_.setSingleShot(singleShot); }
  void start() override { timer_.start(); }
  void stop() override { timer_.stop(); }
  bool isActive() const override { return timer_.isActive(); }

 private:
  QTimer timer_;
};

}  // namespace

Micros SystemClock::now() const {
  return std::chrono::duration_cast<Micros>(std::chrono::steady_clock::now().time_since_epoch());
}

std::unique_ptr<Timer> SystemClock::createTimer() {
  return std::make_unique<QtTimer>();
}

}  // namespace tarvex
