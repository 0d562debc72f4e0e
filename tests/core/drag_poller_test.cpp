#include "drag/drag_poller.h"

#include <gtest/gtest.h>

#include "tests/support/drag_ports.h"
#include "tests/support/fake_clock.h"
#include "tests/support/layout_boxes.h"
#include "tests/support/route.h"
#include "ui/failure_text.h"

namespace tarvex {
namespace {

using namespace std::chrono_literals;

// Started at tick 50000, the set-up answered and the first request out.
struct Rig {
  Rig() {
    testing::route(port, *timer, poller.session());
    poller.setTicksHandler([this](std::int32_t t) { ticks = t; });
    clock.setTickCount(50000);
    EXPECT_TRUE(poller.start());
    clock.advance(2s);
    device.receive("ATZ\r\r\rELM327 v1.5\r\r>ATE1\rOK\r\r>ATST 10\rOK\r\r>");
    clock.advance(150ms);
    device.clearWrites();
  }
  int speedRequests() const { return int(device.writes().count("010D\r")); }

  testing::FakeSerialPort device;
  testing::FakeClock clock;
  testing::ProxyPort port{device, &clock};
  std::unique_ptr<Timer> timer = clock.createTimer();
  testing::DragBoxTexts boxes;
  AdapterTraits traits;
  DragPoller poller{port, *timer, clock, traits, boxes, QLocale::c()};
  std::int32_t ticks = 0;
};

// The reply table's cases that meet the speed request (the rest are CheckReply.Table's).
TEST(DragPoller, TakesOnlyCompleteWellFormedReplies) {
  // What came, the requests after it, and the speed shown.
  const std::tuple<QByteArray, int, const char*> cases[] = {{"41 0D 3C", 0, "0"},
                                                            {"OK\r\r>010D\r41 0D 14\r\r>", 1, "20"},
                                                            {"41 0D\r\r>>", 1, "0"},
                                                            {"410D3C\r\r>", 0, "0"},
                                                            {"41 0C 3C\r>", 0, "0"}};
  for (const auto& [received, requestsAfter, speedShown] : cases) {
    SCOPED_TRACE(received.toStdString());
    Rig rig;
    rig.device.receive(received);
    EXPECT_EQ(rig.speedRequests(), requestsAfter);
    EXPECT_EQ(rig.boxes.text(DragBox::kSpeed), QString::fromLatin1(speedShown));
    const QString rx = rig.poller.link().buffer();
    EXPECT_TRUE(requestsAfter ? rx.isEmpty() : rx.endsWith(QString::fromLatin1(received)));
  }
}

TEST(DragPoller, SetsUpRepeatsUnansweredRequestsAndTimesTheReplies) {
  Rig rig;
  EXPECT_EQ(rig.port.timedWrites,
            (std::vector<std::pair<Micros, QByteArray>>{
                {50000ms, "ATZ\r"}, {51000ms, "ATE1\r"}, {52000ms, "ATST 10\r"}, {52150ms, "010D\r"}}));
  for (int i = 0; i < 3; ++i) {
    rig.device.receive("010D\rNO DATA\r\r>");
    rig.clock.advance(149ms);
    EXPECT_EQ(rig.speedRequests(), i);
    rig.clock.advance(1ms);
    EXPECT_EQ(rig.speedRequests(), i + 1);
  }
  EXPECT_EQ(rig.ticks, 52600);
  rig.device.receive("010D\r41 0D 00\r>");
  rig.clock.advance(20ms);
  rig.device.receive("41 0D 0A>");  // pulls away: the run starts here
  rig.clock.advance(40ms);
  rig.device.receive("41 0D 3C>");
  EXPECT_EQ(rig.speedRequests(), 6);
  EXPECT_EQ(rig.boxes.text(DragBox::kSpeed) + u' ' + rig.boxes.text(DragBox::kET), QStringLiteral("60 0.04"));
  EXPECT_EQ(rig.ticks, 52660);
  rig.clock.setTickCount(3000000000u);  // told as a signed 32-bit number
  rig.poller.AskSpeed();
  EXPECT_EQ(rig.ticks, -1294967296);
}

TEST(DragPoller, StopEndsPollingKeepsTheBoxesAndStartSetsUpAgain) {
  Rig rig;
  // The last is part of a reply when "Stop" comes.
  for (const char* heard : {"41 0D 00>", "41 0D 1E>", "41 0D 28"}) rig.device.receive(heard);
  rig.poller.stop();
  EXPECT_FALSE(rig.device.isOpen());
  EXPECT_EQ(rig.boxes.text(DragBox::kSpeed), QStringLiteral("30"));
  // Neither the timer nor an edit completing the reply asks again.
  rig.poller.link().setBuffer(rig.poller.link().buffer() + QStringLiteral(">"));
  rig.device.clearWrites();
  rig.clock.advance(1s);
  EXPECT_TRUE(rig.device.writes().isEmpty() && rig.device.writesWhileClosed().isEmpty());
  ASSERT_TRUE(rig.poller.start());
  rig.clock.advance(2s);
  EXPECT_EQ(rig.device.writes(), (QList<QByteArray>{"ATZ\r", "ATE1\r", "ATST 10\r"}));
}

TEST(DragPoller, AdapterThatResetsItselfIsSetUpAgainAndAPortFaultStopsPolling) {
  Rig rig;
  QStringList failures;
  rig.poller.setFailureHandler([&](const Failure& failure) { failures << failureText(failure); });
  for (const char* heard : {"010D\r\rLV RESET\r\r\rELM327 v1.5\r\r>", "ATE1\rOK\r\r>", "ATST 10\rOK\r\r>"})
    rig.device.receive(heard);
  EXPECT_EQ(rig.device.writes(), (QList<QByteArray>{"ATE1\r", "ATST 10\r", "010D\r"}));
  rig.device.receive("010D\r41 0D 14\r\r>");
  EXPECT_EQ(rig.boxes.text(DragBox::kSpeed), QStringLiteral("20"));

  rig.device.fail(QStringLiteral("Input/output error"));
  EXPECT_EQ(failures, QStringList{QStringLiteral("Lost the adapter on /dev/fake0: Input/output error.")});
  EXPECT_FALSE(rig.device.isOpen());
  rig.device.clearWrites();
  rig.clock.advance(1s);
  EXPECT_TRUE(rig.device.writes().isEmpty() && rig.device.writesWhileClosed().isEmpty());
}

}  // namespace
}  // namespace tarvex
