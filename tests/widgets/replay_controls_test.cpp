#include "replay/replay_controls.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSlider>

#include "tests/support/fake_clock.h"

namespace tarvex {
namespace {

TEST(ReplayControls, DriveThePlayerAndFollowItsCursor) {
  testing::FakeClock clock;
  ReplayPlayer player(clock);
  const std::vector<std::int64_t> times{10000, 11000, 12000, 13000, 14000, 15000};
  player.setLines(times);
  ReplayControls controls(player, [](std::int64_t ms) { return QStringLiteral("t=%1").arg(ms); });
  EXPECT_EQ(controls.slider()->maximum(), 5000);
  EXPECT_EQ(controls.timeLabel()->text(), QStringLiteral("t=10000"));

  controls.playButton()->click();
  EXPECT_TRUE(player.isPlaying());
  EXPECT_EQ(controls.playButton()->text(), QStringLiteral("Pause"));
  clock.advance(Millis{1500});
  EXPECT_EQ(controls.slider()->value(), 1500);
  EXPECT_EQ(controls.timeLabel()->text(), QStringLiteral("t=11500"));

  controls.speedBox()->setCurrentIndex(controls.speedBox()->findText(QStringLiteral("10x")));
  EXPECT_EQ(player.speed(), 10);
  clock.advance(Millis{200});
  EXPECT_EQ(player.line(), 3);

  controls.slider()->setValue(1000);
  EXPECT_EQ(player.cursor(), 11000);
  EXPECT_EQ(player.line(), 1);
  controls.playButton()->click();
  EXPECT_FALSE(player.isPlaying());
  EXPECT_EQ(controls.playButton()->text(), QStringLiteral("Play"));
  QStringList speeds;
  for (int i = 0; i < controls.speedBox()->count(); ++i) speeds.append(controls.speedBox()->itemText(i));
  EXPECT_EQ(speeds, (QStringList{"1x", "2x", "5x", "10x", "20x"}));
}

// A log of a month still fits the slider, and its end is reachable.
TEST(ReplayControls, LongLogFitsTheSlider) {
  testing::FakeClock clock;
  ReplayPlayer player(clock);
  const std::int64_t month = 31LL * 24 * 3600 * 1000;
  const std::vector<std::int64_t> times{0, month / 2, month};
  player.setLines(times);
  ReplayControls controls(player, {});
  controls.slider()->setValue(controls.slider()->maximum());
  EXPECT_EQ(player.line(), 2);
  controls.slider()->setValue(controls.slider()->maximum() / 2);
  EXPECT_EQ(player.line(), 1);
}

}  // namespace
}  // namespace tarvex
