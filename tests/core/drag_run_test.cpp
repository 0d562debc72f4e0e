#include "drag/drag_run.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QRegularExpression>
#include <cmath>
#include <optional>

#include "tests/support/fake_clock.h"
#include "tests/support/layout_boxes.h"

namespace tarvex {
namespace {

TEST(DragRun, ShowsTheRunSampleBySample) {
  QFile file(QStringLiteral(TARVEX_TEST_DATA "/drag_runs.txt"));
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  testing::FakeClock clock;
  std::optional<testing::DragBoxTexts> boxes;
  std::optional<DragRun> run;
  int samples = 0;
  for (const QString& line : QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts)) {
    const QStringList f = line.split(u' ', Qt::SkipEmptyParts);
    if (line.startsWith(u'#')) continue;
    if (f[0] == QStringLiteral("run")) {
      boxes.emplace();
      boxes->setText(DragBox::kWeight, f[1]);
      run.emplace(*boxes, clock, QLocale::c());
      continue;
    }
    run->addSample(std::int16_t(f[1].toInt()), f[0].toUInt());
    ++samples;
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
  EXPECT_GT(samples, 40);
}

}  // namespace
}  // namespace tarvex
