#include "replay/replay_controls.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <limits>

namespace tarvex {

ReplayControls::ReplayControls(ReplayPlayer& player, std::function<QString(std::int64_t)> timeText,
                               QWidget* parent)
    : QWidget(parent),
      player_(player),
      timeText_(std::move(timeText)),
      play_(new QPushButton(tr("Play"), this)),
      speed_(new QComboBox(this)),
      slider_(new QSlider(Qt::Horizontal, this)),
      time_(new QLabel(this)) {
  play_->setObjectName(QStringLiteral("ReplayPlay"));
  speed_->setObjectName(QStringLiteral("ReplaySpeed"));
  slider_->setObjectName(QStringLiteral("ReplaySlider"));
  time_->setObjectName(QStringLiteral("ReplayTime"));
  for (const int factor : {1, 2, 5, 10, 20}) speed_->addItem(QStringLiteral("%1x").arg(factor), factor);
  auto* row = new QHBoxLayout(this);
  row->addWidget(play_);
  row->addWidget(speed_);
  row->addWidget(slider_, 1);
  row->addWidget(time_);

  connect(play_, &QPushButton::clicked, this, [this] {
    if (player_.isPlaying())
      player_.pause();
    else
      player_.play();
  });
  connect(speed_, &QComboBox::currentIndexChanged, this,
          [this](int index) { player_.setSpeed(speed_->itemData(index).toInt()); });
  connect(slider_, &QSlider::valueChanged, this,
          [this](int value) { player_.seek(player_.start() + std::int64_t(value) * step_); });
  connect(&player_, &ReplayPlayer::cursorMoved, this, [this](qint64 ms) { showCursor(ms); });
  connect(&player_, &ReplayPlayer::playingChanged, this, [this](bool playing) { showPlaying(playing); });
  refresh();
}

void ReplayControls::refresh() {
  const std::int64_t span = player_.end() - player_.start();
  step_ = std::max<std::int64_t>(1, span / std::numeric_limits<int>::max() + 1);
  {
    const QSignalBlocker quiet(slider_);
    slider_->setRange(0, int(span / step_));
    slider_->setPageStep(int(std::min<std::int64_t>(10000 / step_ + 1, span / step_ + 1)));
  }
  const QSignalBlocker quiet(speed_);
  speed_->setCurrentIndex(std::max(0, speed_->findData(player_.speed())));
  showCursor(player_.cursor());
  showPlaying(player_.isPlaying());
}

void ReplayControls::showCursor(std::int64_t ms) {
  const QSignalBlocker quiet(slider_);
  slider_->setValue(int((ms - player_.start()) / step_));
  time_->setText(timeText_ ? timeText_(ms) : QString::number(ms));
}

void ReplayControls::showPlaying(bool playing) {
  play_->setText(playing ? tr("Pause") : tr("Play"));
}

}  // namespace tarvex
