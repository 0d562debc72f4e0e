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

// J1850 VPW, headers on, engine (10): P0171 stored and pending, P0300 stored; P0171's freeze frame.
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

// CAN 11-bit, headers on: engine 7E8 with four codes over two frames, P0171 permanent, P0300's freeze
// frame; transmission 7E9 with P0700, which answers the frame's requests too, first.
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
  // "code controller status; ..."
  QString codes() const {
    QStringList out;
    for (const CodeEntry& c : report->codes) out << c.code + u' ' + c.source + u' ' + c.status();
    return out.join(QStringLiteral("; "));
  }

  FakeClock clock;
  FakeSerialPort port;
  ScriptedCar car{port};
  std::unique_ptr<Timer> timer = clock.createTimer();
  AdapterTraits traits;
  CodesReader reader{port, *timer, clock, traits};
  std::optional<CodesReport> report;
};

// The search runs on 0100, which every car answers, and the protocol is asked right after it.
TEST_F(CodesFixture, EveryAnswerFormatGivesEachControllersCodesWithTheirStatus) {
  const std::tuple<const char*, QHash<QString, QByteArray>, char, const char*> rows[] = {
      {"VPW", vpwCar(), '2', "P0171 10 stored, pending; P0300 10 stored"},
      {"CAN", canCar(), '6',
       "P0101 7E8 stored; P0171 7E8 stored, permanent; P0300 7E8 stored; P0420 7E8 stored; P0700 7E9 stored"},
  };
  for (const auto& [name, answers, protocol, expected] : rows) {
    SCOPED_TRACE(name);
    read(answers);
    EXPECT_EQ(report->protocol.value().number, protocol);
    EXPECT_EQ(codes(), QLatin1String(expected));
    EXPECT_EQ(car.sent.mid(car.sent.indexOf(QStringLiteral("ATSP0")), 4).join(u' '), "ATSP0 0100 ATDPN 0101");
  }
}

TEST_F(CodesFixture, ReadinessAndTheFreezeFrameOfTheCodeThatStoredItFromItsOwnController) {
  read(canCar());
  EXPECT_TRUE(report->countMismatches().isEmpty());  // the engine counts 4 stored codes and lists 4
  ASSERT_EQ(report->readiness.size(), 2u);
  EXPECT_EQ(report->readiness[0].source, QLatin1String("7E8"));
  EXPECT_EQ(report->readiness[0].readiness.storedCodes, 4);
  using Frozen = std::vector<std::pair<int, double>>;
  auto frozen = [this] {
    Frozen values;
    for (const obd::FrozenValue& v : report->freezeFrame.value().values)
      values.emplace_back(v.pid, v.value.readings.at(0).value);
    return values;
  };
  EXPECT_EQ(report->freezeFrame.value().code + report->freezeFrame->source, QLatin1String("P03007E8"));
  EXPECT_EQ(frozen(), (Frozen{{0x05, 50.0}}));  // 0x5A - 40 °C, not the transmission's

  read(vpwCar());
  EXPECT_EQ(report->freezeFrame.value().code, QLatin1String("P0171"));
  // 0x7B - 40 °C; 0x1AF8 / 4 rpm; 0x32 km/h. PID 02 (the code itself) is not a value.
  EXPECT_EQ(frozen(), (Frozen{{0x05, 83.0}, {0x0C, 1726.0}, {0x0D, 50.0}}));
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
  EXPECT_EQ(agreed.value(), false);
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
  EXPECT_TRUE(report->cleared && report->codes.empty() && !report->freezeFrame);
}

TEST_F(CodesFixture, AFailedReadIsToldWithTheAdaptersWordNeverAsNone) {
  const std::tuple<const char*, const char*, const char*> rows[] = {
      {"03", "CAN ERROR", "CAN ERROR"},
      {"03", "STOPPED", "STOPPED"},  // asked again once, and stopped again
      {"03", "?", "?"},
      {"03", "7E8 06 43 02 01 71 03 00 <DATA ERROR", "<DATA ERROR"},
      {"03", "7E8 10 0A 43 04 01 71 03 00\rBUFFER FULL", "BUFFER FULL"},
      {"0101", "BUS BUSY", "BUS BUSY"},
      {"020200", "BUS ERROR", "BUS ERROR"},
  };
  for (const auto& [request, answer, reason] : rows) {
    SCOPED_TRACE(answer);
    QHash<QString, QByteArray> answers = canCar();
    answers[QString::fromLatin1(request)] = answer;
    read(answers);
    const Failure* failure = report->failure(QString::fromLatin1(request));
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->reason, QString::fromLatin1(reason));
    EXPECT_TRUE(report->incomplete());
    const QString text = reportText(*report);
    EXPECT_FALSE(text.contains(QLatin1String("none"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QLatin1String(reason))) << text.toStdString();
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

TEST_F(CodesFixture, CountsThatDisagreeAndAnswersWithAFrameMissing) {
  QHash<QString, QByteArray> answers = canCar();
  answers[QStringLiteral("0101")] = "7E8 06 41 01 85 07 65 04 00\r7E9 06 41 01 01 00 00 00 00";
  answers[QStringLiteral("07")] = "7E8 10 0A 47 04 01 71 03 00";  // its consecutive frame never came
  read(answers);
  EXPECT_EQ(report->countMismatches(), QStringList{QStringLiteral("7E8")});
  EXPECT_TRUE(reportText(*report).contains(QLatin1String("engine (7E8) counts 5 stored codes but listed 4")));
  const Failure* broken = report->failure(QStringLiteral("07"));
  EXPECT_TRUE(broken && broken->is(Failure::Kind::kBroken));
  EXPECT_FALSE(codes().contains(QLatin1String("pending"))) << codes().toStdString();
}

// ATDPN refused: the protocol from ATDP, or from the answers' form; ATH1 ignored: one controller.
TEST_F(CodesFixture, ClonesThatRefuseOrIgnoreCommandsStillGiveTheCodes) {
  QHash<QString, QByteArray> answers = canCar();
  answers[QStringLiteral("ATDPN")] = "?";
  answers[QStringLiteral("ATDP")] = "AUTO, ISO 15765-4 (CAN 11/500)";
  read(answers);
  EXPECT_EQ(report->protocol.value().number, '6');
  EXPECT_EQ(report->codes.size(), 5u);
  EXPECT_TRUE(traits.refused.contains(QStringLiteral("ATDPN")));

  answers[QStringLiteral("ATDP")] = "?";
  read(answers);
  EXPECT_EQ(report->protocol.value().bus, obd::Bus::kCan11);
  EXPECT_EQ(report->codes.size(), 5u);
  EXPECT_FALSE(car.sent.mid(car.sent.lastIndexOf(QStringLiteral("ATSP0"))).contains(QStringLiteral("ATDPN")));

  traits = AdapterTraits{};
  // The search's dots run into the first answer, as a clone prints them.
  read({{QStringLiteral("ATDPN"), "A6"},
        {QStringLiteral("0100"), "SEARCHING...\r...41 00 BE 3E B8 11\r41 00 80 18 00 10"},
        {QStringLiteral("0101"), "41 01 82 07 65 04\r41 01 00 04 00 00"},
        {QStringLiteral("03"), "43 02 01 71 03 00\r43 00"}});
  EXPECT_TRUE(traits.headersIgnored);
  EXPECT_EQ(codes(), QLatin1String("P0171  stored; P0300  stored"));  // no controller's address
  ASSERT_EQ(report->readiness.size(), 1u);
  EXPECT_EQ(std::pair(report->readiness[0].readiness.milOn, report->readiness[0].readiness.storedCodes),
            std::pair(true, 2));
  EXPECT_TRUE(report->countMismatches().isEmpty());
}

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
  const std::vector<std::tuple<const char*, std::function<void()>, CodesCommand, const char*>> rows{
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
  for (const auto& [what, arrange, command, reason] : rows) {
    SCOPED_TRACE(what);
    reset();
    arrange();
    EXPECT_EQ(run(command, yes), 1) << said();
    EXPECT_TRUE(errors.contains(QLatin1String(reason))) << said();
    EXPECT_TRUE(output.isEmpty()) << said();
  }
}

TEST_F(CommandFixture, ClearCodesAsksOnATerminalAndRefusesWithoutOne) {
  const std::tuple<const char*, bool, const char*, int, bool, const char*> rows[] = {
      {"no terminal", false, "y\n", 1, false, "add --yes"},
      {"no", true, "n\n", 1, false, "not cleared"},
      {"just Enter", true, "\n", 1, false, "not cleared"},
      {"yes", true, "y\n", 0, true, "cleared."},
  };
  for (const auto& [what, terminal, typed, status, sent04, told] : rows) {
    SCOPED_TRACE(what);
    reset();
    car.answers[QStringLiteral("04")] = "48 6B 10 44 5B";
    input = QString::fromLatin1(typed);
    in.seek(0);
    QString question;
    QTextStream asked(&question);
    TerminalConfirm confirm(in, asked, terminal);
    EXPECT_EQ(run(CodesCommand::kClearCodes, confirm), status) << said();
    EXPECT_EQ(car.sent.contains(QStringLiteral("04")), sent04);
    EXPECT_TRUE((output + errors).contains(QLatin1String(told))) << said();
    EXPECT_EQ(question,
              terminal ? QStringLiteral("Clear all trouble codes and freeze frames? [y/N] ") : QString());
  }
}

}  // namespace
}  // namespace tarvex
