// Trouble codes in words over a scripted adapter: every answer format, the
// freeze frame of the code that stored it, the protocol, and clearing.
#include "codes/codes_reader.h"

#include <gtest/gtest.h>

#include <QTextStream>

#include "codes/command_line.h"
#include "codes/report_text.h"
#include "tests/support/scripted_car.h"

namespace tarvex {
namespace {

using testing::FakeClock;
using testing::FakeSerialPort;
using testing::ScriptedCar;

// A J1850 VPW engine controller (sender 10) with headers on: P0171 stored and
// pending, P0300 stored, a freeze frame stored by P0171 holding coolant
// temperature, engine speed and road speed.
QHash<QString, QByteArray> vpwCar() {
  return {
      {QStringLiteral("ATDPN"), "A2"},
      {QStringLiteral("0100"), "SEARCHING...\r48 6B 10 41 00 BE 1F B8 10 C5"},
      {QStringLiteral("0101"), "48 6B 10 41 01 82 07 65 04 A1"},
      {QStringLiteral("03"), "48 6B 10 43 01 71 03 00 00 00 5E"},
      {QStringLiteral("07"), "48 6B 10 47 01 71 00 00 00 00 12"},
      {QStringLiteral("020200"), "48 6B 10 42 02 00 01 71 33"},
      {QStringLiteral("020000"), "48 6B 10 42 00 00 48 18 00 00 C2"},
      {QStringLiteral("020500"), "48 6B 10 42 05 00 7B 10"},
      {QStringLiteral("020C00"), "48 6B 10 42 0C 00 1A F8 20"},
      {QStringLiteral("020D00"), "48 6B 10 42 0D 00 32 44"},
      {QStringLiteral("0902"),
       "48 6B 10 49 02 01 00 00 00 31 11\r48 6B 10 49 02 02 47 31 4A 43 22\r"
       "48 6B 10 49 02 03 35 34 34 34 33\r48 6B 10 49 02 04 52 37 32 35 44\r"
       "48 6B 10 49 02 05 32 33 36 37 55"},
  };
}

// ISO 15765-4 CAN 11-bit, headers on: engine 7E8 with four stored codes over
// two frames and P0171 permanent, transmission 7E9 with P0700; the engine's
// freeze frame was stored by P0300, and the transmission answers the frame's
// requests too, first.
QHash<QString, QByteArray> canCar() {
  return {
      {QStringLiteral("ATDPN"), "A6"},
      {QStringLiteral("0100"), "7E8 06 41 00 BE 3E B8 11 00"},
      {QStringLiteral("0101"), "7E8 06 41 01 84 07 65 04 00\r7E9 06 41 01 01 00 00 00 00"},
      {QStringLiteral("03"),
       "7E8 10 0A 43 04 01 71 03 00\r7E9 04 43 01 07 00 00 00 00\r7E8 21 01 01 04 20 00 00 00"},
      {QStringLiteral("07"), "7E8 02 47 00 00 00 00 00 00"},
      {QStringLiteral("0A"), "7E8 04 4A 01 01 71 00 00 00"},
      {QStringLiteral("020200"), "7E8 05 42 02 00 03 00 00 00\r7E9 05 42 02 00 00 00 00 00"},
      {QStringLiteral("020000"), "7E9 07 42 00 00 00 08 00 00\r7E8 07 42 00 00 08 00 00 00"},
      {QStringLiteral("020500"), "7E9 04 42 05 00 FF 00 00 00\r7E8 04 42 05 00 5A 00 00 00"},
  };
}

// Answers from a script, and remembers what it was asked and how much had been written then.
struct ScriptedConfirm final : Confirm {
  ScriptedConfirm(bool yes, const FakeSerialPort& device) : answer(yes), port(device) {}
  bool ask(const QString& question) override {
    questions << question;
    writesBefore = port.writes().size();
    return answer;
  }
  bool answer;
  const FakeSerialPort& port;
  QStringList questions;
  qsizetype writesBefore = -1;
};

struct CodesFixture : ::testing::Test {
  CodesFixture() {
    port.setNotify([this](PortEvent e) { reader.onPortEvent(e); });
    timer->setCallback([this] { reader.onReplyTimeout(); });
    reader.setDone([this](const CodesReport& r) { report = r; });
  }
  // A read from the start, as a click on Read does.
  void read(const QHash<QString, QByteArray>& answers) {
    reader.stop();
    car.answers = answers;
    report.reset();
    ASSERT_TRUE(reader.read());
    car.runUntil(clock, [this] { return report.has_value(); });
    ASSERT_TRUE(report) << car.sent.join(QLatin1Char(' ')).toStdString();
  }

  FakeClock clock;
  FakeSerialPort port;
  ScriptedCar car{port};
  std::unique_ptr<Timer> timer = clock.createTimer();
  AdapterTraits traits;
  CodesReader reader{port, *timer, clock, traits};
  std::optional<CodesReport> report;
};

// Each controller's codes with their status; the search runs on 0100, which
// every car answers, and the protocol is asked right after it.
TEST_F(CodesFixture, EveryAnswerFormatGivesEachControllersCodesWithTheirStatus) {
  const struct {
    const char* car;
    QHash<QString, QByteArray> answers;
    char protocol;
    QStringList codes;  // code, controller, status
  } rows[] = {
      {"VPW", vpwCar(), '2', {"P0171 10 stored, pending", "P0300 10 stored"}},
      {"CAN",
       canCar(),
       '6',
       {"P0101 7E8 stored", "P0171 7E8 stored, permanent", "P0300 7E8 stored", "P0420 7E8 stored",
        "P0700 7E9 stored"}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.car);
    read(row.answers);
    ASSERT_TRUE(report->protocol);
    EXPECT_EQ(report->protocol->number, row.protocol);
    QStringList got;
    for (const CodeEntry& c : report->codes) got << c.code + u' ' + c.source + u' ' + c.status();
    EXPECT_EQ(got, row.codes);
    EXPECT_EQ(car.sent.mid(car.sent.indexOf(QStringLiteral("ATSP0")), 4),
              (QStringList{QStringLiteral("ATSP0"), QStringLiteral("0100"), QStringLiteral("ATDPN"),
                           QStringLiteral("0101")}));
  }
}

TEST_F(CodesFixture, ReadinessAndTheFreezeFrameOfTheCodeThatStoredItFromItsOwnController) {
  read(canCar());
  ASSERT_EQ(report->readiness.size(), 2u);
  EXPECT_EQ(report->readiness[0].source, QLatin1String("7E8"));
  EXPECT_EQ(report->readiness[0].readiness.storedCodes, 4);
  ASSERT_TRUE(report->freezeFrame);
  EXPECT_EQ(report->freezeFrame->code, QLatin1String("P0300"));
  EXPECT_EQ(report->freezeFrame->source, QLatin1String("7E8"));
  ASSERT_EQ(report->freezeFrame->values.size(), 1u);  // not the transmission's 0x05
  EXPECT_EQ(report->freezeFrame->values[0].pid, 0x05);
  EXPECT_DOUBLE_EQ(report->freezeFrame->values[0].value.readings.at(0).value, 50.0);  // 0x5A - 40

  read(vpwCar());
  ASSERT_TRUE(report->freezeFrame);
  EXPECT_EQ(report->freezeFrame->code, QLatin1String("P0171"));
  std::vector<std::pair<int, double>> values;
  for (const obd::FrozenValue& v : report->freezeFrame->values)
    values.emplace_back(v.pid, v.value.readings.at(0).value);
  // 0x7B - 40 °C; 0x1AF8 / 4 rpm; 0x32 km/h. PID 02 (the code itself) is not a value.
  EXPECT_EQ(values, (std::vector<std::pair<int, double>>{{0x05, 83.0}, {0x0C, 1726.0}, {0x0D, 50.0}}));
  EXPECT_TRUE(reportText(*report).contains(QLatin1String("Freeze frame of P0171 (engine (10))")));
  // In US units: 83 * 1.8 + 32 = 181.4 °F, 50 / 1.609344 = 31.07 mph; engine speed as it is.
  const QString us = reportText(*report, UnitChoice::us());
  for (const char* value : {": 181.4 \u00B0F\n", ": 31.07 mph\n", ": 1726 rpm\n"})
    EXPECT_TRUE(us.contains(QString::fromUtf8(value))) << value << us.toStdString();
}

TEST_F(CodesFixture, ClearingAsksFirstAndReadsAgainARefusalSendsNothing) {
  car.answers = vpwCar();
  car.onLine = [this](const QString& line) {
    if (line == QLatin1String("04")) {
      car.answers[QStringLiteral("04")] = "48 6B 10 44 5B";
      car.answers[QStringLiteral("03")] = "48 6B 10 43 00 00 00 00 00 00 9C";
      car.answers.remove(QStringLiteral("07"));
      car.answers.remove(QStringLiteral("020200"));
    }
  };
  ScriptedConfirm no(false, port);
  const Result<bool> agreed = reader.clear(no);
  car.runUntil(
      clock, [] { return false; }, Millis{5000});
  ASSERT_TRUE(agreed);
  EXPECT_FALSE(*agreed);
  EXPECT_EQ(no.questions, QStringList{QStringLiteral("Clear all trouble codes and freeze frames?")});
  EXPECT_TRUE(port.writes().isEmpty());  // not even the port was opened
  EXPECT_FALSE(report);

  ScriptedConfirm yes(true, port);
  ASSERT_TRUE(reader.clear(yes));
  car.runUntil(clock, [this] { return report.has_value(); });
  ASSERT_TRUE(report);
  EXPECT_EQ(yes.writesBefore, 0);
  const qsizetype cleared = car.sent.indexOf(QStringLiteral("04"));
  ASSERT_GE(cleared, 0);
  EXPECT_GT(car.sent.indexOf(QStringLiteral("03"), cleared), cleared);  // read again after
  EXPECT_TRUE(report->cleared);
  EXPECT_TRUE(report->codes.empty());
  EXPECT_FALSE(report->freezeFrame);
}

// A read the adapter answered with one of its words is a failure naming the
// word, never "none"; the rest of the report stands.
TEST_F(CodesFixture, AFailedReadIsToldWithTheAdaptersWordNeverAsNone) {
  struct Row {
    const char* request;
    const char* answer;
    const char* reason;
  };
  const Row rows[] = {
      {"03", "CAN ERROR", "CAN ERROR"},
      {"03", "STOPPED", "STOPPED"},  // asked again once, and stopped again
      {"03", "?", "?"},
      {"03", "7E8 06 43 02 01 71 03 00 <DATA ERROR", "<DATA ERROR"},
      {"03", "7E8 10 0A 43 04 01 71 03 00\rBUFFER FULL", "BUFFER FULL"},
      {"0101", "BUS BUSY", "BUS BUSY"},
      {"020200", "BUS ERROR", "BUS ERROR"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.answer);
    QHash<QString, QByteArray> answers = canCar();
    answers[QString::fromLatin1(row.request)] = row.answer;
    read(answers);
    const Failure* failure = report->failure(QString::fromLatin1(row.request));
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->reason, QString::fromLatin1(row.reason));
    EXPECT_TRUE(report->incomplete());
    const QString text = reportText(*report);
    EXPECT_FALSE(text.contains(QLatin1String("none"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QLatin1String(row.reason))) << text.toStdString();
  }
  // No controller answering what older cars lack is told, and is no failure.
  QHash<QString, QByteArray> answers = canCar();
  answers.remove(QStringLiteral("0A"));
  answers[QStringLiteral("03")] = "7E8 02 43 00\r7E9 02 43 00";
  answers[QStringLiteral("07")] = "7E8 02 47 00";
  answers[QStringLiteral("0101")] = "7E8 06 41 01 00 07 65 04 00";
  read(answers);
  EXPECT_FALSE(report->incomplete());
  const QString text = reportText(*report);
  EXPECT_TRUE(text.contains(QLatin1String("Trouble codes: none (asked: 03, 07)"))) << text.toStdString();
  EXPECT_TRUE(text.contains(QLatin1String("Permanent trouble codes (0A): no controller answered (NO DATA)")))
      << text.toStdString();
}

// A lamp's count that differs from the codes listed is told; an answer with a
// frame missing is told, and none of it shown.
TEST_F(CodesFixture, CountsThatDisagreeAndAnswersWithAFrameMissing) {
  read(canCar());  // the engine counts 4 stored codes and lists 4
  EXPECT_TRUE(report->countMismatches().isEmpty());
  QHash<QString, QByteArray> answers = canCar();
  answers[QStringLiteral("0101")] = "7E8 06 41 01 85 07 65 04 00\r7E9 06 41 01 01 00 00 00 00";
  answers[QStringLiteral("07")] = "7E8 10 0A 47 04 01 71 03 00";  // its consecutive frame never came
  read(answers);
  EXPECT_EQ(report->countMismatches(), QStringList{QStringLiteral("7E8")});
  EXPECT_TRUE(reportText(*report).contains(QLatin1String("engine (7E8) counts 5 stored codes but listed 4")));
  const Failure* broken = report->failure(QStringLiteral("07"));
  ASSERT_TRUE(broken);
  EXPECT_TRUE(broken->is(Failure::Kind::kBroken));
  EXPECT_FALSE(
      std::any_of(report->codes.begin(), report->codes.end(), [](const CodeEntry& c) { return c.pending; }));
}

// Clones: ATDPN refused (the protocol from ATDP, or from the answers' form),
// ATH1 ignored (the answers read as one controller without an address).
TEST_F(CodesFixture, ClonesThatRefuseOrIgnoreCommandsStillGiveTheCodes) {
  QHash<QString, QByteArray> answers = canCar();
  answers[QStringLiteral("ATDPN")] = "?";
  answers[QStringLiteral("ATDP")] = "AUTO, ISO 15765-4 (CAN 11/500)";
  read(answers);
  ASSERT_TRUE(report->protocol);
  EXPECT_EQ(report->protocol->number, '6');
  EXPECT_EQ(report->codes.size(), 5u);
  EXPECT_TRUE(traits.refused.contains(QStringLiteral("ATDPN")));

  answers[QStringLiteral("ATDP")] = "?";
  read(answers);
  ASSERT_TRUE(report->protocol);
  EXPECT_EQ(report->protocol->bus, obd::Bus::kCan11);
  EXPECT_EQ(report->codes.size(), 5u);
  EXPECT_FALSE(car.sent.mid(car.sent.lastIndexOf(QStringLiteral("ATSP0"))).contains(QStringLiteral("ATDPN")));

  traits = AdapterTraits{};
  // Without addresses, the engine's and the gearbox's answers are one
  // controller's (the search's dots before the first answer, as a clone prints them).
  read({{QStringLiteral("ATDPN"), "A6"},
        {QStringLiteral("0100"), "SEARCHING...\r...41 00 BE 3E B8 11\r41 00 80 18 00 10"},
        {QStringLiteral("0101"), "41 01 82 07 65 04\r41 01 00 04 00 00"},
        {QStringLiteral("03"), "43 02 01 71 03 00\r43 00"}});
  EXPECT_TRUE(traits.headersIgnored);
  ASSERT_EQ(report->codes.size(), 2u);
  EXPECT_EQ(report->codes[0].code, QStringLiteral("P0171"));
  EXPECT_EQ(report->codes[0].source, QString());
  ASSERT_EQ(report->readiness.size(), 1u);
  EXPECT_TRUE(report->readiness[0].readiness.milOn);
  EXPECT_EQ(report->readiness[0].readiness.storedCodes, 2);
  EXPECT_TRUE(report->countMismatches().isEmpty());
}

// The command line's runs on the same scripted car, into strings.
struct CommandFixture : ::testing::Test {
  int run(CodesCommand command, Confirm& confirm) {
    CommandRun r(command, port, clock, traits, confirm, out, err);
    r.start();
    car.runUntil(clock, [&] { return r.status().has_value(); });
    return r.status().value_or(-1);
  }
  std::string said() const { return (output + QStringLiteral("|") + errors).toStdString(); }
  void reset() {
    output.clear();
    errors.clear();
    car.sent.clear();
    car.silent = false;
    car.answers = vpwCar();
  }

  FakeClock clock;
  FakeSerialPort port;
  ScriptedCar car{port};
  AdapterTraits traits;
  QString output, errors, input;
  QTextStream out{&output}, err{&errors}, in{&input};
};

TEST_F(CommandFixture, FailuresExitNonZeroWithTheReasonOnStderr) {
  struct Row {
    const char* what;
    std::function<void()> arrange;
    CodesCommand command;
    const char* reason;
  };
  const std::vector<Row> rows{
      {"silent adapter", [this] { car.silent = true; }, CodesCommand::kCodes,
       "No answer from the adapter on /dev/fake0 to the adapter's reset (ATZ)"},
      {"no car", [this] { car.answers[QStringLiteral("0100")] = "SEARCHING...\rUNABLE TO CONNECT"; },
       CodesCommand::kCodes,
       "\"UNABLE TO CONNECT\" to the supported parameters (0100): the adapter found no car"},
      {"no VIN", [this] { car.answers = canCar(); }, CodesCommand::kVin,
       "The VIN (0902): no controller answered (NO DATA)."},
      {"port", [this] { port.failOpenWith(QStringLiteral("Permission denied")); }, CodesCommand::kCodes,
       "Permission denied"},
  };
  AlwaysYes yes;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    reset();
    row.arrange();
    EXPECT_EQ(run(row.command, yes), 1) << said();
    EXPECT_TRUE(errors.contains(QLatin1String(row.reason))) << said();
    EXPECT_TRUE(output.isEmpty()) << said();
  }
}

TEST_F(CommandFixture, ClearCodesAsksOnATerminalAndRefusesWithoutOne) {
  struct Row {
    const char* what;
    bool terminal;
    const char* typed;
    int status;
    bool sent04;
    const char* said;
  };
  const std::vector<Row> rows{
      {"no terminal", false, "y\n", 1, false, "add --yes"},
      {"no", true, "n\n", 1, false, "not cleared"},
      {"just Enter", true, "\n", 1, false, "not cleared"},
      {"yes", true, "y\n", 0, true, "cleared."},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    reset();
    car.answers[QStringLiteral("04")] = "48 6B 10 44 5B";
    input = QString::fromLatin1(row.typed);
    in.seek(0);
    QString question;
    QTextStream asked(&question);
    TerminalConfirm confirm(in, asked, row.terminal);
    EXPECT_EQ(run(CodesCommand::kClearCodes, confirm), row.status) << said();
    EXPECT_EQ(car.sent.contains(QStringLiteral("04")), row.sent04);
    EXPECT_TRUE((output + errors).contains(QLatin1String(row.said))) << said();
    EXPECT_EQ(question,
              row.terminal ? QStringLiteral("Clear all trouble codes and freeze frames? [y/N] ") : QString());
  }
}

}  // namespace
}  // namespace tarvex
