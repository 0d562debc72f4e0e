#include "replay/replay_player.h"

#include <gtest/gtest.h>

#include "tests/support/fake_clock.h"

namespace tarvex {
namespace {

using testing::FakeClock;

struct PlayerRig {
  FakeClock clock;
  ReplayPlayer player{clock};
  std::vector<qsizetype> lines;
  std::vector<bool> playing;
  // A line a second from 1000 ms, with two lines at the same time (5000).
  std::vector<std::int64_t> times{1000, 2000, 3000, 4000, 5000, 5000, 6000, 7000, 8000, 9000};

  PlayerRig() {
    QObject::connect(&player, &ReplayPlayer::lineChanged, [this](qsizetype line) { lines.push_back(line); });
    QObject::connect(&player, &ReplayPlayer::playingChanged, [this](bool on) { playing.push_back(on); });
    player.setLines(times);
  }
  std::int64_t whenLineIs(qsizetype line) {
    for (int ms = 0; ms < 20000; ++ms) {
      if (player.line() >= line) return ms;
      clock.advance(Millis{1});
    }
    return -1;
  }
};

// Each line comes exactly when its time has passed at the speed; of two at one time, the last.
TEST(ReplayPlayer, PlaysEachLineWhenItsTimeComesAtEverySpeed) {
  // At a speed, the line and the ms of fake time it comes at.
  const std::tuple<int, qsizetype, std::int64_t> cases[] = {
      {1, 1, 1000}, {1, 3, 3000}, {1, 5, 4000}, {10, 3, 300}, {10, 9, 800}, {20, 2, 100}, {5, 6, 1000}};
  for (const auto& [speed, line, at] : cases) {
    PlayerRig rig;
    rig.player.setSpeed(speed);
    rig.player.play();
    EXPECT_EQ(rig.whenLineIs(line), at) << speed;
    EXPECT_EQ(rig.player.line(), line) << speed;
  }
  PlayerRig rig;
  rig.player.play();
  rig.clock.advance(Millis{4500});
  EXPECT_EQ(rig.lines, (std::vector<qsizetype>{0, 1, 2, 3, 5}));
  EXPECT_EQ(rig.player.cursor(), 5500);
}

// Pause holds the cursor; a speed counts from the cursor; the end stops, and play starts over.
TEST(ReplayPlayer, PauseHoldsSpeedChangesOnTheWayAndTheEndStops) {
  PlayerRig rig;
  rig.player.play();
  rig.clock.advance(Millis{1500});
  rig.player.pause();
  rig.clock.advance(Millis{60000});
  EXPECT_EQ(std::pair(rig.player.line(), rig.player.cursor()), std::pair(qsizetype(1), std::int64_t(2500)));
  rig.player.play();
  rig.clock.advance(Millis{500});
  rig.player.setSpeed(10);  // at 3000
  rig.clock.advance(Millis{200});
  EXPECT_EQ(std::pair(rig.player.line(), rig.player.cursor()), std::pair(qsizetype(5), std::int64_t(5000)));
  rig.player.setSpeed(99);
  EXPECT_EQ(rig.player.speed(), ReplayPlayer::kFastest);
  rig.clock.advance(Millis{10000});
  EXPECT_EQ(std::pair(rig.player.line(), rig.player.isPlaying()), std::pair(qsizetype(9), false));
  EXPECT_EQ(rig.playing, (std::vector<bool>{true, false, true, false}));
  rig.player.play();
  EXPECT_EQ(rig.player.line(), 0);
}

TEST(ReplayPlayer, SeekMovesTheCursorAndPlayGoesOnFromThere) {
  PlayerRig rig;
  rig.player.seek(4500);
  EXPECT_EQ(rig.player.line(), 3);
  rig.player.seek(-5);
  EXPECT_EQ(std::pair(rig.player.line(), rig.player.cursor()), std::pair(qsizetype(0), std::int64_t(1000)));
  rig.player.seek(1 << 30);
  EXPECT_EQ(rig.player.cursor(), 9000);
  rig.player.seekLine(6);
  EXPECT_EQ(rig.player.cursor(), 6000);
  rig.player.play();
  rig.clock.advance(Millis{999});
  EXPECT_EQ(rig.player.line(), 6);
  rig.clock.advance(Millis{1});
  EXPECT_EQ(rig.player.line(), 7);
  rig.player.seek(2000);
  rig.clock.advance(Millis{1000});
  EXPECT_EQ(std::pair(rig.player.line(), rig.player.isPlaying()), std::pair(qsizetype(2), true));
}

}  // namespace
}  // namespace tarvex
