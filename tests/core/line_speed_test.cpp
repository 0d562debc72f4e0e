#include "link/line_speed.h"

#include <gtest/gtest.h>

#include "sim/sim_adapter.h"
#include "tests/support/fake_clock.h"

namespace tarvex {
namespace {

using namespace std::chrono_literals;
using testing::FakeClock;

TEST(Heard, OnlyAPromptAfterPlainTextIsAnAnswer) {
  const QByteArray said[] = {"ATI\r\rELM327 v1.5\r\r>", "?\r\r>", "ATI\r\rELM327", "\xE1\x9A>",
                             "ATI\r\x01\r>"};
  std::vector<Heard> got;
  for (const QByteArray& received : said) got.push_back(heard(received));
  EXPECT_EQ(got, (std::vector<Heard>{Heard::kAnswer, Heard::kAnswer, Heard::kNothingYet, Heard::kGarbage,
                                     Heard::kGarbage}));
}

// The simulated adapter at its own speed on fake time: across a speed mismatch each side hears garbage.
struct AdapterLine final : SearchLine {
  explicit AdapterLine(qint32 adapterBaud, sim::SimFaults faults = {})
      : adapter(car, clock.now(), {.timing = {.baud = adapterBaud}, .faults = faults, .profile = {}}),
        search(*this, clock) {}
  bool setBaudRate(qint32 baud) override {
    if (refused.contains(baud)) return false;
    client = baud;
    return true;
  }
  bool write(const QByteArray& data) override {
    probes.push_back({client, clock.now()});
    if (probes.size() == silentAfter) adapter.setFaults({.silent = true});
    client == adapter.config().timing.baud ? adapter.receive(data, clock.now())
                                           : adapter.receiveAtWrongSpeed(data, clock.now());
    if (noiseOnProbe.contains(int(probes.size()))) search.received("\xFF");
    return true;
  }
  std::optional<qint32> find() {
    search.start([this](std::optional<qint32> found) { result.push_back(found); });
    while (search.running() && clock.now() < 20s) {
      clock.advance(100us);
      QByteArray out = adapter.takeOutputDue(clock.now());
      if (out.isEmpty()) continue;
      if (client != adapter.config().timing.baud) out = sim::SimAdapter::heardAtAnotherSpeed(out);
      search.received(out);
    }
    EXPECT_EQ(result.size(), 1u);
    return result.empty() ? std::nullopt : result[0];
  }

  FakeClock clock;
  sim::Vehicle car;
  sim::SimAdapter adapter;
  BaudSearch search;
  qint32 client = 0;
  QList<qint32> refused;
  std::size_t silentAfter = 0;  // the adapter falls silent at this probe (0: never)
  QList<int> noiseOnProbe;      // a garbage character right after these probes (counted from 1)
  std::vector<std::pair<qint32, Micros>> probes;
  std::vector<std::optional<qint32>> result;
};

// Late answers from the speeds before are no answer at the next: each speed found after two probes.
TEST(BaudSearch, FindsEverySpeedThoughTheAnswersAtTheSpeedsBeforeArriveLate) {
  for (std::size_t i = 0; i < std::size(kSearchOrder); ++i) {
    AdapterLine line(kSearchOrder[i]);
    EXPECT_EQ(line.find(), kSearchOrder[i]);
    QList<qint32> expected, probed;
    for (std::size_t j = 0; j <= i; ++j) expected << kSearchOrder[j] << kSearchOrder[j];
    for (const auto& [baud, at] : line.probes) probed << baud;
    EXPECT_EQ(probed, expected) << kSearchOrder[i];
    EXPECT_LE(line.clock.now(), Millis{150} * (i + 1)) << kSearchOrder[i];
  }
}

// A speed is kept only after two plain answers in a row; one the device lacks is skipped.
TEST(BaudSearch, KeepsOnlyASpeedThatAnsweredPlainlyTwiceInARow) {
  const std::tuple<const char*, qint32, std::size_t, QList<int>, QList<qint32>, std::optional<qint32>,
                   std::size_t>
      cases[] = {
          {"noise, then two answers", 9600, 0, {3}, {}, 9600, 5},
          {"noise on both", 9600, 0, {3, 4}, {}, std::nullopt, 12},  // left; the adapter is nowhere else
          {"one answer, then silence", 38400, 2, {}, {}, std::nullopt, 13},
          {"answer, garbage, answer, answer", 38400, 0, {2}, {}, 38400, 4},
          {"speed refused", 57600, 0, {}, {115200}, 57600, 6},
      };
  for (const auto& [name, adapter, silentAfter, noise, refused, found, probes] : cases) {
    AdapterLine line(adapter);
    line.silentAfter = silentAfter;
    line.noiseOnProbe = noise;
    line.refused = refused;
    EXPECT_EQ(line.find(), found) << name;
    EXPECT_EQ(line.probes.size(), probes) << name;
  }
}

// Nothing answers, or the line never falls quiet: each speed asked twice, in time, then the end.
TEST(BaudSearch, EndsWhenNothingAnswersOrTheLineNeverSettles) {
  for (const bool chatter : {false, true}) {
    AdapterLine line(9600, {.silent = true});
    std::unique_ptr<Timer> noise = line.clock.createTimer();
    noise->setInterval(10ms);
    noise->setCallback([&] { line.search.received("\x80"); });
    if (chatter) noise->start();
    EXPECT_EQ(line.find(), std::nullopt);
    ASSERT_EQ(line.probes.size(), 2 * std::size(kSearchOrder));
    const SearchTiming t;
    for (std::size_t i = 0; i < line.probes.size(); ++i) {
      const Micros since = line.probes[i].second - (i == 0 ? Micros{0} : line.probes[i - 1].second);
      // Chatter: the first garbage ends the wait for an answer.
      EXPECT_TRUE(chatter ? since <= 10ms + t.settleAtMost + 1ms
                          : since == (i == 0 ? Micros{0} : Micros{t.answerWait}) + t.settle)
          << i << ": " << since.count() << " us";
    }
  }
}

TEST(BaudSearch, CancelledSearchSaysNothingMore) {
  AdapterLine line(230400);
  line.search.start([&](std::optional<qint32> found) { line.result.push_back(found); });
  line.clock.advance(100ms);
  const std::size_t probes = line.probes.size();
  line.search.cancel();
  EXPECT_FALSE(line.search.running());
  line.search.received("ATI\r\rELM327 v1.5\r\r>");
  line.clock.advance(10s);
  EXPECT_EQ(line.probes.size(), probes);
  EXPECT_TRUE(line.result.empty());
}

}  // namespace
}  // namespace tarvex
