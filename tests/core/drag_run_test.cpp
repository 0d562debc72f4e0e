#include "drag/drag_run.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "tests/support/fake_clock.h"

namespace tarvex {
namespace {

using testing::FakeClock;

constexpr double kExact = std::numeric_limits<double>::quiet_NaN();

// What one box must show after a sample: its exact text, or its number to
// within a millionth (relative) where the last digits are the arithmetic's own.
struct Check {
  DragBox box;
  const char* text = nullptr;
  double approx = kExact;
};

struct Step {
  std::uint32_t ticks;
  std::int16_t speed;
  std::vector<Check> checks = {};
};

struct RunCase {
  const char* name;
  std::vector<Step> steps;
  const char* weight = "3450";
};

// Samples at a steady speed every `every` ms, `count` of them, after `from`.
std::vector<Step> cruise(std::uint32_t from, std::uint32_t every, int count, std::int16_t speed) {
  std::vector<Step> steps;
  for (int i = 1; i <= count; ++i) steps.push_back({from + every * std::uint32_t(i), speed});
  return steps;
}

std::vector<Step> join(std::initializer_list<std::vector<Step>> parts) {
  std::vector<Step> all;
  for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

class DragRunTable : public ::testing::TestWithParam<RunCase> {};

TEST_P(DragRunTable, ShowsTheRunSampleBySample) {
  DragBoxTexts boxes;
  FakeClock clock;
  DragRun run(boxes, clock, QLocale::c());
  boxes.setText(DragBox::kWeight, QString::fromLatin1(GetParam().weight));
  int index = 0;
  for (const Step& step : GetParam().steps) {
    run.addSample(step.speed, step.ticks);
    for (const Check& check : step.checks) {
      const QString shown = boxes.text(check.box);
      SCOPED_TRACE(::testing::Message()
                   << "sample " << index << " (" << step.ticks << " ms, " << step.speed << " km/h), box "
                   << dragBoxName(check.box).toStdString() << " shows \"" << shown.toStdString() << "\"");
      if (check.text) {
        EXPECT_EQ(shown, QString::fromLatin1(check.text));
      } else {
        bool ok = false;
        const double value = shown.toDouble(&ok);
        ASSERT_TRUE(ok);
        EXPECT_NEAR(value, check.approx, std::fabs(check.approx) * 1e-6);
      }
    }
    ++index;
  }
}

using B = DragBox;

INSTANTIATE_TEST_SUITE_P(
    Samples, DragRunTable,
    ::testing::Values(
        RunCase{
            "RestartsWhileStandingThenClocksAndIntegrates",
            {{1000, 0, {{B::kET, "0"}, {B::kDistance, "0"}, {B::kSpeed, "0"}}},
             {1150, 10, {{B::kET, "0"}, {B::kDistance, "0"}, {B::kSpeed, "10"}}},
             {1300, 20, {{B::kET, "0.15"}, {B::kDistance, nullptr, 0.000625}, {B::kSpeed, "20"}}},
             {1450, 30, {{B::kET, "0.3"}, {B::kDistance, nullptr, 0.00166666666666667}, {B::kLastET, "0"}}}}},
        RunCase{"SameTickAddsNoDistance",
                {{1000, 0},
                 {1150, 10},
                 {1300, 20},
                 {1300, 40, {{B::kDistance, nullptr, 0.000625}, {B::kSpeed, "40"}}}}},
        RunCase{"HundredReachedAfterTheLastSampleBelow",
                {{1000, 0},
                 {2000, 5},
                 {8300, 90, {{B::kET, "6.3"}, {B::kLastET, "0"}}},
                 {8450, 100, {{B::kLastET, "6.3"}, {B::kET, "6.45"}}},
                 {9000, 130, {{B::kLastET, "6.3"}, {B::kET, "6.45"}}},
                 {9500, 60, {{B::kLastET, "6.3"}, {B::kET, "6.45"}}},
                 {9800, 1, {{B::kLastET, "6.3"}, {B::kET, "6.45"}}}}},
        RunCase{"FirstSampleAlreadyPastHundred",
                {{5000, 120, {{B::kLastET, "0"}, {B::kET, "0"}, {B::kSpeed, "120"}}},
                 {6000, 130, {{B::kET, "0"}, {B::kDistance, nullptr, 0.0347222222222222}}}}},
        RunCase{"JumpFromStandstillToPastHundredKeepsTheOldTime",
                {{1000, 0},
                 {1150, 10},
                 {1300, 20, {{B::kET, "0.15"}}},
                 {1450, 0, {{B::kET, "0.15"}, {B::kDistance, nullptr, 0.00104166666666667}}},
                 {1600, 120, {{B::kLastET, "0.15"}, {B::kET, "0"}, {B::kDistance, "0"}}},
                 {1750, 125, {{B::kET, "0"}}}}},
        RunCase{"PowerFromQuarterTimeAndTrapSpeed",
                {{10000, 0},
                 {10000, 110},
                 {23000, 110, {{B::kQET, "0"}, {B::kETHP, "0"}, {B::kDistance, nullptr, 0.397222222222222}}},
                 {23500,
                  160,
                  {{B::kQET, "13.5"},
                   {B::kTrapSpeed, "160"},
                   {B::kETHP, nullptr, 277.144062452370},
                   {B::kTSHP, nullptr, 264.595415622935},
                   {B::kDistance, nullptr, 0.415972222222222}}}}},
        RunCase{"WeightZeroGivesZeroPower",
                {{10000, 0},
                 {10000, 110},
                 {23000, 110},
                 {23500, 160, {{B::kQET, "13.5"}, {B::kETHP, "0"}, {B::kTSHP, "0"}}}},
                "0"},
        RunCase{"WeightNotANumberGivesNoEstimate",
                {{10000, 0},
                 {10000, 110},
                 {23000, 110},
                 {23500, 160, {{B::kQET, "13.5"}, {B::kTrapSpeed, "160"}, {B::kETHP, ""}, {B::kTSHP, ""}}}},
                "heavy"},
        RunCase{
            "QuarterCoveredBelowHundred",
            join({{{1000, 0}, {1000, 95}},
                  cruise(1000, 1000, 14, 95),
                  {{16000, 95, {{B::kQET, "0"}, {B::kDistance, nullptr, 0.395833333333333}}},
                   {17000,
                    95,
                    {{B::kQET, "16"},
                     {B::kTrapSpeed, "95"},
                     {B::kET, "16"},
                     {B::kETHP, nullptr, 166.474199867249},
                     {B::kTSHP, nullptr, 55.3851304857700}}},
                   {18000, 97, {{B::kET, "17"}, {B::kQET, "16"}, {B::kDistance, nullptr, 0.422222222222222}}},
                   {19000, 99, {{B::kDistance, nullptr, 0.422222222222222}, {B::kTrapSpeed, "95"}}}}})},
        RunCase{"StopRightAtTheLine",
                join({{{1000, 0}, {1000, 95}},
                      cruise(1000, 1000, 15, 95),
                      {{17000,
                        0,
                        {{B::kQET, "16"},
                         {B::kTrapSpeed, "0"},
                         {B::kTSHP, "0"},
                         {B::kETHP, nullptr, 166.474199867249},
                         {B::kDistance, nullptr, 0.409027777777778}}},
                       {17150, 0, {{B::kDistance, "0"}, {B::kQET, "16"}, {B::kTrapSpeed, "0"}}}}})},
        RunCase{"StandstillMidRunLosesTheEarlierTiming",
                {{1000, 0},
                 {1150, 10},
                 {1300, 20, {{B::kET, "0.15"}}},
                 {1450, 0, {{B::kET, "0.15"}}},
                 {1600, 10, {{B::kET, "0"}, {B::kDistance, "0"}}},
                 {1750, 20, {{B::kET, "0.15"}, {B::kDistance, nullptr, 0.000625}}}}},
        RunCase{"TickCounterWraps",
                {{4294967000u, 0},
                 {4294967150u, 10},
                 {4, 20, {{B::kET, "0.15"}, {B::kDistance, nullptr, 0.000625}}},
                 {154, 30, {{B::kET, "0.3"}, {B::kDistance, nullptr, 0.00166666666666667}}}}},
        RunCase{"TickCounterPassesItsSignBoundary",
                {{2147483500u, 0},
                 {2147483600u, 10},
                 {2147483750u, 20, {{B::kET, "0.15"}, {B::kDistance, nullptr, 0.000625}}},
                 {2147483900u, 30, {{B::kET, "0.3"}}}}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(DragRun, QuarterTimeReadBackInTheUsersLocale) {
  DragBoxTexts boxes;
  FakeClock clock;
  DragRun run(boxes, clock, QLocale(QLocale::German, QLocale::Germany));
  for (const auto& [ticks, speed] : {std::pair{10000u, 0}, {10000u, 110}, {23000u, 110}, {23500u, 160}}) {
    run.addSample(std::int16_t(speed), ticks);
  }
  EXPECT_EQ(boxes.text(DragBox::kQET), QStringLiteral("13,5"));
  const QLocale german(QLocale::German, QLocale::Germany);
  EXPECT_NEAR(german.toDouble(boxes.text(DragBox::kETHP)), 277.144062452370, 1e-6);
  EXPECT_NEAR(german.toDouble(boxes.text(DragBox::kTSHP)), 264.595415622935, 1e-6);
}

TEST(DragRun, SpeedBoxEditedIntoTextSkipsOneStepAndRunsOn) {
  DragBoxTexts boxes;
  FakeClock clock;
  DragRun run(boxes, clock, QLocale::c());
  run.addSample(0, 1000);
  run.addSample(10, 1150);
  run.addSample(20, 1300);
  boxes.setText(DragBox::kSpeed, QStringLiteral("fast"));
  run.addSample(30, 1450);  // no previous speed: no distance for this step, no restart
  EXPECT_DOUBLE_EQ(run.runDistance(), 0.000625);
  EXPECT_EQ(boxes.text(DragBox::kET), QStringLiteral("0.3"));
  EXPECT_EQ(boxes.text(DragBox::kSpeed), QStringLiteral("30"));
  run.addSample(40, 1600);
  EXPECT_NEAR(run.runDistance(), 0.000625 + 70 * (150 / 3600000.0 * 0.5), 1e-15);
}

TEST(DragRun, DisplayDecodesTheReplyAndReadsTheTickCounter) {
  DragBoxTexts boxes;
  FakeClock clock;
  DragRun run(boxes, clock, QLocale::c());
  clock.setTickCount(1000);
  run.Display(QStringLiteral(" 00"));
  clock.setTickCount(1150);
  run.Display(QStringLiteral(" 0A"));
  clock.setTickCount(1300);
  run.Display(QStringLiteral(" 3C"));
  EXPECT_EQ(boxes.text(DragBox::kSpeed), QStringLiteral("60"));
  EXPECT_EQ(boxes.text(DragBox::kET), QStringLiteral("0.15"));
}

TEST(DragBoxTexts, StartAsTheWindowIsLaidOut) {
  DragBoxTexts boxes;
  for (int i = 0; i < kDragBoxCount; ++i) {
    const DragBox box = DragBox(i);
    EXPECT_EQ(boxes.text(box), box == DragBox::kWeight ? QStringLiteral("3450") : QStringLiteral("0"))
        << dragBoxName(box).toStdString();
  }
}

}  // namespace
}  // namespace tarvex
