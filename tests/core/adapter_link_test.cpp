#include "link/adapter_link.h"

#include <gtest/gtest.h>

#include "tests/support/fake_clock.h"
#include "tests/support/fake_serial_port.h"
#include "tests/support/route.h"

namespace tarvex {
namespace {

using namespace std::chrono_literals;
using testing::FakeClock;
using testing::FakeSerialPort;

const ReplyShape kRpm{QStringLiteral("62 00 0C"), 8, 2};
const ReplyShape kNone{QString(), 8, 0};
const ReplyShape kSpeed{QStringLiteral("41 0D"), 5, 1};

struct CheckCase {
  const char* name;
  QString buffer;
  ReplyShape shape;
  std::optional<QString> out;
};
const CheckCase kChecks[] = {
    {"worked example", "22000C01\r62 00 0C 1A F8\r>", kRpm, QStringLiteral(" 1A F8")},
    {"up to the last digit, no prompt", "22000C01\r62 00 0C 1A F8", kRpm, std::nullopt},
    {"prompt right after the digits", "62 00 0C 1A F8>", kRpm, QStringLiteral(" 1A F8")},
    {"prompt before the prefix only", ">22000C01\r62 00 0C 1A F8\r", kRpm, std::nullopt},
    {"prompt inside a short answer", "62 00 0C 1A \r\r>", kRpm, QStringLiteral(" 1A \r\r")},
    {"too short even with prompt", "62 00 0C 1A>", kRpm, std::nullopt},
    {"other parameter's reply", "62 00 0D 3C \r\r>", kRpm, std::nullopt},
    {"first occurrence wins", "62 00 0C 00 01 \r>62 00 0C 1A F8 \r>", kRpm, QStringLiteral(" 00 01")},
    {"lower case prefix is not the prefix", "62 00 0c 1A F8 \r>", kRpm, std::nullopt},
    {"prefix overlapping itself", "662 00 0C 1A F8>", kRpm, QStringLiteral(" 1A F8")},
    {"empty prefix, 9 characters", "ATZ\r\r>OK>", kNone, QString()},
    {"empty prefix, 8 characters", "ATZ\r\r>OK", kNone, std::nullopt},
    {"speed, two replies", "41 0D 3C \r\r>41 0D 3D \r\r>", kSpeed, QStringLiteral(" 3C")},
};

TEST(CheckReply, Table) {
  for (const CheckCase& c : kChecks) EXPECT_EQ(checkReply(c.buffer, c.shape), c.out) << c.name;
  EXPECT_EQ(checkReply(QString(), kNone), std::nullopt);
}

// Checking only what arrived since the last call finds the reply at the same
// character, and the same data, as checking the whole buffer every time.
TEST(ReplyCheck, GrowingBufferCompletesWhereTheWholeCheckDoes) {
  for (const CheckCase& c : kChecks) {
    for (qsizetype step : {1, 2, 5}) {
      ReplyCheck check(c.shape);
      std::optional<QString> incremental, whole;
      qsizetype incrementalAt = -1, wholeAt = -1;
      for (qsizetype n = 1; n <= c.buffer.size(); ++n) {
        if (n % step != 0 && n != c.buffer.size()) continue;  // arrivals of `step` characters
        const QStringView seen = QStringView(c.buffer).left(n);
        if (incrementalAt < 0 && (incremental = check.check(seen))) incrementalAt = n;
        if (wholeAt < 0 && (whole = checkReply(seen, c.shape))) wholeAt = n;
      }
      EXPECT_EQ(incremental, whole) << c.name << " step " << step;
      EXPECT_EQ(incrementalAt, wholeAt) << c.name << " step " << step;
    }
  }
}

struct LinkFixture : ::testing::Test {
  FakeClock clock;
  FakeSerialPort port;
  std::unique_ptr<Timer> timer = clock.createTimer();
  AdapterLink link{port, *timer, kRpm, QStringLiteral("Text2")};
  QStringList replies, errors;
  int timeouts = 0;
  QStringList bufferShown;

  void SetUp() override {
    port.open();
    testing::route(port, *timer, link);
    link.hooks().onReply = [this](const QString& out) { replies << out; };
    link.hooks().onTimeout = [this] { ++timeouts; };
    link.hooks().onPortError = [this](const QString& reason) { errors << reason; };
    link.hooks().onBufferChanged = [this](const QString& t) { bufferShown << t; };
  }
};

TEST_F(LinkFixture, WorkedExampleInChunks) {
  link.SendCom(QStringLiteral("22000C01"));
  EXPECT_EQ(port.writes(), QList<QByteArray>{"22000C01\r"});  // a lone CR ends every command
  link.setBuffer(QString());
  for (const char* chunk : {"2200", "0C01\r62 0", "0 0C 1A F", "8\r", ">"}) {
    EXPECT_TRUE(replies.isEmpty());
    port.receive(chunk);
  }
  ASSERT_EQ(replies, QStringList{QStringLiteral(" 1A F8")});
  EXPECT_EQ(link.buffer(), QString());
  EXPECT_EQ(bufferShown.last(), QString());
  EXPECT_EQ(link.state(), AdapterLink::State::kIdle);
  EXPECT_FALSE(timer->isActive());
}

TEST_F(LinkFixture, ReplyTimerGivesUpAfter150Milliseconds) {
  link.SendCom(QStringLiteral("22000C01"));
  EXPECT_EQ(link.state(), AdapterLink::State::kAwaitingReply);
  clock.advance(149ms);
  EXPECT_EQ(timeouts, 0);
  clock.advance(1ms);
  EXPECT_EQ(timeouts, 1);
  EXPECT_EQ(link.state(), AdapterLink::State::kIdle);
  // Text that comes while nothing is awaited stays for the next request; a
  // late answer carrying the prefix asked for again is taken for it.
  port.receive("62 00 0C 0B B8 \r\r>");
  EXPECT_TRUE(replies.isEmpty());
  link.SendCom(QStringLiteral("22000C01"), kRpm);
  port.receive("22000C01\r62 00 0C 1A F8 \r\r>");
  EXPECT_EQ(replies, QStringList{QStringLiteral(" 0B B8")});
  clock.advance(1s);
  EXPECT_EQ(timeouts, 1);
}

TEST_F(LinkFixture, PortFaultsEndTheWaitAndAreReported) {
  link.SendCom(QStringLiteral("22000C01"));
  port.fail(QStringLiteral("Input/output error"));
  EXPECT_EQ(errors, QStringList{QStringLiteral("Input/output error")});
  EXPECT_EQ(link.state(), AdapterLink::State::kIdle);
  EXPECT_FALSE(link.SendCom(QStringLiteral("22000D01")));  // the write fails: reported too
  EXPECT_EQ(errors.size(), 2);
  EXPECT_FALSE(timer->isActive());
  clock.advance(1s);
  EXPECT_EQ(timeouts, 0);
}

TEST_F(LinkFixture, BufferNeverGrowsWithoutBound) {
  link.SendCom(QStringLiteral("22000C01"));
  const QByteArray noise(1000, 'x');
  for (int i = 0; i < 100; ++i) port.receive(noise);
  EXPECT_LE(link.buffer().size(), AdapterLink::kMaxBuffer);
  // The newest text is kept, so a reply still completes.
  port.receive("62 00 0C 1A F8 \r\r>");
  EXPECT_EQ(replies, QStringList{QStringLiteral(" 1A F8")});
}

}  // namespace
}  // namespace tarvex
