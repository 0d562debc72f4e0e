#include "charts/redraw_pacer.h"

namespace tarvex {

RedrawPacer::RedrawPacer(Clock& clock, std::function<void()> redraw)
    : timer_(clock.createTimer()), redraw_(std::move(redraw)) {
  timer_->setInterval(kInterval);
  timer_->setSingleShot(true);
  timer_->setCallback([this] {
    if (!pending_) return;
    pending_ = false;
    // The next redraw waits a whole interval from this one.
    timer_->start();
    redraw_();
  });
}

void RedrawPacer::changed() {
  pending_ = true;
  if (!timer_->isActive()) timer_->start();
}

}  // namespace tarvex
