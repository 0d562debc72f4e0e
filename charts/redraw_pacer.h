#pragma once

#include <functional>
#include <memory>

#include "core/clock.h"

namespace tarvex {

// Paces live redraws: values may come hundreds of times a second, the chart
// is drawn at most 30 times a second. changed() only notes that there is
// something new and starts the timer when it is not running; the timer asks
// for the redraw. So redraws are at least an interval apart.
class RedrawPacer {
 public:
  static constexpr Millis kInterval{34};  // 29.4 a second

  RedrawPacer(Clock& clock, std::function<void()> redraw);
  void changed();
  // A longer pause between redraws (never shorter than kInterval): a live
  // view ten minutes wide moves by a pixel in well over a tenth of a second,
  // and drawing it more often shows nothing new.
  void setInterval(Millis interval);
  Millis interval() const { return timer_->interval(); }
  bool pending() const { return pending_; }

 private:
  std::unique_ptr<Timer> timer_;
  std::function<void()> redraw_;
  bool pending_ = false;
};

}  // namespace tarvex
