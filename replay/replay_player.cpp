#include "replay/replay_player.h"

#include <algorithm>

namespace tarvex {

namespace {

Micros fromMs(std::int64_t ms) {
  return Micros{ms * 1000};
}

}  // namespace

ReplayPlayer::ReplayPlayer(Clock& clock, QObject* parent)
    : QObject(parent), clock_(clock), timer_(clock.createTimer()) {
  timer_->setSingleShot(true);
  timer_->setCallback([this] { tick(); });
}

ReplayPlayer::~ReplayPlayer() = default;

void ReplayPlayer::setLines(std::span<const std::int64_t> lineTimes) {
  pause();
  times_ = lineTimes;
  line_ = -1;
  cursor_ = fromMs(start());
  if (!times_.empty()) {
    line_ = 0;
    emit lineChanged(line_);
  }
  emit cursorMoved(cursor());
}

std::int64_t ReplayPlayer::cursor() const {
  return cursor_.count() / 1000;
}

void ReplayPlayer::play() {
  if (playing_ || times_.empty()) return;
  // At the end, play starts over.
  if (cursor_ >= fromMs(end())) moveTo(fromMs(start()));
  playing_ = true;
  anchor_ = cursor_;
  anchorAt_ = clock_.now();
  emit playingChanged(true);
  schedule();
}

void ReplayPlayer::pause() {
  timer_->stop();
  if (!playing_) return;
  playing_ = false;
  emit playingChanged(false);
}

void ReplayPlayer::setSpeed(int factor) {
  factor = std::clamp(factor, kSlowest, kFastest);
  if (factor == speed_) return;
  if (playing_) {
    tick();  // the cursor so far at the old speed
    anchor_ = cursor_;
    anchorAt_ = clock_.now();
  }
  speed_ = factor;
  if (playing_) schedule();
}

void ReplayPlayer::seek(std::int64_t ms) {
  if (times_.empty()) return;
  moveTo(fromMs(std::clamp(ms, start(), end())));
  anchor_ = cursor_;
  anchorAt_ = clock_.now();
  if (playing_) schedule();
}

void ReplayPlayer::seekLine(qsizetype line) {
  if (line < 0 || line >= qsizetype(times_.size())) return;
  seek(times_[std::size_t(line)]);
}

void ReplayPlayer::moveTo(Micros cursor) {
  cursor_ = cursor;
  const std::int64_t ms = this->cursor();
  const auto after = std::upper_bound(times_.begin(), times_.end(), ms);
  const qsizetype line = std::max<qsizetype>(0, qsizetype(after - times_.begin()) - 1);
  emit cursorMoved(ms);
  if (line != line_) {
    line_ = line;
    emit lineChanged(line_);
  }
}

void ReplayPlayer::tick() {
  if (!playing_) return;
  const Micros cursor = anchor_ + (clock_.now() - anchorAt_) * speed_;
  if (cursor >= fromMs(end())) {
    moveTo(fromMs(end()));
    pause();
    return;
  }
  moveTo(cursor);
  schedule();
}

void ReplayPlayer::schedule() {
  // Wakes when the next line falls due, or sooner to move the cursor on.
  const auto next = std::upper_bound(times_.begin(), times_.end(), cursor());
  Micros wait = kRefresh;
  if (next != times_.end()) {
    const Micros logTime = fromMs(*next) - cursor_;
    wait = std::min<Micros>(wait, (logTime + Micros{speed_ - 1}) / speed_);
  }
  // Timers count whole milliseconds: rounded up, so that the line is due when it fires.
  timer_->setInterval(std::max(Millis{1}, std::chrono::ceil<Millis>(wait)));
  timer_->start();
}

}  // namespace tarvex
