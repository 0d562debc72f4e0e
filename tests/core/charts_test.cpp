#include <gtest/gtest.h>

#include <cmath>
#include <limits>
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
  std::int32_t from;
  std::int32_t to;
  int columns;
};

// Every column's lowest and highest value among the points inside, found the
// slow way: each point's column by division.
void expectExtremesKept(const DecimateCase& c, const std::vector<PlotPoint>& out) {
  const std::int64_t span = std::max<std::int64_t>(1, std::int64_t(c.to) - c.from);
  std::vector<std::optional<std::pair<std::size_t, std::size_t>>> columns(std::size_t(c.columns));
  for (std::size_t i = 0; i < c.ms.size(); ++i) {
    if (c.ms[i] < c.from || c.ms[i] > c.to || std::isnan(c.values[i])) continue;
    const auto col =
        std::size_t(std::min<std::int64_t>(c.columns - 1, (c.ms[i] - c.from) * c.columns / span));
    auto& e = columns[col];
    if (!e) e = std::pair{i, i};
    if (c.values[i] < c.values[e->first]) e->first = i;
    if (c.values[i] > c.values[e->second]) e->second = i;
  }
  const auto has = [&](std::size_t i) {
    return std::any_of(out.begin(), out.end(),
                       [&](const PlotPoint& p) { return p.ms == c.ms[i] && p.value == c.values[i]; });
  };
  for (std::size_t col = 0; col < columns.size(); ++col) {
    if (!columns[col]) continue;
    EXPECT_TRUE(has(columns[col]->first)) << c.name << ": lowest of column " << col;
    EXPECT_TRUE(has(columns[col]->second)) << c.name << ": highest of column " << col;
  }
  for (std::size_t i = 1; i < out.size(); ++i)
    EXPECT_LE(out[i - 1].ms, out[i].ms) << c.name << ": time order";
  // Nothing but extremes: two a column, the neighbours and the breaks.
  const auto breaks =
      std::count_if(out.begin(), out.end(), [](const PlotPoint& p) { return std::isnan(p.value); });
  EXPECT_LE(out.size() - std::size_t(breaks), std::size_t(2 * c.columns + 2)) << c.name;
}

std::vector<std::int32_t> times(std::int32_t n, std::int32_t step = 1) {
  std::vector<std::int32_t> ms(std::size_t(n), 0);
  for (std::int32_t i = 0; i < n; ++i) ms[std::size_t(i)] = i * step;
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

// Each column's min and max in time order, only the nearest point outside on
// each side, and one break for a run of NaN values.
TEST(Decimate, MinAndMaxInTheirOrderWithTheNeighboursOutside) {
  using Points = std::vector<std::pair<std::int32_t, float>>;
  const std::vector<std::int32_t> three{0, 100, 200};
  const struct {
    const char* name;
    std::vector<std::int32_t> ms;
    std::vector<float> values;
    std::int32_t from, to;
    int columns;
    Points expected;  // a NaN value: the break, its time not judged
  } cases[] = {
      // Two columns over [0, 59]: 0..29 and 30..59.
      {"two columns",
       {-100, 0, 10, 20, 30, 40, 50, 60, 200, 300},
       {7, 1, 5, 2, 8, 3, 0, 4, 6, 9},
       0,
       59,
       2,
       {{-100, 7}, {0, 1}, {10, 5}, {30, 8}, {50, 0}, {60, 4}}},
      {"nothing inside: neighbour to neighbour", three, {1, 2, 3}, 120, 180, 50, {{100, 2}, {200, 3}}},
      {"points on the edges are inside", three, {1, 2, 3}, 100, 200, 50, {{0, 1}, {100, 2}, {200, 3}}},
      {"series after the view", three, {1, 2, 3}, -500, -100, 50, {{0, 1}}},
      {"empty", {}, {}, 0, 100, 50, {}},
      {"NaN breaks once", {0, 1, 2, 3}, {1, kNaN, kNaN, 2}, 0, 3, 4, {{0, 1}, {0, kNaN}, {3, 2}}},
  };
  std::vector<PlotPoint> out;
  for (const auto& c : cases) {
    decimate(c.ms, c.values, c.from, c.to, c.columns, out);
    ASSERT_EQ(out.size(), c.expected.size()) << c.name;
    for (std::size_t i = 0; i < out.size(); ++i) {
      if (std::isnan(c.expected[i].second)) {
        EXPECT_TRUE(std::isnan(out[i].value)) << c.name << " " << i;
        continue;
      }
      EXPECT_EQ(out[i].ms, c.expected[i].first) << c.name << " " << i;
      EXPECT_EQ(out[i].value, c.expected[i].second) << c.name << " " << i;
    }
  }
}

TEST(Decimate, LaneScaleFromTheVisiblePointsOnly) {
  const std::vector<PlotPoint> points{{-10, 1000}, {0, 2}, {5, kNaN}, {10, 6}, {20, -1000}};
  const auto range = rangeWithin(points, 0, 10);
  ASSERT_TRUE(range);
  EXPECT_EQ(range->low, 2);
  EXPECT_EQ(range->high, 6);
  EXPECT_FALSE(rangeWithin(points, 11, 19));
  const ValueRange flat = laneScale({50, 50});
  EXPECT_LT(flat.low, 50);
  EXPECT_GT(flat.high, 50);
}

TEST(TimeView, FollowsZoomsPansAndResets) {
  TimeView view;
  // Live, the first value starts the view until the values are wider than it.
  view.follow(40'000, 100'000);
  EXPECT_EQ(view.from(), 40'000);
  EXPECT_EQ(view.to(), 640'000);
  view.follow(40'000, 700'000);
  EXPECT_TRUE(view.following());
  EXPECT_EQ(view.from(), 100'000);
  EXPECT_EQ(view.to(), 700'000);

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
  EXPECT_EQ(view.from(), 200'000);
  EXPECT_EQ(view.to(), 500'000);

  // Zooming in ever so far stops at the narrowest view.
  for (int i = 0; i < 100; ++i) view.zoom(300'000, 0.1);
  EXPECT_EQ(view.span(), TimeView::kMinSpanMs);

  view.reset();
  EXPECT_TRUE(view.following());
  EXPECT_EQ(view.to(), 800'000);
  EXPECT_EQ(view.span(), TimeView::kDefaultSpanMs);

  // A recorded run is home: reset shows it whole and does not follow.
  view.setHome(std::pair{1000, 16000});
  view.pan(5000);
  view.reset();
  EXPECT_FALSE(view.following());
  EXPECT_EQ(view.from(), 1000);
  EXPECT_EQ(view.to(), 16000);
}

// In words with the short name where both fit, else in words; another
// program's column by its name.
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
  Series s;
  s.ms = {1000, 2000, 3000};
  s.values = {10, 20, 30};
  const std::pair<std::int32_t, std::optional<float>> cases[] = {
      {-5, std::nullopt}, {999, std::nullopt}, {1000, 10.0f},  {1999, 10.0f},
      {2000, 20.0f},      {2500, 20.0f},       {99999, 30.0f},
  };
  for (const auto& [at, expected] : cases) EXPECT_EQ(valueAt(s, at), expected) << at;
  EXPECT_EQ(valueAt(Series{}, 0), std::nullopt);
}

TEST(ChartData, CsvOfTheShownRange) {
  Readings readings;
  const int rpm =
      readings.channel(QStringLiteral("RPM"), QStringLiteral("Engine speed"), QStringLiteral("rpm"));
  const int speed = readings.channel(QStringLiteral("Speed"), QString(), QStringLiteral("km/h"));
  const int text = readings.channel(QStringLiteral("A,B"));
  const Micros t0 = 5s;
  readings.add(rpm, t0, 750);
  readings.add(rpm, t0 + 1s, 800);
  readings.add(speed, t0 + 1s, 12.5);
  readings.add(speed, t0 + 1500ms, 13);
  readings.add(rpm, t0 + 2s, 900);
  readings.add(text, t0 + 1200ms, -0.25);
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

  // One value: drawn once, soon, not at once.
  pacer.changed();
  EXPECT_TRUE(redraws.empty());
  clock.advance(RedrawPacer::kInterval);
  EXPECT_EQ(redraws.size(), 1u);
  clock.advance(2s);
  EXPECT_EQ(redraws.size(), 1u) << "nothing new, nothing drawn";

  // A value every millisecond for ten seconds.
  redraws.clear();
  for (int i = 0; i < 10'000; ++i) {
    pacer.changed();
    clock.advance(1ms);
  }
  clock.advance(1s);
  EXPECT_GE(redraws.size(), 250u) << "live values must still be drawn";
  for (std::size_t i = 30; i < redraws.size(); ++i)
    EXPECT_GE(redraws[i] - redraws[i - 30], 1s) << "31 redraws within a second at " << i;
  // The last value is drawn.
  EXPECT_FALSE(pacer.pending());

  // A slower pace when asked, never a faster one.
  const std::pair<Millis, std::size_t> paces[] = {{1ms, 30}, {500ms, 2}};
  for (const auto& [interval, most] : paces) {
    pacer.setInterval(interval);
    redraws.clear();
    for (int i = 0; i < 1000; ++i) {
      pacer.changed();
      clock.advance(1ms);
    }
    EXPECT_LE(redraws.size(), most) << interval.count();
    EXPECT_GE(redraws.size(), most - 1) << interval.count();
  }
}

}  // namespace
}  // namespace tarvex
