#include <gtest/gtest.h>

#include <algorithm>

#include "drag/drag_poller.h"
#include "sim/sim_adapter.h"
#include "sim/sim_port.h"
#include "sim/vehicle.h"
#include "tests/support/fake_clock.h"
#include "tests/support/layout_boxes.h"
#include "tests/support/route.h"

namespace tarvex {
namespace {

using namespace std::chrono_literals;

// Keeps the longest gap between samples after `from` (each sample writes Speed).
struct TimedBoxes final : DragBoxes {
  TimedBoxes(const Clock& c, Micros f) : clock(c), from(f) {}
  QString text(DragBox box) const override { return texts.text(box); }
  void setText(DragBox box, const QString& text) override {
    if (box == DragBox::kSpeed) {
      if (clock.now() > from) gap = std::max(gap, clock.now() - last);
      last = clock.now();
    }
    texts.setText(box, text);
  }
  const Clock& clock;
  const Micros from;
  Micros last{0}, gap{0};
  testing::DragBoxTexts texts;
};

// A simulated launch: the run's times are the car's own to within one sample interval.
TEST(DragSimulatedLaunch, TimesMatchTheCarsOwnFigures) {
  testing::FakeClock clock(5s);
  sim::Vehicle car(sim::VehicleConfig{.seed = 7, .idleBeforeDrive = 3000ms, .standStill = 6000ms});
  sim::SimAdapter adapter(car, clock.now());
  sim::SimPortFactory ports(clock, adapter);
  const std::unique_ptr<SerialPort> port = ports.createPort({QStringLiteral("the drag strip window"), false});
  const Micros launch = 5s + car.launchStart(0);
  TimedBoxes boxes(clock, launch);
  const std::unique_ptr<Timer> timer = clock.createTimer();
  DragPoller poller(*port, *timer, clock, boxes, QLocale::c());
  testing::route(*port, *timer, poller.link());

  ASSERT_EQ(poller.start(), std::nullopt);
  ASSERT_LT(clock.now() + 1s, launch);  // polling while the car still stands
  while (!(poller.run().hit100() && poller.run().quarterDone()) && clock.now() < launch + 60s) {
    clock.advance(10ms);
  }
  ASSERT_TRUE(poller.run().hit100() && poller.run().quarterDone());
  ASSERT_TRUE(boxes.gap > 0us && boxes.gap < 150ms);  // no time-outs during the launch

  // The run's clock starts at the first sample that moves.
  Millis firstMoving = car.launchStart(0);
  while (static_cast<std::uint8_t>(car.obdData(0x0D, firstMoving)->at(0)) == 0) firstMoving += 1ms;
  const double late = std::chrono::duration<double>(firstMoving - car.launchStart(0)).count();
  const double tolerance = std::chrono::duration<double>(boxes.gap).count();
  const sim::LaunchFigures expected = car.launchFigures();
  EXPECT_NEAR(boxes.text(DragBox::kET).toDouble(), expected.zeroTo100Seconds - late, tolerance);
  EXPECT_NEAR(boxes.text(DragBox::kQET).toDouble(), expected.quarterMileSeconds - late, tolerance);
  EXPECT_NEAR(boxes.text(DragBox::kTrapSpeed).toDouble(), expected.trapSpeedKmh, 3);
}

}  // namespace
}  // namespace tarvex
