#pragma once

#include <QObject>
#include <cstdint>
#include <memory>
#include <span>

#include "core/clock.h"

namespace tarvex {

// A time cursor over a loaded log: it plays the log's lines at their own
// pace (by each line's time), faster when asked, and can be put anywhere.
// The line under the cursor is the last line whose time is not after it.
// Driven by the clock's timers, so tests play a log on fake time.
class ReplayPlayer : public QObject {
  Q_OBJECT
 public:
  static constexpr int kSlowest = 1;
  static constexpr int kFastest = 20;

  explicit ReplayPlayer(Clock& clock, QObject* parent = nullptr);
  ~ReplayPlayer() override;

  // The lines' times in ms, never decreasing; the player holds the view,
  // whose owner (the log reader) must outlive it or give it another.
  // Pauses and puts the cursor on the first line.
  void setLines(std::span<const std::int64_t> lineTimes);

  void play();
  void pause();
  bool isPlaying() const { return playing_; }
  // 1x (as recorded) to 20x; other values are held to that range.
  void setSpeed(int factor);
  int speed() const { return speed_; }
  // Puts the cursor at a time (held to the log's first and last), playing on
  // from there if it played.
  void seek(std::int64_t ms);
  void seekLine(qsizetype line);

  std::int64_t cursor() const;
  qsizetype line() const { return line_; }  // -1 when there are no lines
  std::int64_t start() const { return times_.empty() ? 0 : times_.front(); }
  std::int64_t end() const { return times_.empty() ? 0 : times_.back(); }

 signals:
  void lineChanged(qsizetype line);
  // Told as the cursor moves while playing (at least ten times a second),
  // and on every seek.
  void cursorMoved(qint64 ms);
  void playingChanged(bool playing);

 private:
  // How often the cursor is told while playing between two lines.
  static constexpr Millis kRefresh{100};

  void tick();
  void moveTo(Micros cursor);
  void schedule();

  Clock& clock_;
  std::unique_ptr<Timer> timer_;
  std::span<const std::int64_t> times_;
  bool playing_ = false;
  int speed_ = 1;
  // While playing the cursor is anchor + (now - anchorAt) * speed.
  Micros anchor_{0};
  Micros anchorAt_{0};
  Micros cursor_{0};
  qsizetype line_ = -1;
};

}  // namespace tarvex
