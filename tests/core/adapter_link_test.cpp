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

// What a case is, the buffer, the reply's shape, and the data found.
const std::tuple<const char*, QString, ReplyShape, std::optional<QString>> kChecks[] = {
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
  for (const auto& [name, buffer, shape, out] : kChecks) EXPECT_EQ(checkReply(buffer, shape), out) << name;
  EXPECT_EQ(checkReply(QString(), kNone), std::nullopt);
}

// Checking only the new text finds the same reply at the same character as the whole check.
TEST(ReplyCheck, GrowingBufferCompletesWhereTheWholeCheckDoes) {
  for (const auto& [name, buffer, shape, out] : kChecks) {
    for (qsizetype step : {1, 2, 5}) {
      ReplyCheck check(shape);
      std::optional<QString> incremental, whole;
      qsizetype incrementalAt = -1, wholeAt = -1;
      for (qsizetype n = 1; n <= buffer.size(); ++n) {
        if (n % step != 0 && n != buffer.size()) continue;  // arrivals of `step` characters
        const QStringView seen = QStringView(buffer).left(n);
        if (incrementalAt < 0 && (incremental = check.check(seen))) incrementalAt = n;
        if (wholeAt < 0 && (whole = checkReply(seen, shape))) wholeAt = n;
      }
      EXPECT_EQ(std::pair(incremental, incrementalAt), std::pair(whole, wholeAt)) << name << " step " << step;
    }
  }
}

struct LinkFixture : ::testing::Test {
  FakeClock clock;
  FakeSerialPort port;
  std::unique_ptr<Timer> timer = clock.createTimer();
  AdapterLink link{port, *timer, clock, QStringLiteral("Text2")};
  QStringList replies, bufferShown;
  int timeouts = 0, setUpAgain = 0;

  void SetUp() override {
    testing::route(port, *timer, link);
    link.hooks().onReply = [this](const AdapterLink::Reply& r) { replies << r.out; };
    link.hooks().onTimeout = [this] { ++timeouts; };
    link.hooks().onSetUpAgain = [this] { ++setUpAgain; };
    link.hooks().onBufferChanged = [this](const QString& t) { bufferShown << t; };
    port.open();
  }
};

TEST_F(LinkFixture, WorkedExampleInChunks) {
  ASSERT_TRUE(link.SendCom(QStringLiteral("22000C01"), kRpm));
  EXPECT_EQ(port.writes(), QList<QByteArray>{"22000C01\r"});  // a lone CR ends every command
  link.setBuffer(QString());
  for (const char* chunk : {"2200", "0C01\r62 0", "0 0C 1A F", "8\r", ">"}) {
    EXPECT_TRUE(replies.isEmpty());
    port.receive(chunk);
  }
  ASSERT_EQ(replies, QStringList{QStringLiteral(" 1A F8")});
  EXPECT_EQ(std::pair(link.buffer(), bufferShown.last()), std::pair(QString(), QString()));
  EXPECT_TRUE(link.idle());
  EXPECT_FALSE(timer->isActive());
}

TEST_F(LinkFixture, ReplyTimerGivesUpAfter150MillisecondsAndOnlyOnItsOwnRequest) {
  ASSERT_TRUE(link.SendCom(QStringLiteral("22000C01"), kRpm));
  clock.advance(149ms);
  EXPECT_EQ(timeouts, 0);
  clock.advance(1ms);
  EXPECT_EQ(timeouts, 1);
  EXPECT_TRUE(link.idle());
  // A late answer stays in the buffer and is taken for the same request asked again.
  port.receive("62 00 0C 0B B8 \r\r>");
  EXPECT_TRUE(replies.isEmpty());
  ASSERT_TRUE(link.SendCom(QStringLiteral("22000C01"), kRpm));
  port.receive("22000C01\r62 00 0C 1A F8 \r\r>");
  EXPECT_EQ(replies, QStringList{QStringLiteral(" 0B B8")});
  // An expiry that comes after its request was answered belongs to nobody.
  link.onReplyTimeout();
  clock.advance(1s);
  EXPECT_EQ(timeouts, 1);
}

// A busy adapter would take a command's first character as "stop": wait for its prompt, or kBusyPatience.
TEST_F(LinkFixture, CommandWaitsForTheBusyAdaptersPrompt) {
  const ReplyShape kIat{QStringLiteral("62 00 0F"), 8, 1};
  ASSERT_TRUE(link.SendCom(QStringLiteral("22000C01"), kRpm));
  port.receive("22000C01\r");
  clock.advance(kReplyTimeout);
  port.clearWrites();
  ASSERT_TRUE(link.SendCom(QStringLiteral("22000D01"), kSpeed));
  EXPECT_EQ(port.writes(), QList<QByteArray>());
  port.receive("62 00 0C 1A F8 \r\r>");
  EXPECT_EQ(port.writes(), QList<QByteArray>{"22000D01\r"});

  port.receive("22000D01\r");
  clock.advance(kReplyTimeout);
  port.clearWrites();
  ASSERT_TRUE(link.SendCom(QStringLiteral("22000F01"), kIat));
  clock.advance(kBusyPatience - 1ms);
  EXPECT_EQ(port.writes(), QList<QByteArray>());
  clock.advance(1ms);
  EXPECT_EQ(port.writes(), QList<QByteArray>{"22000F01\r"});

  clock.advance(kReplyTimeout);  // nothing at all came back
  port.clearWrites();
  ASSERT_TRUE(link.SendCom(QStringLiteral("22001101"), kRpm));
  EXPECT_EQ(port.writes(), QList<QByteArray>{"22001101\r"});
  EXPECT_EQ(timeouts, 3);
}

// "LV RESET": nothing is written until the banner's prompt, even past the time-out; then set-up again.
TEST_F(LinkFixture, AdapterThatSaysItRestartsIsWrittenToOnlyAfterItsBanner) {
  link.rememberSetUp(setupCommands(Setup::kEnhanced));
  ASSERT_TRUE(link.SendCom(QStringLiteral("22000C01"), kRpm));
  port.clearWrites();
  port.receive("22000C01\rLV RESET\r");
  clock.advance(900ms);  // the simulated adapter's restart
  EXPECT_EQ(port.writes(), QList<QByteArray>());
  EXPECT_EQ(timeouts, 0);
  port.receive("\r\rELM327 v1.5\r\r>");
  EXPECT_EQ(port.writes(), QList<QByteArray>{"ATE1\r"});
  for (const char* answer : {"ATE1\rOK\r\r>", "ATSH 6C 10 F1\rOK\r\r>", "ATST 10\rOK\r\r>"})
    port.receive(answer);
  EXPECT_EQ(setUpAgain, 1);
}

TEST_F(LinkFixture, BufferNeverGrowsWithoutBound) {
  ASSERT_TRUE(link.SendCom(QStringLiteral("22000C01"), kRpm));
  const QByteArray noise(1000, 'x');
  for (int i = 0; i < 100; ++i) port.receive(noise);
  EXPECT_LE(link.buffer().size(), AdapterLink::kMaxBuffer);  // keeping the newest text
  port.receive("62 00 0C 1A F8 \r\r>");
  EXPECT_EQ(replies, QStringList{QStringLiteral(" 1A F8")});
}

struct SessionFixture : ::testing::Test {
  FakeClock clock;
  FakeSerialPort port;
  std::unique_ptr<Timer> timer = clock.createTimer();
  AdapterTraits traits;
  PollingSession session{port, *timer, clock, traits};
  QStringList failures;
  std::vector<Result<Reply>> results;

  SessionFixture() {
    testing::route(port, *timer, session);
    session.setFailureHandler([this](const Failure& f) { failures << f.reason; });
  }
  void ask(const QString& command, int answers = 0, int retries = 0) {
    session.send(Request{command, answers, 1000ms, retries, std::nullopt, false},
                 [this](const Result<Reply>& r) { results.push_back(r); });
  }
  // The echo of the line last written, then `text`.
  void answer(const QByteArray& text) {
    port.receive(port.writes().last().chopped(1) + '\r' + text + "\r\r>");
  }
};

// Each adapter word is its own failure, data beside a word is not trusted, silence is the adapter's.
TEST_F(SessionFixture, EveryAdapterWordIsAFailureOfItsOwn) {
  using enum Failure::Kind;
  // The adapter's answer, and the failure it is (reason nullptr: none, a value).
  const std::tuple<const char*, Failure::Kind, const char*> rows[] = {
      {"41 0C 1A F8", kNoAnswer, nullptr},
      {"NO DATA", kNoAnswer, "NO DATA"},
      {"SEARCHING...\rUNABLE TO CONNECT", kAdapter, "UNABLE TO CONNECT"},
      {"BUS INIT: ...ERROR", kAdapter, "BUS INIT: ...ERROR"},
      {"CAN ERROR", kAdapter, "CAN ERROR"},
      {"BUS BUSY", kAdapter, "BUS BUSY"},
      {"?", kAdapter, "?"},
      {"41 0C 1A F8 <DATA ERROR", kAdapter, "<DATA ERROR"},
      {"43 01 71 03 00\rBUFFER FULL", kAdapter, "BUFFER FULL"},
      {"ERR94", kAdapter, "ERR94"},
      {"ACT ALERT", kAdapter, "ACT ALERT"},
      {"FB ERROR", kAdapter, "FB ERROR"},
      {"BUS INIT: ...OK\r41 0C 1A F8", kNoAnswer, nullptr}};
  port.open();
  for (const auto& [said, kind, reason] : rows) {
    results.clear();
    ask(QStringLiteral("010C"));
    answer(said);
    ASSERT_EQ(results.size(), 1u) << said;
    const Result<Reply>& r = results[0];
    ASSERT_EQ(bool(r), !reason) << said;
    if (r) {
      EXPECT_EQ(r->lines.last(), QStringLiteral("41 0C 1A F8"));
      continue;
    }
    const Failure& f = r.failure();
    EXPECT_EQ(f.kind, kind) << said;
    EXPECT_EQ(
        QStringList({f.reason, f.request, f.subject}),
        QStringList({QString::fromLatin1(reason), QStringLiteral("010C"), QStringLiteral("/dev/fake0")}));
  }
  // Nothing, or nothing readable, in the request's patience.
  for (const QByteArray& heard : {QByteArray(), QByteArray("\xC3\xA9\x9F")}) {
    results.clear();
    ask(QStringLiteral("010C"));
    if (!heard.isEmpty()) port.receive(heard);
    clock.advance(999ms);
    EXPECT_TRUE(results.empty());
    clock.advance(1ms);
    ASSERT_EQ(results.size(), 1u);
    EXPECT_TRUE(results[0].failure().is(Failure::Kind::kSilent));
    EXPECT_EQ(results[0].failure().reason, heard.isEmpty() ? QString() : QStringLiteral("garbled"));
  }
}

// STOPPED is asked again as the request allows; a refused count digit is dropped for good.
TEST_F(SessionFixture, RetriesAndACountDigitTheAdapterRefuses) {
  port.open();
  ask(QStringLiteral("03"), 0, 1);
  answer("STOPPED");
  answer("43 00");
  ask(QStringLiteral("010C0D"), 2);
  answer("?");
  answer("41 0C 1A F8 0D 3C\r41 0D 3C");
  ASSERT_EQ(results.size(), 2u);
  EXPECT_TRUE(results[0] && results[1]);
  ask(QStringLiteral("010C"), 1);
  EXPECT_EQ(port.writes(), (QList<QByteArray>{"03\r", "03\r", "010C0D2\r", "010C0D\r", "010C\r"}));
  EXPECT_EQ(traits.countDigit, AdapterTraits::Support::kNo);
}

// Silence at the reset on a guessed speed looks for the speed once and begins again.
TEST_F(SessionFixture, SilenceOrABusyAdapterAtTheResetBeginsItAgain) {
  QList<Status> done;
  port.allowSpeedSearch(true);
  ASSERT_TRUE(session.start({{QStringLiteral("ATZ")}, {QStringLiteral("ATE1")}},
                            [&](const Status& s) { done << s; }));
  clock.advance(kResetPatience);
  EXPECT_EQ(port.speedSearches(), 1);
  port.becomeReady(true);
  answer("ELM327 v1.5");
  answer("OK");
  EXPECT_EQ(port.writes(), (QList<QByteArray>{"ATZ\r", "ATZ\r", "ATE1\r"}));

  // A busy adapter stops at the reset's first character and refuses the rest: the reset again, once.
  port.clearWrites();
  ASSERT_TRUE(session.start({{QStringLiteral("ATZ")}}, [&](const Status& s) { done << s; }));
  port.receive("\rSTOPPED\r\r>TZ\r?\r\r>");
  EXPECT_EQ(port.writes(), (QList<QByteArray>{"ATZ\r", "ATZ\r"}));
  answer("ELM327 v1.5");
  ASSERT_EQ(done.size(), 2);
  EXPECT_TRUE(done[0] && done[1]);
}

// A failure of a call comes back from it; the handler tells only what the session meets on its own.
TEST_F(SessionFixture, FailuresGoOneWay) {
  port.failOpenWith(QStringLiteral("No such file or directory"));
  Status started = session.startPaced(setupCommands(Setup::kEnhanced), kRpm, {});
  ASSERT_FALSE(started);
  EXPECT_TRUE(started.failure().is(Failure::Kind::kOpen));
  EXPECT_EQ(started.failure().reason, QStringLiteral("No such file or directory"));
  port.failOpenWith({});

  ASSERT_TRUE(session.startPaced(setupCommands(Setup::kEnhanced), kRpm, {}));
  port.fail(QStringLiteral("Input/output error"));  // noticed between two set-up lines
  EXPECT_EQ(failures, QStringList{"Input/output error"});
  EXPECT_FALSE(port.isOpen());
  clock.advance(10s);
  EXPECT_EQ(failures.size(), 1);
  EXPECT_FALSE(timer->isActive());
}

// The set-up waits for a port finding its speed; a stop meanwhile means nothing is sent.
TEST_F(SessionFixture, SetUpWaitsForAPortThatIsGettingReady) {
  port.delayReady(true);
  ASSERT_TRUE(session.startPaced(setupCommands(Setup::kEnhanced), kRpm, {}));
  EXPECT_TRUE(session.gettingReady());
  clock.advance(5s);
  EXPECT_TRUE(port.writes().isEmpty());
  port.becomeReady(true);
  EXPECT_EQ(port.writes(), QList<QByteArray>{"ATZ\r"});

  session.stop();
  port.clearWrites();
  ASSERT_TRUE(session.startPaced(setupCommands(Setup::kEnhanced), kRpm, {}));
  session.stop();
  port.becomeReady(true);
  clock.advance(5s);
  EXPECT_TRUE(port.writes().isEmpty());

  ASSERT_TRUE(session.startPaced(setupCommands(Setup::kEnhanced), kRpm, {}));
  port.becomeReady(false);
  EXPECT_EQ(failures.size(), 1);
  EXPECT_FALSE(port.isOpen());
}

}  // namespace
}  // namespace tarvex
