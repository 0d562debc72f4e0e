#include <gtest/gtest.h>

#include <QTextStream>

#include "report/car_report.h"
#include "report/command_line.h"
#include "report/report_html.h"
#include "tests/support/scripted_car.h"

namespace tarvex {
namespace {

using testing::FakeClock;
using testing::FakeSerialPort;
using testing::ScriptedCar;

// CAN, engine 7E8 alone: P0171 stored, permanent and its freeze frame (0x5A - 40 = 50 °C), P0420 pending;
// monitor 01 passing (0x0E66 / 8192 = 0.44995 V), 21 failing (0xD0 / 256 = 0.8125 > 0xC0 / 256).
QHash<QString, QByteArray> carWithCodes() {
  return {
      {QStringLiteral("ATDPN"), "A6"},
      {QStringLiteral("ATI"), "ELM327 v2.1"},
      {QStringLiteral("0100"), "7E8 06 41 00 BE 3E B8 11 00"},
      {QStringLiteral("0101"), "7E8 06 41 01 81 07 65 04 00"},
      {QStringLiteral("03"), "7E8 04 43 01 01 71 00 00 00"},
      {QStringLiteral("07"), "7E8 04 47 01 04 20 00 00 00"},
      {QStringLiteral("0A"), "7E8 04 4A 01 01 71 00 00 00"},
      {QStringLiteral("020200"), "7E8 05 42 02 00 01 71 00 00"},
      {QStringLiteral("020000"), "7E8 07 42 00 00 08 00 00 00"},
      {QStringLiteral("020500"), "7E8 04 42 05 00 5A 00 00 00"},
      {QStringLiteral("0902"),
       "7E8 10 14 49 02 01 32 47 31\r7E8 21 46 4B 31 45 4A 32 41\r7E8 22 39 31 33 34 35 36 37"},
      {QStringLiteral("0904"),
       "7E8 10 23 49 04 02 31 32 36\r7E8 21 35 33 39 31 37 00 00\r7E8 22 00 00 00 00 00 00 31\r"
       "7E8 23 32 36 35 36 38 34 32\r7E8 24 00 00 00 00 00 00 00\r7E8 25 00 00 00 00 00 00 00"},
      {QStringLiteral("0600"), "7E8 06 46 00 80 00 00 01 00"},
      {QStringLiteral("0620"), "7E8 06 46 20 80 00 00 00 00"},
      {QStringLiteral("0601"), "7E8 10 0A 46 01 01 0A 0E 66\r7E8 21 0C CD 10 00 00 00 00"},
      {QStringLiteral("0621"), "7E8 10 0A 46 21 80 20 00 D0\r7E8 21 00 00 00 C0 00 00 00"},
  };
}

// The same car cleared, without calibration IDs or service 06.
QHash<QString, QByteArray> carWithoutCodes() {
  QHash<QString, QByteArray> answers = carWithCodes();
  answers[QStringLiteral("0101")] = "7E8 06 41 01 00 07 65 65 00";
  answers[QStringLiteral("03")] = "7E8 02 43 00 00 00 00 00 00";
  answers[QStringLiteral("07")] = "7E8 02 47 00 00 00 00 00 00";
  answers[QStringLiteral("0A")] = "7E8 02 4A 00 00 00 00 00 00";
  for (const char* gone : {"020200", "020000", "020500", "0904", "0600", "0620", "0601", "0621"})
    answers.remove(QString::fromLatin1(gone));
  return answers;
}

struct ReportFixture : ::testing::Test {
  ReportFixture() {
    port.setNotify([this](PortEvent e) { reader.onPortEvent(e); });
    timer->setCallback([this] { reader.onReplyTimeout(); });
    reader.setDone([this](const CarReport& r) { report = r; });
  }
  QString html(const QHash<QString, QByteArray>& answers) {
    car.answers = answers;
    report.reset();
    EXPECT_TRUE(reader.read(date));
    car.runUntil(clock, [this] { return report.has_value(); });
    return report ? reportHtml(*report) : QString();
  }

  const QDateTime date{QDate(2026, 6, 1), QTime(8, 0)};
  FakeClock clock;
  FakeSerialPort port;
  ScriptedCar car{port};
  std::unique_ptr<Timer> timer = clock.createTimer();
  AdapterTraits traits;
  ReportReader reader{port, *timer, clock, traits};
  std::optional<CarReport> report;
};

TEST_F(ReportFixture, EveryPartIsThereForACarWithCodesAndForOneWithout) {
  const std::tuple<const char*, QHash<QString, QByteArray>, const char*, const char*> cases[] = {
      {"with codes", carWithCodes(),
       "2026-06-01 08:00|ELM327 v2.1 on /dev/fake0|ISO 15765-4 CAN (11 bit ID, 500 kbaud)|2G1FK1EJ2A9134567|"
       "engine (7E8): 12653917, 12656842|on (engine (7E8): 1 stored code)|stored, permanent|P0420|pending|"
       "System too lean (bank 1)|Freeze frame of P0171 (engine (7E8))|Engine coolant temperature|50 \u00b0C|"
       "Readiness|not complete|On-board tests|O2 sensor bank 1 sensor 1 (01)|0.4500|passed|"
       "catalyst bank 1 (21)|0.8125|FAILED",
       "Not read"},
      {"without codes", carWithoutCodes(),
       "2026-06-01 08:00|ELM327 v2.1 on /dev/fake0|2G1FK1EJ2A9134567|off (engine (7E8): 0 stored codes)|"
       "Trouble codes: none|Readiness|On-board tests: not supported by this car|Not read|"
       "The on-board test results (0600): no controller answered (NO DATA)|"
       "The calibration IDs (0904): no controller answered (NO DATA)",
       "Freeze frame|FAILED|P0"},
  };
  for (const auto& [name, answers, present, absent] : cases) {
    SCOPED_TRACE(name);
    reader.stop();
    const QString page = html(answers);
    ASSERT_TRUE(report);
    for (const QString& part : QString::fromUtf8(present).split(u'|'))
      EXPECT_TRUE(page.contains(part)) << part.toStdString() << "\n" << page.toStdString();
    for (const QString& part : QString::fromUtf8(absent).split(u'|'))
      EXPECT_FALSE(page.contains(part)) << part.toStdString() << "\n" << page.toStdString();
    // A controller's NO DATA to what came later is no failure of the report.
    EXPECT_FALSE(report->incomplete());
  }
  // The failed test comes before the passed one, whatever order the car gave them in.
  const QString withCodes = html(carWithCodes());
  EXPECT_LT(withCodes.indexOf(QLatin1String("0.8125")), withCodes.indexOf(QLatin1String("0.4500")));
}

// An adapter that does not know ATI fails nothing of the car.
TEST_F(ReportFixture, TheRunWritesTheFileAndEndsWithItsStatus) {
  const std::tuple<const char*, const char*, const char*, bool, int, const char*> cases[] = {
      // the request, if any, answered with `answer` instead
      {"all read", nullptr, nullptr, true, 0, "Report written to report.html"},
      {"a read failed", "0101", "CAN ERROR", true, 1, "not everything could be read"},
      {"no adapter name", "ATI", "?", true, 0, "Report written to report.html"},
      {"cannot write", nullptr, nullptr, false, 1, "Cannot create report.html: Permission denied"},
  };
  for (const auto& [what, request, answer, writable, status, told] : cases) {
    SCOPED_TRACE(what);
    FakeSerialPort device;
    ScriptedCar scripted{device};
    scripted.answers = carWithCodes();
    if (request) scripted.answers[QString::fromLatin1(request)] = answer;
    QString out, err, written;
    QTextStream outStream(&out), errStream(&err);
    const ReportWriter write = [&](const QString& html, const QString& path) -> Status {
      if (!writable) return Failure{Failure::Kind::kCreate, path, QStringLiteral("Permission denied"), {}};
      written = html;
      return {};
    };
    AdapterTraits adapter;
    ReportRun run(device, clock, adapter, QStringLiteral("report.html"), write, outStream, errStream);
    run.start(date);
    scripted.runUntil(clock, [&] { return run.status().has_value(); });
    ASSERT_TRUE(run.status());
    EXPECT_EQ(*run.status(), status);
    EXPECT_TRUE((out + err).contains(QLatin1String(told))) << (out + err).toStdString();
    if (request) {
      EXPECT_TRUE(
          written.contains(QStringLiteral("answered \"%1\" to").arg(QLatin1String(answer)).toHtmlEscaped()))
          << written.toStdString();
    }
    EXPECT_FALSE(device.isOpen());  // the port is let go
  }
}

}  // namespace
}  // namespace tarvex
