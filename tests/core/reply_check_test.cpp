#include <gtest/gtest.h>

#include "link/adapter_link.h"
#include "tests/support/fake_clock.h"
#include "tests/support/fake_serial_port.h"
#include "tests/support/qt_print.h"

namespace tarvex {
namespace {

using testing::FakeClock;
using testing::FakeSerialPort;

const ReplyShape kRpm{QStringLiteral("62 00 0C"), 8, 2};

TEST(CheckReply, Table) {
  const ReplyShape empty{QString(), 8, 0};
  const ReplyShape speed{QStringLiteral("41 0D"), 5, 1};
  const struct {
    const char* name;
    QString buffer;
    ReplyShape shape;
    std::optional<QString> out;
  } cases[] = {
      {"worked example", "22000C01\r62 00 0C 1A F8\r>", kRpm, QStringLiteral(" 1A F8")},
      {"up to the last digit, no prompt", "22000C01\r62 00 0C 1A F8", kRpm, std::nullopt},
      {"prompt right after the digits", "62 00 0C 1A F8>", kRpm, QStringLiteral(" 1A F8")},
      {"prompt before the prefix only", ">22000C01\r62 00 0C 1A F8\r", kRpm, std::nullopt},
      {"prompt inside a short answer", "62 00 0C 1A \r\r>", kRpm, QStringLiteral(" 1A \r\r")},
      {"too short even with prompt", "62 00 0C 1A>", kRpm, std::nullopt},
      {"other parameter's reply", "62 00 0D 3C \r\r>", kRpm, std::nullopt},
      {"first occurrence wins", "62 00 0C 00 01 \r>62 00 0C 1A F8 \r>", kRpm, QStringLiteral(" 00 01")},
      {"lower case prefix is not the prefix", "62 00 0c 1A F8 \r>", kRpm, std::nullopt},
      {"empty prefix, 9 characters", "ATZ\r\r>OK>", empty, QString()},
      {"empty prefix, 8 characters", "ATZ\r\r>OK", empty, std::nullopt},
      {"empty prefix, no prompt", "ELM327 v1.5\r\r", empty, std::nullopt},
      {"empty buffer, empty prefix", "", empty, std::nullopt},
      {"speed, prompt after digits", "41 0D 3C>", speed, QStringLiteral(" 3C")},
      {"speed, no prompt yet", "010D\r41 0D 3C \r", speed, std::nullopt},
      {"speed, two replies", "41 0D 3C \r\r>41 0D 3D \r\r>", speed, QStringLiteral(" 3C")},
  };
  for (const auto& c : cases) EXPECT_EQ(checkReply(c.buffer, c.shape), c.out) << c.name;
}

TEST(WellFormedData, Table) {
  const struct {
    const char* out;
    bool ok;
  } cases[] = {{" 1A F8", true}, {" 3C", true},    {" 1A\r\r>", false}, {" 1a F8", false},
               {"", false},      {"1A F8", false}, {" 1AF8 ", false},   {" 3G", false}};
  for (const auto& c : cases) EXPECT_EQ(isWellFormedData(QString::fromLatin1(c.out)), c.ok) << c.out;
}

struct LinkFixture : ::testing::Test {
  FakeClock clock;
  FakeSerialPort port;
  AdapterLink link{port, clock, kRpm, QStringLiteral("Text2"), true};
  QStringList replies;
  int timeouts = 0;
  QStringList rxChanges;

  void SetUp() override {
    port.open();
    port.setNotify([this](int kind) { link.Comm1_OnComm(kind); });
    link.hooks().onReply = [this](const QString& out) { replies << out; };
    link.hooks().onTimeout = [this] { ++timeouts; };
    link.hooks().onRxTextChanged = [this](const QString& t) { rxChanges << t; };
  }
};

TEST_F(LinkFixture, WorkedExampleInChunks) {
  link.setRxText(QString());
  const char* chunks[] = {"2200", "0C01\r62 0", "0 0C 1A F", "8\r", ">"};
  for (const char* chunk : chunks) {
    EXPECT_TRUE(replies.isEmpty());
    port.receive(chunk);
  }
  ASSERT_EQ(replies, QStringList{QStringLiteral(" 1A F8")});
  EXPECT_EQ(link.rxText(), QString());
  // The emptying itself is a change: the check runs once more on nothing.
  EXPECT_EQ(rxChanges.last(), QString());
  EXPECT_EQ(rxChanges.size(), 7);
}

TEST_F(LinkFixture, SendComShowsWritesAndArmsTheTimer) {
  link.SendCom(QStringLiteral("22000C01"));
  EXPECT_EQ(port.written(), QByteArray("22000C01\r\n"));
  EXPECT_EQ(link.txText(), QStringLiteral("22000C01"));
  EXPECT_TRUE(link.timerActive());
  EXPECT_EQ(link.timer().interval(), kReplyTimeout);

  clock.advance(std::chrono::milliseconds(149));
  EXPECT_EQ(timeouts, 0);
  clock.advance(std::chrono::milliseconds(1));
  EXPECT_EQ(timeouts, 1);
  EXPECT_FALSE(link.timerActive());  // the owner's next command switches it on again
  // A complete reply stops the countdown.
  link.SendCom(QStringLiteral("22000C01"));
  port.receive("22000C01\r62 00 0C 1A F8 \r\r>");
  clock.advance(std::chrono::seconds(1));
  EXPECT_EQ(timeouts, 1);
}

TEST_F(LinkFixture, LateReplyWithTheCurrentPrefixIsTaken) {
  link.setRxText(QString());
  link.SendCom(QStringLiteral("22000C01"));
  port.receive("22000C01\r");
  clock.advance(kReplyTimeout);
  ASSERT_EQ(timeouts, 1);
  // The same parameter asked again; the old answer arrives first and wins.
  link.SendCom(QStringLiteral("22000C01"));
  port.receive("62 00 0C 0B B8 \r\r>22000C01\r62 00 0C 1A F8 \r\r>");
  EXPECT_EQ(replies, QStringList{QStringLiteral(" 0B B8")});
  EXPECT_EQ(link.rxText(), QString());
}

TEST_F(LinkFixture, TransmitDoneKeepsARunningCountdown) {
  link.SendCom(QStringLiteral("22000C01"));
  clock.advance(std::chrono::milliseconds(100));
  port.raise(kCommEventSend);
  clock.advance(std::chrono::milliseconds(50));
  EXPECT_EQ(timeouts, 1);
  port.raise(kCommEventSend);  // off: switches it on
  EXPECT_TRUE(link.timerActive());
  port.raise(kCommEventError);  // other kinds change nothing
  EXPECT_EQ(link.rxText(), QStringLiteral("Text2"));
}

TEST_F(LinkFixture, BufferNeverGrowsWithoutBound) {
  const QByteArray noise(1000, 'x');
  for (int i = 0; i < 100; ++i) port.receive(noise);
  EXPECT_LE(link.rxText().size(), AdapterLink::kMaxBuffer);
  // The newest text is kept, so a reply still completes.
  port.receive("62 00 0C 1A F8 \r\r>");
  EXPECT_EQ(replies, QStringList{QStringLiteral(" 1A F8")});
}

}  // namespace
}  // namespace tarvex
