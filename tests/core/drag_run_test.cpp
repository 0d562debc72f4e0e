#include "drag/drag_run.h"

#include <gtest/gtest.h>

#include <QRegularExpression>
#include <cmath>

#include "tests/support/fake_clock.h"
#include "tests/support/layout_boxes.h"

namespace tarvex {
namespace {

// After a sample, each "Box=text" is shown exactly and each "Box~number" to a millionth.
struct Step {
  std::uint32_t ticks;
  std::int16_t speed;
  const char* checks = "";
};
struct RunCase {
  std::vector<Step> steps;
  const char* weight = "3450";
};

TEST(DragRun, ShowsTheRunSampleBySample) {
  const RunCase cases[] = {
      {{{1000, 0, "ET=0 Distance=0"},
        {1150, 10, "ET=0 Distance=0 Speed=10"},
        {1300, 20, "ET=0.15 Distance~0.000625"},
        {1450, 30, "ET=0.3 Distance~0.00166666666666667 LastET=0"},
        {1600, 0, "ET=0.3 Distance~0.00229166666666667"},
        {1750, 10, "ET=0 Distance=0"},
        {1900, 20, "ET=0.15 Distance~0.000625"}}},
      {{{1000, 0},
        {2000, 5},
        {8300, 90, "ET=6.3 LastET=0"},
        {8450, 100, "LastET=6.3 ET=6.45"},
        {9800, 1, "LastET=6.3 ET=6.45"}}},
      {{{5000, 120, "LastET=0 ET=0 Speed=120"}, {6000, 130, "ET=0 Distance~0.0347222222222222"}}},
      {{{10000, 0},
        {10000, 110},
        {23000, 110, "QET=0 ETHP=0 Distance~0.397222222222222"},
        {23500, 160, "QET=13.5 TrapSpeed=160 ETHP~277.144062452370 TSHP~264.595415622935"}}},
      {{{10000, 0}, {10000, 110}, {23000, 110}, {23500, 160, "QET=13.5 ETHP= TSHP="}}, "0"},
      {{{10000, 0}, {10000, 110}, {23000, 110}, {23500, 160, "QET=13.5 ETHP= TSHP="}}, "-3450"},
      {{{10000, 0}, {10000, 110}, {23000, 110}, {23500, 160, "QET=13.5 ETHP= TSHP="}}, "heavy"},
      {{{1000, 0},
        {1000, 95},
        {16000, 95, "QET=0 Distance~0.395833333333333"},
        {17000, 95, "QET=16 TrapSpeed=95 ETHP~166.474199867249 TSHP~55.3851304857700"},
        {18000, 97, "ET=17 QET=16 TrapSpeed=95 Distance~0.422222222222222"}}},
      {{{1000, 0},
        {1000, 95},
        {16000, 95},
        {17000, 0, "QET=16 TrapSpeed=0 TSHP=0 Distance~0.409027777777778"},
        {17150, 0, "Distance=0 QET=16"}}},
      {{{4294967000u, 0}, {4294967150u, 10}, {4, 20, "ET=0.15 Distance~0.000625"}, {154, 30, "ET=0.3"}}},
      {{{2147483500u, 0},
        {2147483600u, 10},
        {2147483750u, 20, "ET=0.15 Distance~0.000625"},
        {2147483900u, 30, "ET=0.3"}}},
  };
  for (const RunCase& c : cases) {
    testing::DragBoxTexts boxes;
    testing::FakeClock clock;
    DragRun run(boxes, clock, QLocale::c());
    boxes.setText(DragBox::kWeight, QString::fromLatin1(c.weight));
    for (const Step& step : c.steps) {
      run.addSample(step.speed, step.ticks);
      for (const QString& check : QString::fromLatin1(step.checks).split(u' ', Qt::SkipEmptyParts)) {
        const qsizetype at = check.indexOf(QRegularExpression(QStringLiteral("[=~]")));
        int box = 0;
        while (box < kDragBoxCount && dragBoxName(DragBox(box)) != check.left(at)) ++box;
        ASSERT_LT(box, kDragBoxCount) << check.toStdString();
        const QString shown = boxes.text(DragBox(box)), want = check.mid(at + 1);
        SCOPED_TRACE(::testing::Message() << step.ticks << " ms: " << check.toStdString() << ", shown \""
                                          << shown.toStdString() << "\"");
        EXPECT_TRUE(check[at] == u'='
                        ? shown == want
                        : std::abs(shown.toDouble() - want.toDouble()) <= want.toDouble() * 1e-6);
      }
    }
  }
}

}  // namespace
}  // namespace tarvex
