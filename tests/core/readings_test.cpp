#include "core/readings.h"

#include <gtest/gtest.h>

#include <cmath>

namespace tarvex {
namespace {

using namespace std::chrono_literals;

TEST(Readings, KeepsEachChannelInTimeOrderWithoutMadeUpValues) {
  Readings r;
  const int rpm = r.channel(QStringLiteral("RPM"), QStringLiteral("Engine speed"), QStringLiteral("rpm"));
  EXPECT_EQ(r.channel(QStringLiteral("RPM")), rpm);  // found, not added again
  const int speed = r.channel(QStringLiteral("Speed"));
  QList<QList<int>> told;
  const int key = r.watch([&](const QList<int>& channels) { told << channels; });
  r.add(rpm, 10s, 800);  // the first value sets the origin
  r.add(rpm, 10s + 500ms, 900);
  r.add(rpm, 10s + 200ms, 850);  // late: put in its place
  r.add(rpm, 11s, std::nan(""));
  r.add(speed, 12s, INFINITY);
  EXPECT_EQ(r.series(rpm).ms, (std::vector<std::int32_t>{0, 200, 500}));
  EXPECT_EQ(r.series(rpm).values, (std::vector<float>{800, 850, 900}));
  EXPECT_TRUE(r.series(speed).isEmpty());
  EXPECT_EQ(r.toTime(500), 10s + 500ms);
  EXPECT_EQ(r.series(rpm).lowerBound(201), 2);
  EXPECT_EQ(told.size(), 3);

  r.beginBatch();
  r.add(speed, 12s, 40);
  r.add(rpm, 12s, 1000);
  r.endBatch();
  EXPECT_EQ(told.size(), 4);
  EXPECT_EQ(told.last(), (QList<int>{speed, rpm}));
  r.unwatch(key);
  r.clear();
  EXPECT_TRUE(r.channels().isEmpty());
  EXPECT_EQ(told.size(), 4);
}

TEST(Readings, LiveChannelsKeepTheirNewestPoints) {
  Readings r;
  r.setLimit(1000);
  const int c = r.channel(QStringLiteral("RPM"));
  for (int i = 0; i < 5000; ++i) r.add(c, Millis{i}, i);
  const Series& s = r.series(c);
  EXPECT_TRUE(s.size() >= 1000 && s.size() <= 1000 + 1000 / 8 + 1) << s.size();
  EXPECT_EQ(std::pair(s.ms.back(), s.values.back()), std::pair(4999, 4999.0f));
}

}  // namespace
}  // namespace tarvex
