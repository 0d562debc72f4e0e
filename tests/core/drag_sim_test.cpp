#include <gtest/gtest.h>

#include <algorithm>

#include "drag/drag_poller.h"
#include "sim/sim_adapter.h"
#include "sim/sim_port.h"
#include "sim/vehicle.h"
#include "tests/support/fake_clock.h"

namespace tarvex {
namespace {

using namespace std::chrono_literals;
using testing::FakeClock;

// The boxes, with the moment of every sample (each sample writes Speed).
class TimedBoxes final : public DragBoxes {
 public:
  explicit TimedBoxes(const Clock& clock) : clock_(clock) {}
  QString text(DragBox box) const override { return texts_.text(box); }
  void setText(DragBox box, const QString& text) override {
    if (box == DragBox::kSpeed) sampleTimes.push_back(clock_.now());
    texts_.setText(box, text);
  }
  std::vector<Micros> sampleTimes;

 private:
  const Clock& clock_;
  DragBoxTexts texts_;
};

double seconds(Micros t) {
  return std::chrono::duration<double>(t).count();
}

// A launch of the simulated car, polled over the simulated adapter at 9600
// baud: the run's 0-100 and quarter-mile times agree with the car's own
// figures to within one sample interval.
TEST(DragSimulatedLaunch, TimesMatchTheCarsOwnFigures) {
  FakeClock clock(Micros{5'000'000});
  sim::Vehicle car(sim::VehicleConfig{.seed = 7, .idleBeforeDrive = 3000ms, .standStill = 6000ms});
  const Micros engineStart = clock.now();
  sim::SimAdapter adapter(car, engineStart);
  sim::SimPortFactory ports(clock, adapter);
  const std::unique_ptr<SerialPort> port = ports.createPort(false);
  TimedBoxes boxes(clock);
  DragPoller poller(*port, clock, boxes, QLocale::c());

  ASSERT_EQ(poller.pb_Start_Click(), std::nullopt);
  const Micros launch = engineStart + car.launchStart(0);
  ASSERT_LT(clock.now() + 1s, launch);  // polling while the car still stands
  while (!(poller.run().hit100() && poller.run().quarterDone()) && clock.now() < launch + 60s) {
    clock.advance(10ms);
  }
  ASSERT_TRUE(poller.run().hit100());
  ASSERT_TRUE(poller.run().quarterDone());

  // The longest gap between two samples of the launch.
  Micros gap{0};
  for (std::size_t i = 1; i < boxes.sampleTimes.size(); ++i) {
    if (boxes.sampleTimes[i] > launch) gap = std::max(gap, boxes.sampleTimes[i] - boxes.sampleTimes[i - 1]);
  }
  ASSERT_GT(gap, 0us);
  ASSERT_LT(gap, 150ms);  // the polling kept up: no time-outs in the launch

  // The run's clock starts at the first sample that moves: the car's figures
  // counted from the moment its reported speed first leaves 0.
  Millis firstMoving = car.launchStart(0);
  while (static_cast<std::uint8_t>(car.obdData(0x0D, firstMoving)->at(0)) == 0) firstMoving += 1ms;
  const double late = seconds(firstMoving - car.launchStart(0));
  const sim::LaunchFigures expected = car.launchFigures();
  const double et = boxes.text(DragBox::kET).toDouble();
  const double qet = boxes.text(DragBox::kQET).toDouble();
  SCOPED_TRACE(::testing::Message() << "sample gap " << seconds(gap) << " s, moving after " << late
                                    << " s; ET " << et << " vs " << expected.zeroTo100Seconds << "; QET "
                                    << qet << " vs " << expected.quarterMileSeconds);
  EXPECT_NEAR(et, expected.zeroTo100Seconds - late, seconds(gap));
  EXPECT_NEAR(qet, expected.quarterMileSeconds - late, seconds(gap));
  EXPECT_NEAR(boxes.text(DragBox::kTrapSpeed).toDouble(), expected.trapSpeedKmh, 3);
}

}  // namespace
}  // namespace tarvex
