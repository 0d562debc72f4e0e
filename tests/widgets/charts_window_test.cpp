#include "charts/charts_window.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QListWidget>
#include <QTemporaryDir>
#include <QWheelEvent>
#include <cmath>

#include "tests/support/window_rig.h"

namespace tarvex {
namespace {

using namespace std::chrono_literals;

struct ChartsWindowTest : ::testing::Test, testing::WindowRig {
  ChartsWindowTest() {
    // A minute of values, each channel its own wave.
    for (int i = 0; i < 600; ++i) {
      const Micros at = start + Millis{i * 100};
      live.add(rpm, at, 2000 + 1000 * std::sin(i / 20.0));
      live.add(speed, at, 60 + 40 * std::cos(i / 15.0));
      live.add(ect, at, 80 + 10 * std::sin(i / 30.0));
    }
  }
  void settle() {
    clock.advance(RedrawPacer::kInterval);
    QApplication::processEvents();
  }
  // Two seconds of one value every 2 ms, from `from`.
  void feed(Micros from) {
    for (int i = 0; i < 1000; ++i) {
      live.add(rpm, from + Millis{2 * i}, 3000);
      clock.advance(2ms);
    }
    settle();
  }

  Micros start = 100s;
  Readings live;
  ChartsWindow window{live, clock, files, reporter};
  int rpm = live.channel(QStringLiteral("RPM"), QStringLiteral("Engine speed"), QStringLiteral("rpm"));
  int speed = live.channel(QStringLiteral("Speed"), QStringLiteral("Road speed"), QStringLiteral("km/h"));
  int ect = live.channel(QStringLiteral("ECT"), QStringLiteral("Coolant"), QStringLiteral("C"));
};

TEST_F(ChartsWindowTest, ShowsALaneForEveryChosenChannelAndExportsTheShownRange) {
  window.resize(900, 600);
  window.show();
  // Ticking in the list chooses; lanes keep the list's order.
  auto* list = window.findChild<QListWidget*>();
  ASSERT_NE(list, nullptr);
  ASSERT_EQ(list->count(), 3);
  EXPECT_EQ(list->item(2)->text(), QStringLiteral("Coolant \u00B7 ECT (C)"));
  window.setShownChannels({});
  list->item(2)->setCheckState(Qt::Checked);
  list->item(0)->setCheckState(Qt::Checked);
  EXPECT_EQ(window.shownChannels(), (QStringList{QStringLiteral("RPM"), QStringLiteral("ECT")}));
  settle();
  // Rows of each half of the plot that hold the line's colour.
  const QImage image = window.plot()->grab().toImage();
  QList<int> rows(2, 0);
  const int usable = image.height() - 22;
  for (int y = 0; y < usable; ++y)
    for (int x = 70; x < image.width() - 12; ++x)
      if (const QColor c = image.pixelColor(x, y); c.blue() > 150 && c.red() < 120) {
        ++rows[std::min(1, y * 2 / usable)];
        break;
      }
  for (const int lane : rows) EXPECT_GT(lane, 40);

  // The shown range exported, as text and as the picture.
  QTemporaryDir dir;
  window.setShownChannels({QStringLiteral("Speed")});
  settle();
  window.resetZoom();
  const QString csvPath = dir.filePath(QStringLiteral("a.csv"));
  const QString pngPath = dir.filePath(QStringLiteral("a.png"));
  files.answers = {csvPath, pngPath, std::nullopt};
  EXPECT_TRUE(window.exportCsv());
  EXPECT_TRUE(window.exportPng());
  EXPECT_FALSE(window.exportCsv()) << "cancelled";
  QStringList extensions;
  for (const QString& asked : files.asked) extensions << asked.section(u';', 2, 2);
  EXPECT_EQ(extensions, (QStringList{"csv", "png", "csv"}));
  const QList<QByteArray> lines = testing::contents(csvPath).split('\n');
  EXPECT_EQ(lines.first(), "Time (s),Speed (km/h)\r");
  EXPECT_EQ(lines.size(), 602);  // header, 600 lines, nothing after the last line end
  EXPECT_EQ(lines[1], "0.000,100\r");
  const QImage png(pngPath, "PNG");
  EXPECT_EQ(png.size(), window.plot()->size());
  files.answers = {dir.filePath(QStringLiteral("no/such/dir/b.csv"))};
  EXPECT_FALSE(window.exportCsv());
  ASSERT_EQ(told.size(), 1);
  EXPECT_TRUE(told[0].contains(QStringLiteral("no/such/dir/b.csv")));
}

TEST_F(ChartsWindowTest, FollowsLiveValuesAtAPacedRate) {
  window.setShownChannels({QStringLiteral("RPM")});
  settle();
  EXPECT_TRUE(window.view().following());
  EXPECT_EQ(window.view().from(), 0);  // the first value, not minutes before it
  EXPECT_EQ(window.view().to(), TimeView::kDefaultSpanMs);
  const int before = window.redrawRequests();
  feed(start + 60s);
  const int redraws = window.redrawRequests() - before;
  // A pixel is over a second of ten minutes, yet the newest value is drawn four times a second.
  EXPECT_TRUE(redraws >= 6 && redraws <= 9) << redraws;
  EXPECT_EQ(window.view().from(), 0);

  // Zoomed in, the view stays put, redrawn up to 30 times a second; a reset follows again.
  const QPointF at(window.plot()->width() / 2.0, 50);
  QWheelEvent up(at, window.plot()->mapToGlobal(at), QPoint(), QPoint(0, 600), Qt::NoButton, Qt::NoModifier,
                 Qt::NoScrollPhase, false);
  QApplication::sendEvent(window.plot(), &up);
  EXPECT_FALSE(window.view().following());
  EXPECT_LT(window.view().span(), TimeView::kDefaultSpanMs);
  const std::int32_t zoomedTo = window.view().to();
  const int zoomed = window.redrawRequests();
  feed(start + 62s);
  const int zoomedRedraws = window.redrawRequests() - zoomed;
  EXPECT_TRUE(zoomedRedraws >= 40 && zoomedRedraws <= 61) << zoomedRedraws;
  live.add(rpm, start + 12min, 1);
  settle();
  EXPECT_EQ(window.view().to(), zoomedTo);
  window.resetZoom();
  EXPECT_TRUE(window.view().following());
  EXPECT_EQ(window.view().to(), 720'000);
}

TEST_F(ChartsWindowTest, CursorReadsOutEveryLane) {
  window.setShownChannels({QStringLiteral("RPM"), QStringLiteral("Speed")});
  live.add(rpm, start + 70s, 1234);
  live.add(speed, start + 70s, 60);
  live.add(speed, start + 71s, 55);
  window.setCursorTime(70'500);
  EXPECT_EQ(window.readout(), (QStringList{QStringLiteral("RPM 1234 rpm"), QStringLiteral("Speed 60 km/h")}));
  // In the units chosen, the label from the same conversion as the number: 60 / 1.609344.
  window.setUnits(UnitChoice::us());
  EXPECT_EQ(window.readout(),
            (QStringList{QStringLiteral("RPM 1234 rpm"), QStringLiteral("Speed 37.2823 mph")}));
  EXPECT_EQ(window.findChild<QListWidget*>()->item(1)->text(),
            QStringLiteral("Road speed \u00B7 Speed (mph)"));
  window.setCursorTime(-1);
  EXPECT_EQ(window.readout(), (QStringList{QStringLiteral("RPM -"), QStringLiteral("Speed -")}));
}

TEST_F(ChartsWindowTest, DragRunWithItsMarks) {
  Readings run;
  const int v = run.channel(QStringLiteral("Speed"), QStringLiteral("Road speed"), QStringLiteral("km/h"));
  const Micros go = 50s;
  for (int i = 0; i <= 160; ++i) run.add(v, go + Millis{100 * i}, i);
  window.showRun(run, go + 7100ms, go + 15200ms);
  EXPECT_TRUE(window.showingRun());
  EXPECT_EQ(window.shownChannels(), QStringList{QStringLiteral("Speed")});
  ASSERT_EQ(window.marks().size(), 2);
  EXPECT_EQ(window.marks()[0].ms, 7100);
  EXPECT_EQ(window.marks()[0].label, QStringLiteral("100 km/h 7.10 s"));
  EXPECT_EQ(window.marks()[1].ms, 15200);
  EXPECT_FALSE(window.view().following());
  EXPECT_EQ(window.view().from(), 0);
  EXPECT_GE(window.view().to(), 16000);
  // New live values do not disturb the run.
  live.add(rpm, start + 10min, 1);
  settle();
  EXPECT_EQ(window.view().from(), 0);
  window.showLive();
  EXPECT_FALSE(window.showingRun());
  EXPECT_TRUE(window.marks().isEmpty());
  EXPECT_EQ(window.view().to(), 600'000);
}

}  // namespace
}  // namespace tarvex
