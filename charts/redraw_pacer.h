#pragma once

#include <functional>
#include <memory>

#include "link/clock.h"

namespace tarvex {

// Paces live redraws: values may come hundreds of times a second, the chart
// is drawn at most 30 times a second. changed() only notes that there is
// something new; a timer asks for the redraw, and never sooner than an
// interval after the one before.
class RedrawPacer {
 public:
  static constexpr Millis kInterval{34};  // 29.4 a second

  RedrawPacer(Clock& clock, std::function<void()> redraw);
  void changed();
  bool pending() const { return pending_; }

 private:
  std::unique_ptr<Timer> timer_;
  std::function<void()> redraw_;
  bool pending_ = false;
};

}  // namespace tarvex
