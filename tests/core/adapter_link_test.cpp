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

// The link alone, its hooks heard by the test.
struct LinkFixture : ::testing::Test {
  FakeClock clock;
  FakeSerialPort port;
  std::unique_ptr<Timer> timer = clock.createTimer();
  AdapterLink link{port, *timer, clock, QStringLiteral("Text2")};
  QStringList replies, faults;
  int timeouts = 0, setUpAgain = 0;
  QStringList bufferShown;

  void SetUp() override {
    testing::route(port, *timer, link);
    link.hooks().onReply = [this](const AdapterLink::Reply& r) { replies << r.out; };
    link.hooks().onTimeout = [this] { ++timeouts; };
    link.hooks().onFault = [this](const Failure& f) { faults << f.reason; };
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
  EXPECT_EQ(link.buffer(), QString());
  EXPECT_EQ(bufferShown.last(), QString());
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
  // Text that comes while nothing is awaited stays for the next request; a
  // late answer carrying the prefix asked for again is taken for it.
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

// A command for an adapter still answering the last one (it echoed that, and
// no prompt came yet) waits for the prompt: the adapter would take its first
// character as an order to stop, and lose it. One that never prompts gets the
// command after kBusyPatience; a silent one at once.
TEST_F(LinkFixture, CommandWaitsForTheBusyAdaptersPrompt) {
  const ReplyShape kIat{QStringLiteral("62 00 0F"), 8, 1};
  ASSERT_TRUE(link.SendCom(QStringLiteral("22000C01"), kRpm));
  port.receive("22000C01\r");
  clock.advance(kReplyTimeout);
  ASSERT_EQ(timeouts, 1);
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

// An adapter that says it restarts ("LV RESET") hears nothing until its
// banner's prompt: nothing is written before it, not even when the request's
// time runs out; then it is set up again.
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
  EXPECT_LE(link.buffer().size(), AdapterLink::kMaxBuffer);
  // The newest text is kept, so a reply still completes.
  port.receive("62 00 0C 1A F8 \r\r>");
  EXPECT_EQ(replies, QStringList{QStringLiteral(" 1A F8")});
}

// A session over the link: requests through its queue, its set-ups, and
// failures told one way each.
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
  // The adapter's text for the line last written: its echo, then `answer`.
  void answer(const QByteArray& text) {
    port.receive(port.writes().last().chopped(1) + '\r' + text + "\r\r>");
  }
};

// The adapter's words are failures naming the word; data with a word beside
// it is not trusted; silence is the adapter's, never the car's.
TEST_F(SessionFixture, EveryAdapterWordIsAFailureOfItsOwn) {
  struct Row {
    const char* answer;
    Failure::Kind kind;
    const char* reason;
  };
  const Row rows[] = {
      {"41 0C 1A F8", Failure::Kind::kNoAnswer, nullptr},  // no failure: a value
      {"NO DATA", Failure::Kind::kNoAnswer, "NO DATA"},
      {"SEARCHING...\rUNABLE TO CONNECT", Failure::Kind::kAdapter, "UNABLE TO CONNECT"},
      {"BUS INIT: ...ERROR", Failure::Kind::kAdapter, "BUS INIT: ...ERROR"},
      {"CAN ERROR", Failure::Kind::kAdapter, "CAN ERROR"},
      {"BUS BUSY", Failure::Kind::kAdapter, "BUS BUSY"},
      {"?", Failure::Kind::kAdapter, "?"},
      {"41 0C 1A F8 <DATA ERROR", Failure::Kind::kAdapter, "<DATA ERROR"},
      {"43 01 71 03 00\rBUFFER FULL", Failure::Kind::kAdapter, "BUFFER FULL"},
      {"ERR94", Failure::Kind::kAdapter, "ERR94"},
      {"ACT ALERT", Failure::Kind::kAdapter, "ACT ALERT"},
      {"FB ERROR", Failure::Kind::kAdapter, "FB ERROR"},
      {"BUS INIT: ...OK\r41 0C 1A F8", Failure::Kind::kNoAnswer, nullptr},
  };
  port.open();
  for (const Row& row : rows) {
    results.clear();
    ask(QStringLiteral("010C"));
    answer(row.answer);
    ASSERT_EQ(results.size(), 1u) << row.answer;
    const Result<Reply>& r = results[0];
    if (!row.reason) {
      ASSERT_TRUE(r) << row.answer;
      EXPECT_EQ(r->lines.last(), QStringLiteral("41 0C 1A F8"));
      continue;
    }
    ASSERT_FALSE(r) << row.answer;
    EXPECT_EQ(r.failure().kind, row.kind) << row.answer;
    EXPECT_EQ(r.failure().reason, QString::fromLatin1(row.reason));
    EXPECT_EQ(r.failure().request, QStringLiteral("010C"));
    EXPECT_EQ(r.failure().subject, QStringLiteral("/dev/fake0"));
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

// STOPPED and silence are asked again as often as the request allows; a
// count digit refused is dropped for good, the request asked again without.
TEST_F(SessionFixture, RetriesAndACountDigitTheAdapterRefuses) {
  port.open();
  ask(QStringLiteral("03"), 0, 1);
  answer("STOPPED");
  answer("43 00");
  ASSERT_EQ(results.size(), 1u);
  EXPECT_TRUE(results[0]);
  EXPECT_EQ(port.writes(), (QList<QByteArray>{"03\r", "03\r"}));

  port.clearWrites();
  results.clear();
  ask(QStringLiteral("010C0D"), 2);
  answer("?");
  answer("41 0C 1A F8 0D 3C\r41 0D 3C");
  ASSERT_EQ(results.size(), 1u);
  EXPECT_TRUE(results[0]);
  ask(QStringLiteral("010C"), 1);
  EXPECT_EQ(port.writes(), (QList<QByteArray>{"010C0D2\r", "010C0D\r", "010C\r"}));
  EXPECT_EQ(traits.countDigit, AdapterTraits::Support::kNo);
}

// Silence at the reset on a guessed speed looks for the speed once and begins
// again, each line on its prompt. (An optional line refused is passed:
// StandardPoller.CountDigit...; a required one ends the set-up: the codes
// command's FailuresExitNonZero...)
TEST_F(SessionFixture, SilenceOrABusyAdapterAtTheResetBeginsItAgain) {
  QList<Status> done;
  port.allowSpeedSearch(true);
  ASSERT_TRUE(session.start({{QStringLiteral("ATZ")}, {QStringLiteral("ATE1")}},
                            [&](const Status& s) { done << s; }));
  clock.advance(kResetPatience);
  EXPECT_EQ(port.speedSearches(), 1);
  port.becomeReady(true);
  answer("ELM327 v1.5");
  EXPECT_EQ(port.writes().last(), "ATE1\r");
  answer("OK");
  ASSERT_EQ(done.size(), 1);
  EXPECT_TRUE(done[0]);
  EXPECT_EQ(port.writes(), (QList<QByteArray>{"ATZ\r", "ATZ\r", "ATE1\r"}));

  // An adapter still busy for another window stops at the reset's first
  // character and refuses the rest: the reset goes out again, once.
  done.clear();
  port.clearWrites();
  ASSERT_TRUE(session.start({{QStringLiteral("ATZ")}}, [&](const Status& s) { done << s; }));
  port.receive("\rSTOPPED\r\r>TZ\r?\r\r>");
  EXPECT_EQ(port.writes(), (QList<QByteArray>{"ATZ\r", "ATZ\r"}));
  answer("ELM327 v1.5");
  ASSERT_EQ(done.size(), 1);
  EXPECT_TRUE(done[0]);
}

// A failure of something asked for comes back from the call and nowhere
// else; the handler tells what the session runs into on its own.
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

// A port still looking for its line speed gets the set-up once it is ready;
// a stop meanwhile means nothing is ever sent.
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
