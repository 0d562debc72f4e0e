#pragma once

#include <QWidget>
#include <cstdint>
#include <functional>

#include "replay/replay_player.h"

class QComboBox;
class QLabel;
class QPushButton;
class QSlider;

namespace tarvex {

// The player's controls: play/pause, the speed (1x to 20x), a slider over the
// log's time to scrub, and the cursor's time. A window (or the Charts window)
// puts them where it likes; they only drive the player and show what it does.
class ReplayControls : public QWidget {
  Q_OBJECT
 public:
  // `timeText` writes a cursor time as the log does (LogReader::timeText).
  ReplayControls(ReplayPlayer& player, std::function<QString(std::int64_t)> timeText,
                 QWidget* parent = nullptr);

  // The log's time span changed (a new log was loaded into the player).
  void refresh();

  QPushButton* playButton() const { return play_; }
  QComboBox* speedBox() const { return speed_; }
  QSlider* slider() const { return slider_; }
  QLabel* timeLabel() const { return time_; }

 private:
  void showCursor(std::int64_t ms);
  void showPlaying(bool playing);

  ReplayPlayer& player_;
  std::function<QString(std::int64_t)> timeText_;
  QPushButton* play_;
  QComboBox* speed_;
  QSlider* slider_;
  QLabel* time_;
  // The slider counts in steps of this many ms, so that a long log fits an int.
  std::int64_t step_ = 1;
};

}  // namespace tarvex
