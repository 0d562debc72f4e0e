#include "charts/redraw_pacer.h"

#include <algorithm>

namespace tarvex {

RedrawPacer::RedrawPacer(Clock& clock, std::function<void()> redraw)
    : timer_(clock.createTimer()), redraw_(std::move(redraw)) {
  timer_->setInterval(kInterval);
  timer_->setSingleShot(true);
  timer_->setCallback([this] {
    if (!pending_) return;
    pending_ = false;
    redraw_();
  });
}

void RedrawPacer::setInterval(Millis interval) {
  timer_->setInterval(std::max(interval, kInterval));
}

void RedrawPacer::changed() {
  pending_ = true;
  if (!timer_->isActive()) timer_->start();
}

}  // namespace tarvex
