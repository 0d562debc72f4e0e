#include "drag/drag_poller.h"

#include <gtest/gtest.h>

#include "tests/support/drag_ports.h"
#include "tests/support/fake_clock.h"
#include "tests/support/fake_serial_port.h"

namespace tarvex {
namespace {

using namespace std::chrono_literals;
using testing::FakeClock;
using testing::FakeSerialPort;
using testing::ProxyPort;

// A poller over a fake device and clock, the boxes as plain texts.
class DragPollerTest : public ::testing::Test {
 protected:
  DragPollerTest() : port(device) {
    clock.setTickCount(50000);
    port.recordTimesFrom(clock);
  }

  // Starts, lets the set-up answers arrive and the first request go out.
  void startPolling() {
    ASSERT_EQ(poller.pb_Start_Click(), std::nullopt);
    device.receive("ATZ\r\r\rELM327 v1.5\r\r>ATE1\rOK\r\r>ATST 10\rOK\r\r>");
    clock.advance(150ms);
    ASSERT_EQ(device.writes().back(), QByteArray("010D\r\n"));
    device.clearWrites();
  }

  int speedRequests() const { return int(device.writes().count("010D\r\n")); }

  FakeSerialPort device;
  FakeClock clock;
  ProxyPort port;
  DragBoxTexts boxes;
  DragPoller poller{port, clock, boxes, QLocale::c()};
};

TEST_F(DragPollerTest, StartOpensResetsWaitsAndSetsTheAnswerTimeOut) {
  const Micros start = clock.now();
  ASSERT_EQ(poller.pb_Start_Click(), std::nullopt);
  EXPECT_TRUE(device.isOpen());
  ASSERT_EQ(port.timedWrites().size(), 3u);
  EXPECT_EQ(port.timedWrites()[0].data, QByteArray("ATZ\r\n"));
  EXPECT_EQ(port.timedWrites()[0].at, start);
  EXPECT_EQ(port.timedWrites()[1].data, QByteArray("ATE1\r\n"));
  EXPECT_EQ(port.timedWrites()[1].at, start + 1000ms);
  EXPECT_EQ(port.timedWrites()[2].data, QByteArray("ATST 10\r\n"));
  EXPECT_EQ(port.timedWrites()[2].at, start + 2000ms);
  EXPECT_EQ(clock.sleeps(), (std::vector<Millis>{1000ms, 1000ms}));
  EXPECT_TRUE(poller.polling());
  EXPECT_EQ(poller.ticksText(), QStringLiteral("Ticks"));  // "ATST 10" is no speed request
}

TEST_F(DragPollerTest, FirstRequestWaitsForTheReplyTimerAfterTheSetUp) {
  ASSERT_EQ(poller.pb_Start_Click(), std::nullopt);
  device.receive("ATZ\r\r\rELM327 v1.5\r\r>ATE1\rOK\r\r>ATST 10\rOK\r\r>");
  device.clearWrites();
  clock.advance(149ms);
  EXPECT_EQ(speedRequests(), 0);
  clock.advance(1ms);
  EXPECT_EQ(device.writes(), QList<QByteArray>{"010D\r\n"});
  EXPECT_EQ(poller.ticksText(), QStringLiteral("52150"));
  // The set-up answers stay in the buffer until a speed reply empties it.
  EXPECT_TRUE(poller.rxText().contains(QStringLiteral("ELM327")));
}

TEST_F(DragPollerTest, CompleteReplyFeedsTheRunAndAsksAgainAtOnce) {
  startPolling();
  device.receive("010D\r41 0D 00\r\r>");
  EXPECT_EQ(speedRequests(), 1);
  clock.advance(20ms);
  device.receive("010D\r41 0D 0A\r\r>");  // pulls away: the run starts here
  clock.advance(40ms);
  device.receive("010D\r41 0D 3C\r\r>");
  EXPECT_EQ(speedRequests(), 3);
  EXPECT_EQ(boxes.text(DragBox::kSpeed), QStringLiteral("60"));
  EXPECT_EQ(boxes.text(DragBox::kET), QStringLiteral("0.04"));
  EXPECT_EQ(poller.rxText(), QString());
  EXPECT_EQ(poller.ticksText(), QStringLiteral("52210"));
  EXPECT_TRUE(poller.polling());
}

struct BufferCase {
  const char* name;
  std::vector<QByteArray> pieces;  // arriving one after the other
  int requestsAfter;               // speed requests written in answer
  const char* speedShown;          // the Speed box afterwards
  const char* bufferAfter;
};

class DragReplyCheck : public DragPollerTest, public ::testing::WithParamInterface<BufferCase> {};

TEST_P(DragReplyCheck, TakesOnlyCompleteWellFormedReplies) {
  startPolling();
  for (const QByteArray& piece : GetParam().pieces) device.receive(piece);
  EXPECT_EQ(speedRequests(), GetParam().requestsAfter);
  EXPECT_EQ(boxes.text(DragBox::kSpeed), QString::fromLatin1(GetParam().speedShown));
  // What came before (the set-up answers) stays in front of an incomplete reply.
  const QString after = QString::fromLatin1(GetParam().bufferAfter);
  if (after.isEmpty()) {
    EXPECT_EQ(poller.rxText(), QString());
  } else {
    EXPECT_TRUE(poller.rxText().endsWith(after)) << poller.rxText().toStdString();
  }
}

INSTANTIATE_TEST_SUITE_P(
    Buffers, DragReplyCheck,
    ::testing::Values(
        BufferCase{"NoPromptYet", {"41 0D 3C"}, 0, "0", "41 0D 3C"},
        BufferCase{"PromptArrivesLater", {"41 0D 3C", "\r\r>"}, 1, "60", ""},
        BufferCase{"PromptRightAfterTheDigits", {"41 0D 3C>"}, 1, "60", ""},
        BufferCase{"PromptBeforeThePrefixDoesNotCount", {">010D\r41 0D 3C"}, 0, "0", ">010D\r41 0D 3C"},
        BufferCase{"EchoAndEarlierPromptIgnored", {"OK\r\r>010D\r41 0D 14\r\r>"}, 1, "20", ""},
        BufferCase{"TwoRepliesFirstWins", {"41 0D 0A\r\r>41 0D 14\r\r>"}, 1, "10", ""},
        BufferCase{"ShortAnswerIsNoSample", {"41 0D\r\r>>"}, 1, "0", ""},
        BufferCase{"LowerCaseDigitsAreNoSample", {"41 0D 3c\r>"}, 1, "0", ""},
        BufferCase{"NoBlanksNeverMatch", {"410D3C\r\r>"}, 0, "0", "410D3C\r\r>"},
        BufferCase{"OtherPrefixIgnored", {"41 0C 3C\r>"}, 0, "0", "41 0C 3C\r>"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(DragPollerTest, UnansweredRequestIsRepeatedEvery150ms) {
  startPolling();
  QStringList ticks;
  for (int i = 0; i < 3; ++i) {
    device.receive("010D\rNO DATA\r\r>");
    clock.advance(149ms);
    EXPECT_EQ(speedRequests(), i);
    clock.advance(1ms);
    EXPECT_EQ(speedRequests(), i + 1);
    ticks << poller.ticksText();
  }
  EXPECT_EQ(ticks, (QStringList{"52300", "52450", "52600"}));
  EXPECT_EQ(poller.rxText().count(QStringLiteral("NO DATA")), 3);
  EXPECT_EQ(boxes.text(DragBox::kSpeed), QStringLiteral("0"));
  // A late reply is taken as the answer to the repeated request.
  device.receive("010D\r41 0D 05\r>");
  EXPECT_EQ(boxes.text(DragBox::kSpeed), QStringLiteral("5"));
  EXPECT_EQ(poller.rxText(), QString());
}

TEST_F(DragPollerTest, StopEndsPollingAndKeepsEveryBox) {
  startPolling();
  device.receive("41 0D 00>");
  device.receive("41 0D 14>");
  clock.advance(100ms);
  device.receive("41 0D 1E>");
  device.receive("41 0D 28");  // part of a reply when "Stop" comes
  DragBoxTexts before = boxes;
  const QString ticks = poller.ticksText();
  poller.pb_stop_Click();
  EXPECT_FALSE(device.isOpen());
  EXPECT_FALSE(poller.polling());
  device.clearWrites();
  clock.advance(1s);
  EXPECT_TRUE(device.writes().isEmpty());
  for (int i = 0; i < kDragBoxCount; ++i) EXPECT_EQ(boxes.text(DragBox(i)), before.text(DragBox(i)));
  EXPECT_EQ(boxes.text(DragBox::kSpeed), QStringLiteral("30"));
  EXPECT_EQ(poller.ticksText(), ticks);
  EXPECT_EQ(poller.rxText(), QStringLiteral("41 0D 28"));
  // An edit of the visible buffer that completes a reply asks nothing either.
  poller.setRxText(poller.rxText() + QStringLiteral(">"));
  clock.advance(1s);
  EXPECT_TRUE(device.writes().isEmpty());
  EXPECT_FALSE(poller.polling());

  // "Start" again: the port is opened again and the adapter set up anew.
  ASSERT_EQ(poller.pb_Start_Click(), std::nullopt);
  EXPECT_EQ(device.openCount(), 2);
  EXPECT_EQ(device.writes(), (QList<QByteArray>{"ATZ\r\n", "ATE1\r\n", "ATST 10\r\n"}));
  clock.advance(150ms);
  EXPECT_EQ(speedRequests(), 1);
}

TEST_F(DragPollerTest, StartWhilePollingSetsUpAgainWithoutReopening) {
  startPolling();
  ASSERT_EQ(poller.pb_Start_Click(), std::nullopt);
  EXPECT_EQ(device.openCount(), 1);
  EXPECT_EQ(device.writes(), (QList<QByteArray>{"ATZ\r\n", "ATE1\r\n", "ATST 10\r\n"}));
  clock.advance(150ms);
  EXPECT_EQ(speedRequests(), 1);
}

TEST_F(DragPollerTest, PortThatWillNotOpenIsReportedAndNothingHappens) {
  FakeSerialPort busy(QStringLiteral("/dev/ttyS0"));
  busy.failOpenWith(QStringLiteral("Permission denied"));
  DragPoller other(busy, clock, boxes, QLocale::c());
  const std::optional<QString> failure = other.pb_Start_Click();
  ASSERT_TRUE(failure.has_value());
  EXPECT_TRUE(failure->contains(QStringLiteral("/dev/ttyS0")));
  EXPECT_TRUE(failure->contains(QStringLiteral("Permission denied")));
  EXPECT_TRUE(busy.writes().isEmpty());
  EXPECT_TRUE(clock.sleeps().empty());
  EXPECT_FALSE(other.polling());
  clock.advance(1s);
  EXPECT_TRUE(busy.writes().isEmpty());
  other.pb_stop_Click();  // stopping what never started is harmless
}

TEST_F(DragPollerTest, TicksShowTheCounterAsSigned32Bit) {
  clock.setTickCount(3000000000u);
  poller.AskSpeed();
  EXPECT_EQ(poller.ticksText(), QStringLiteral("-1294967296"));
}

TEST_F(DragPollerTest, UserEditOfTheBufferRunsTheCheck) {
  startPolling();
  poller.setRxText(QStringLiteral("41 0D 64>"));
  EXPECT_EQ(boxes.text(DragBox::kSpeed), QStringLiteral("100"));
  EXPECT_EQ(speedRequests(), 1);
}

TEST(DragPoller, LetsGoOfThePortWhenDestroyed) {
  FakeSerialPort device;
  FakeClock clock;
  DragBoxTexts boxes;
  {
    DragPoller poller(device, clock, boxes, QLocale::c());
    ASSERT_EQ(poller.pb_Start_Click(), std::nullopt);
  }
  device.receive("41 0D 3C>");  // must reach nothing
  clock.advance(1s);
  EXPECT_EQ(boxes.text(DragBox::kSpeed), QStringLiteral("0"));
}

}  // namespace
}  // namespace tarvex
