#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <map>
#include <random>

#include "charts/chart_data.h"
#include "charts/decimate.h"
#include "charts/redraw_pacer.h"
#include "charts/time_view.h"
#include "tests/support/fake_clock.h"

namespace tarvex {
namespace {

using namespace std::chrono_literals;
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

struct DecimateCase {
  const char* name;
  std::vector<std::int32_t> ms;
  std::vector<float> values;
  std::int32_t from, to;
  int columns;
};

// Each column's extremes, found the slow way (a point's column by division), must be kept.
void expectExtremesKept(const DecimateCase& c, const std::vector<PlotPoint>& out) {
  const std::int64_t span = std::max<std::int64_t>(1, std::int64_t(c.to) - c.from);
  std::map<std::int64_t, std::vector<std::size_t>> columns;  // the points inside, by column
  for (std::size_t i = 0; i < c.ms.size(); ++i)
    if (c.ms[i] >= c.from && c.ms[i] <= c.to && !std::isnan(c.values[i]))
      columns[std::min<std::int64_t>(c.columns - 1, (c.ms[i] - c.from) * c.columns / span)].push_back(i);
  const auto byValue = [&](std::size_t a, std::size_t b) { return c.values[a] < c.values[b]; };
  const auto kept = [&](std::size_t i) {
    return std::any_of(out.begin(), out.end(),
                       [&](const PlotPoint& p) { return p.ms == c.ms[i] && p.value == c.values[i]; });
  };
  for (const auto& [col, inside] : columns) {
    const auto [low, high] = std::pair(std::min_element(inside.begin(), inside.end(), byValue),
                                       std::max_element(inside.begin(), inside.end(), byValue));
    EXPECT_TRUE(kept(*low) && kept(*high)) << c.name << ": column " << col;
  }
  for (std::size_t i = 1; i < out.size(); ++i)
    EXPECT_LE(out[i - 1].ms, out[i].ms) << c.name << ": time order";
  // Two a column, the neighbours and the breaks.
  const auto breaks =
      std::count_if(out.begin(), out.end(), [](const PlotPoint& p) { return std::isnan(p.value); });
  EXPECT_LE(out.size() - std::size_t(breaks), std::size_t(2 * c.columns + 2)) << c.name;
}

std::vector<std::int32_t> times(std::int32_t n, std::int32_t step = 1) {
  std::vector<std::int32_t> ms;
  for (std::int32_t i = 0; i < n; ++i) ms.push_back(i * step);
  return ms;
}

TEST(Decimate, KeepsEveryExtreme) {
  // 1000 ms over 10 columns: column 1 holds 100..199.
  std::vector<float> flat(1000, 5.0f);
  auto spikeAt = [&](std::size_t at, float v) {
    auto values = flat;
    values[at] = v;
    return values;
  };
  std::mt19937 random(7);
  std::vector<float> noise(100000);
  for (float& v : noise) v = float(random() % 1000);
  noise[31234] = 5000;
  noise[77777] = -5000;
  const DecimateCase cases[] = {
      {"spike at a column's first ms", times(1000), spikeAt(100, 90), 0, 999, 10},
      {"spike at a column's last ms", times(1000), spikeAt(199, 90), 0, 999, 10},
      {"dip at a column's last ms", times(1000), spikeAt(299, -90), 0, 999, 10},
      {"spike at the range's first ms", times(1000), spikeAt(250, 90), 250, 749, 7},
      {"spike at the range's last ms", times(1000), spikeAt(749, 90), 250, 749, 7},
      {"more columns than points", times(5, 100), {1, 9, 2, 8, 3}, 0, 400, 1000},
      {"one point", {500}, {42}, 0, 1000, 100},
      {"NaN gaps", times(10, 100), {1, 2, kNaN, kNaN, 3, 9, kNaN, 4, 5, 6}, 0, 900, 3},
      {"noise with a spike and a dip", times(100000, 3), noise, 0, 299997, 777},
      {"zoomed into noise", times(100000, 3), noise, 93000, 94000, 640},
  };
  std::vector<PlotPoint> out;
  for (const DecimateCase& c : cases) {
    decimate(c.ms, c.values, c.from, c.to, c.columns, out);
    expectExtremesKept(c, out);
  }
}

// Each column's min and max in time order, the nearest point outside on each side, one break per NaN run.
TEST(Decimate, MinAndMaxInTheirOrderWithTheNeighboursOutside) {
  const std::vector<std::int32_t> three{0, 100, 200}, ten{-100, 0, 10, 20, 30, 40, 50, 60, 200, 300};
  // Times, values, the range shown, its columns, and the points kept ("ms:value", "break" for a NaN).
  const std::tuple<std::vector<std::int32_t>, std::vector<float>, std::int32_t, std::int32_t, int,
                   const char*>
      cases[] = {
          {ten, {7, 1, 5, 2, 8, 3, 0, 4, 6, 9}, 0, 59, 2, "-100:7 0:1 10:5 30:8 50:0 60:4"},  // 0..29, 30..59
          {three, {1, 2, 3}, 120, 180, 50, "100:2 200:3"},  // nothing inside: neighbour to neighbour
          {three, {1, 2, 3}, 100, 200, 50, "0:1 100:2 200:3"},
          {three, {1, 2, 3}, -500, -100, 50, "0:1"},
          {{}, {}, 0, 100, 50, ""},
          {{0, 1, 2, 3}, {1, kNaN, kNaN, 2}, 0, 3, 4, "0:1 break 3:2"},
      };
  std::vector<PlotPoint> out;
  for (const auto& [ms, values, from, to, columns, expected] : cases) {
    decimate(ms, values, from, to, columns, out);
    QStringList shown;
    for (const PlotPoint& p : out)
      shown << (std::isnan(p.value) ? QStringLiteral("break")
                                    : QStringLiteral("%1:%2").arg(p.ms).arg(p.value));
    EXPECT_EQ(shown.join(u' '), QLatin1String(expected));
  }
}

TEST(Decimate, LaneScaleFromTheVisiblePointsOnly) {
  const std::vector<PlotPoint> points{{-10, 1000}, {0, 2}, {5, kNaN}, {10, 6}, {20, -1000}};
  const auto range = rangeWithin(points, 0, 10);
  ASSERT_TRUE(range);
  EXPECT_EQ(std::pair(range->low, range->high), std::pair(2.0f, 6.0f));
  EXPECT_FALSE(rangeWithin(points, 11, 19));
  const ValueRange flat = laneScale({50, 50});
  EXPECT_TRUE(flat.low < 50 && flat.high > 50);
}

TEST(TimeView, FollowsZoomsPansAndResets) {
  TimeView view;
  const auto shown = [&] { return std::pair(view.from(), view.to()); };
  // Live, the first value starts the view until the values are wider than it.
  view.follow(40'000, 100'000);
  EXPECT_EQ(shown(), std::pair(40'000, 640'000));
  view.follow(40'000, 700'000);
  EXPECT_TRUE(view.following());
  EXPECT_EQ(shown(), std::pair(100'000, 700'000));

  // Zooming in around a time keeps it under the mouse and stops following.
  const double xBefore = view.xOf(400'000, 600);
  view.zoom(400'000, 0.5);
  EXPECT_FALSE(view.following());
  EXPECT_EQ(view.span(), 300'000);
  EXPECT_NEAR(view.xOf(400'000, 600), xBefore, 1e-6);
  EXPECT_EQ(view.timeAt(xBefore, 600), 400'000);
  view.follow(40'000, 800'000);
  EXPECT_EQ(view.to(), 550'000);

  view.pan(-50'000);
  EXPECT_EQ(shown(), std::pair(200'000, 500'000));

  // Zooming in ever so far stops at the narrowest view.
  for (int i = 0; i < 100; ++i) view.zoom(300'000, 0.1);
  EXPECT_EQ(view.span(), TimeView::kMinSpanMs);

  view.reset();
  EXPECT_TRUE(view.following());
  EXPECT_EQ(shown(), std::pair(800'000 - TimeView::kDefaultSpanMs, 800'000));

  // A recorded run is home: reset shows it whole and does not follow.
  view.setHome(std::pair{1000, 16000});
  view.pan(5000);
  view.reset();
  EXPECT_FALSE(view.following());
  EXPECT_EQ(shown(), std::pair(1000, 16000));
}

// Words and short name where both fit, else words; another program's column by its name.
TEST(ChartData, ChannelsAreNamedInWordsWithTheirShortNameWhereItFits) {
  const auto characters = [](const QString& text) { return int(text.size()); };
  const Channel vss{QStringLiteral("VSS"), QStringLiteral("Vehicle speed"), QStringLiteral("km/h")};
  const QString unit = QStringLiteral(" (km/h)");
  EXPECT_EQ(channelLabel(vss, unit, 26, characters), QStringLiteral("Vehicle speed \u00B7 VSS (km/h)"));
  EXPECT_EQ(channelLabel(vss, unit, 25, characters), QStringLiteral("Vehicle speed (km/h)"));
  EXPECT_EQ(channelLabel(Channel{QStringLiteral("Oil"), QString(), QString()}, QString(), 1, characters),
            QStringLiteral("Oil"));
}

TEST(ChartData, ValueAtIsTheSampleAtOrBefore) {
  const Series s{{1000, 2000, 3000}, {10, 20, 30}};
  std::vector<std::optional<float>> got;
  for (std::int32_t at : {-5, 999, 1000, 1999, 2000, 2500, 99999}) got.push_back(valueAt(s, at));
  EXPECT_EQ(got, (std::vector<std::optional<float>>{std::nullopt, std::nullopt, 10, 10, 20, 20, 30}));
  EXPECT_EQ(valueAt(Series{}, 0), std::nullopt);
}

TEST(ChartData, CsvOfTheShownRange) {
  Readings readings;
  const int rpm =
      readings.channel(QStringLiteral("RPM"), QStringLiteral("Engine speed"), QStringLiteral("rpm"));
  const int speed = readings.channel(QStringLiteral("Speed"), QString(), QStringLiteral("km/h"));
  const int text = readings.channel(QStringLiteral("A,B"));
  const std::tuple<int, Millis, double> added[] = {{rpm, 0ms, 750},   {rpm, 1s, 800},
                                                   {speed, 1s, 12.5}, {speed, 1500ms, 13},
                                                   {rpm, 2s, 900},    {text, 1200ms, -0.25}};
  for (const auto& [channel, after, value] : added) readings.add(channel, 5s + after, value);
  EXPECT_EQ(chartCsv(readings, {rpm, speed, text}, 500, 1500),
            "Time (s),RPM (rpm),Speed (km/h),\"A,B\"\r\n"
            "1.000,800,12.5,\r\n"
            "1.200,,,-0.25\r\n"
            "1.500,,13,\r\n");
  EXPECT_EQ(chartCsv(readings, {speed}, 3000, 4000), "Time (s),Speed (km/h)\r\n");
}

TEST(RedrawPacer, AtMostThirtyRedrawsASecond) {
  testing::FakeClock clock;
  std::vector<Micros> redraws;
  RedrawPacer pacer(clock, [&] { redraws.push_back(clock.now()); });

  // One value: drawn once, soon, not at once; nothing new, nothing drawn.
  pacer.changed();
  EXPECT_TRUE(redraws.empty());
  clock.advance(RedrawPacer::kInterval + 2s);
  EXPECT_EQ(redraws, std::vector<Micros>{RedrawPacer::kInterval});

  // A value every millisecond for ten seconds.
  const auto changeEveryMs = [&](int n) {
    redraws.clear();
    for (int i = 0; i < n; ++i) {
      pacer.changed();
      clock.advance(1ms);
    }
  };
  changeEveryMs(10'000);
  clock.advance(1s);
  EXPECT_GE(redraws.size(), 250u) << "live values must still be drawn";
  for (std::size_t i = 30; i < redraws.size(); ++i)
    EXPECT_GE(redraws[i] - redraws[i - 30], 1s) << "31 redraws within a second at " << i;
  EXPECT_FALSE(pacer.pending());  // the last value is drawn

  // A slower pace when asked, never a faster one.
  const std::pair<Millis, std::size_t> paces[] = {{1ms, 30}, {500ms, 2}};
  for (const auto& [interval, most] : paces) {
    pacer.setInterval(interval);
    changeEveryMs(1000);
    EXPECT_TRUE(redraws.size() <= most && redraws.size() >= most - 1) << interval.count();
  }
}

}  // namespace
}  // namespace tarvex
