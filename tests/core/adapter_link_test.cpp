#include "link/adapter_link.h"

#include <gtest/gtest.h>

#include "link/polling_session.h"
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
  PollingSession session{port, *timer, clock, QStringLiteral("Text2")};
  AdapterLink& link = session.link();
  QStringList replies, faults;
  int timeouts = 0, setUpAgain = 0;
  QStringList bufferShown;

  void SetUp() override {
    testing::route(port, *timer, session);
    link.hooks().onReply = [this](const QString& out) { replies << out; };
    link.hooks().onTimeout = [this] { ++timeouts; };
    link.hooks().onFault = [this](const PortFailure& f) { faults << f.reason; };
    link.hooks().onSetUpAgain = [this] { ++setUpAgain; };
    link.hooks().onBufferChanged = [this](const QString& t) { bufferShown << t; };
  }
  void startSetUp(ReplyShape last = kRpm) {
    ASSERT_FALSE(session.start(setupCommands(Setup::kEnhanced), std::move(last)));
  }
  // Each line written, with the time it went out.
  QList<std::pair<QByteArray, Millis>> timedWrites;
  void recordTimes() {
    port.duringWrite = [this](const QByteArray& line) {
      timedWrites.append({line, std::chrono::duration_cast<Millis>(clock.now())});
    };
  }
};

TEST_F(LinkFixture, WorkedExampleInChunks) {
  port.open();
  link.SendCom(QStringLiteral("22000C01"), kRpm);
  EXPECT_EQ(port.writes(), QList<QByteArray>{"22000C01\r"});  // a lone CR ends every command
  link.setBuffer(QString());
  for (const char* chunk : {"2200", "0C01\r62 0", "0 0C 1A F", "8\r", ">"}) {
    EXPECT_TRUE(replies.isEmpty());
    port.receive(chunk);
  }
  ASSERT_EQ(replies, QStringList{QStringLiteral(" 1A F8")});
  EXPECT_EQ(link.buffer(), QString());
  EXPECT_EQ(bufferShown.last(), QString());
  EXPECT_TRUE(link.idle());
  EXPECT_FALSE(timer->isActive());
}

TEST_F(LinkFixture, ReplyTimerGivesUpAfter150MillisecondsAndOnlyOnItsOwnRequest) {
  port.open();
  link.SendCom(QStringLiteral("22000C01"), kRpm);
  clock.advance(149ms);
  EXPECT_EQ(timeouts, 0);
  clock.advance(1ms);
  EXPECT_EQ(timeouts, 1);
  EXPECT_TRUE(link.idle());
  // Text that comes while nothing is awaited stays for the next request; a
  // late answer carrying the prefix asked for again is taken for it.
  port.receive("62 00 0C 0B B8 \r\r>");
  EXPECT_TRUE(replies.isEmpty());
  link.SendCom(QStringLiteral("22000C01"), kRpm);
  port.receive("22000C01\r62 00 0C 1A F8 \r\r>");
  EXPECT_EQ(replies, QStringList{QStringLiteral(" 0B B8")});
  // An expiry that comes after its request was answered belongs to nobody.
  link.onReplyTimeout();
  clock.advance(1s);
  EXPECT_EQ(timeouts, 1);
}

// The set-up goes out from the event loop: the same lines, a second apart,
// the last one awaiting its reply for 150 ms; nothing sleeps.
TEST_F(LinkFixture, SetUpIsPacedByTimersNotSleeps) {
  recordTimes();
  startSetUp(kNone);
  clock.advance(3s + 149ms);
  EXPECT_EQ(timeouts, 0);
  clock.advance(1ms);
  EXPECT_EQ(timeouts, 1);
  const QList<std::pair<QByteArray, Millis>> expected{
      {"ATZ\r", 0ms}, {"ATE1\r", 1000ms}, {"ATSH 6C 10 F1\r", 2000ms}, {"ATST 10\r", 3000ms}};
  EXPECT_EQ(timedWrites, expected);
  EXPECT_TRUE(clock.sleeps().empty());
}

// Stopped at any moment of the set-up, nothing more goes out, no timer is
// left running and the owner hears nothing more.
TEST_F(LinkFixture, StopDuringTheSetUpSendsNothingMore) {
  for (Millis at : {0ms, 500ms, 1000ms, 2999ms, 3000ms, 3100ms}) {
    FakeClock c;
    FakeSerialPort p;
    std::unique_ptr<Timer> t = c.createTimer();
    PollingSession s(p, *t, c);
    testing::route(p, *t, s);
    int heard = 0;
    s.hooks().onTimeout = [&] { ++heard; };
    s.hooks().onReply = [&](const QString&) { ++heard; };
    ASSERT_FALSE(s.start(setupCommands(Setup::kStandard), kSpeed));
    c.advance(at);
    const qsizetype sent = p.writes().size();
    heard = 0;
    s.stop();
    c.advance(10s);
    EXPECT_EQ(p.writes().size(), sent) << at.count();
    EXPECT_TRUE(p.writesWhileClosed().isEmpty()) << at.count();
    EXPECT_EQ(heard, 0) << at.count();
    EXPECT_TRUE(s.link().idle());
  }
}

// A failure of something the owner asked for comes back from the call and
// nowhere else; the hook tells what the link runs into on its own.
TEST_F(LinkFixture, FailuresGoOneWay) {
  port.failOpenWith(QStringLiteral("No such file or directory"));
  std::optional<PortFailure> failure = session.start(setupCommands(Setup::kEnhanced), kRpm);
  ASSERT_TRUE(failure);
  EXPECT_EQ(failure->what, PortFailure::What::kOpen);
  EXPECT_EQ(failure->message(), "Cannot open the serial port /dev/fake0: No such file or directory");
  port.failOpenWith({});

  startSetUp();
  port.fail(QStringLiteral("Input/output error"));  // noticed between two set-up lines
  EXPECT_EQ(faults, QStringList{"Input/output error"});
  EXPECT_FALSE(port.isOpen());
  clock.advance(10s);
  EXPECT_EQ(faults.size(), 1);

  faults.clear();
  failure = session.SendCom(QStringLiteral("22000D01"), kRpm);
  ASSERT_TRUE(failure);
  EXPECT_EQ(failure->what, PortFailure::What::kLost);
  EXPECT_TRUE(faults.isEmpty());
  EXPECT_FALSE(timer->isActive());
  clock.advance(1s);
  EXPECT_EQ(timeouts, 0);
}

// A port still looking for its line speed gets the set-up once it is ready;
// a stop meanwhile means nothing is ever sent.
TEST_F(LinkFixture, SetUpWaitsForAPortThatIsGettingReady) {
  port.delayReady(true);
  startSetUp();
  EXPECT_TRUE(session.gettingReady());
  clock.advance(5s);
  EXPECT_TRUE(port.writes().isEmpty());
  port.becomeReady(true);
  EXPECT_EQ(port.writes(), QList<QByteArray>{"ATZ\r"});

  session.stop();
  port.clearWrites();
  startSetUp();
  session.stop();
  port.becomeReady(true);
  clock.advance(5s);
  EXPECT_TRUE(port.writes().isEmpty());

  startSetUp();
  port.becomeReady(false);
  EXPECT_EQ(faults.size(), 1);
  EXPECT_FALSE(port.isOpen());
}

TEST_F(LinkFixture, AdapterThatResetsItselfIsSetUpAgainLineByLine) {
  startSetUp();
  port.receive("ATZ\r\r\rELM327 v1.5\r\r>");  // our own reset's banner
  clock.advance(3s);
  port.receive("ATST 10\rOK\r\r>");
  clock.advance(150ms);
  EXPECT_EQ(timeouts, 1);
  port.open();
  link.SendCom(QStringLiteral("22000C01"), kRpm);
  port.clearWrites();
  port.receive("22000C01\r\r\rELM327 v1.5\r\r>");  // a supply dip: the adapter starts afresh
  EXPECT_EQ(port.writes(), QList<QByteArray>{"ATE1\r"});
  port.receive("ATE1\rOK\r\r>");
  clock.advance(150ms);  // no prompt for this one: its time-out moves on
  port.receive("ATST 10\rOK\r\r>");
  EXPECT_EQ(port.writes(), (QList<QByteArray>{"ATE1\r", "ATSH 6C 10 F1\r", "ATST 10\r"}));
  EXPECT_EQ(setUpAgain, 1);
  EXPECT_TRUE(replies.isEmpty());
  EXPECT_EQ(timeouts, 1);
}

TEST_F(LinkFixture, BufferNeverGrowsWithoutBound) {
  port.open();
  link.SendCom(QStringLiteral("22000C01"), kRpm);
  const QByteArray noise(1000, 'x');
  for (int i = 0; i < 100; ++i) port.receive(noise);
  EXPECT_LE(link.buffer().size(), AdapterLink::kMaxBuffer);
  // The newest text is kept, so a reply still completes.
  port.receive("62 00 0C 1A F8 \r\r>");
  EXPECT_EQ(replies, QStringList{QStringLiteral(" 1A F8")});
}

}  // namespace
}  // namespace tarvex
