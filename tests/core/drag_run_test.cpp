#include "drag/drag_run.h"

#include <gtest/gtest.h>

#include <QRegularExpression>
#include <cmath>

#include "tests/core/data_rows.h"
#include "tests/support/fake_clock.h"
#include "tests/support/layout_boxes.h"

namespace tarvex {
namespace {

TEST(DragRun, ShowsTheRunSampleBySample) {
  testing::FakeClock clock;
  std::optional<testing::DragBoxTexts> boxes;
  std::optional<DragRun> run;
  for (const QStringList& row : testing::dataRows("drag_runs.txt")) {
    const QString& line = row[0];
    const QStringList f = line.split(u' ', Qt::SkipEmptyParts);
    if (f[0] == QStringLiteral("run")) {
      boxes.emplace();
      boxes->setText(DragBox::kWeight, f[1]);
      run.emplace(*boxes, clock, QLocale::c());
      continue;
    }
    run->addSample(std::int16_t(f[1].toInt()), f[0].toUInt());
    for (const QString& check : f.mid(2)) {
      const qsizetype at = check.indexOf(QRegularExpression(QStringLiteral("[=~]")));
      int box = 0;
      while (box < kDragBoxCount && dragBoxName(DragBox(box)) != check.left(at)) ++box;
      ASSERT_LT(box, kDragBoxCount) << check.toStdString();
      const QString shown = boxes->text(DragBox(box)), want = check.mid(at + 1);
      EXPECT_TRUE(check[at] == u'=' ? shown == want
                                    : std::abs(shown.toDouble() - want.toDouble()) <= want.toDouble() * 1e-6)
          << line.toStdString() << ": " << check.toStdString() << ", shown \"" << shown.toStdString() << '"';
    }
  }
}

// A run given up before the quarter mile does not replace, in the charts, the last one that reached it.
TEST(DragRun, LastRunIsTheLastCompletedOne) {
  testing::FakeClock clock;
  testing::DragBoxTexts boxes;
  boxes.setText(DragBox::kWeight, QStringLiteral("1500"));
  DragRun run(boxes, clock, QLocale::c());
  std::uint32_t ticks = 0;
  const auto drive = [&](std::initializer_list<int> speeds) {
    for (const int speed : speeds) run.addSample(std::int16_t(speed), ticks += 1000);
  };
  // 150 km/h covers the quarter mile (402 m) in under 10 s.
  drive({0, 50, 100, 150, 150, 150, 150, 150, 150, 150, 150, 150, 150, 150, 100, 0});
  ASSERT_TRUE(run.quarterAt().has_value());
  const std::vector<float> completed = run.lastRun().series(0).values;
  drive({0, 30, 60, 30, 0});  // given up
  drive({0, 20});             // the next one under way
  EXPECT_EQ(run.lastRun().series(0).values, completed);
  EXPECT_EQ(run.hundredAt(), Micros{Millis{1000}});  // timed from the first sample that moved
  EXPECT_TRUE(run.quarterAt().has_value());
}

}  // namespace
}  // namespace tarvex
