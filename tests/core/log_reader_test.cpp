#include "replay/log_reader.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QBuffer>
#include <QFile>
#include <QTemporaryDir>
#include <future>

#include "core/number_text.h"
#include "scan/csv_log.h"
#include "tests/support/layout_boxes.h"

namespace tarvex {
namespace {

Series seriesOf(const Readings& readings, const char* name) {
  const int channel = readings.find(QLatin1String(name));
  return channel == Readings::kNoChannel ? Series{} : readings.series(channel);
}

// The window's log read back in its locale (two-digit years, PM, quoted decimal commas, ar_EG digits).
TEST(LogReader, ReadsBackWhatTheLogWriterWroteInEveryLocale) {
  const QDateTime first(QDate(2026, 12, 6), QTime(11, 59, 58));
  const std::vector<QDateTime> when{first, first.addSecs(1), first.addSecs(3663)};
  const std::vector<double> rpm{812.25, 2400.5, 6100};
  const std::vector<double> maf{3.5, 12.75, -0.25};
  for (const char* name : {"C", "de_DE", "en_US", "fr_FR", "ar_EG"}) {
    SCOPED_TRACE(name);
    const QLocale locale{QLatin1String(name)};
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("drive.csv"));
    MemoryBoxes boxes = testing::boxesFromLayout();
    {
      CsvLog log;
      ASSERT_TRUE(log.open(path));
      for (std::size_t i = 0; i < when.size(); ++i) {
        boxes.setText(Box::kRPM, decimalText(rpm[i], locale));
        boxes.setText(Box::kMAF, decimalText(maf[i], locale));
        // The knock retard has a number on the first line only; its placeholder follows.
        if (i < 2) boxes.setText(Box::kKR, i == 0 ? decimalText(1.5, locale) : QStringLiteral("KR"));
        boxes.setText(Box::kFuelSysStatus,
                      i == 2 ? QStringLiteral("Open Loop") : QStringLiteral("Closed Loop"));
        ASSERT_TRUE(log.writeRow(boxes, when[i], locale));
      }
    }
    LogReader reader;
    Readings readings;
    ASSERT_TRUE(reader.load(path, readings).ok());
    EXPECT_TRUE(reader.isTarvexLog() && reader.skippedLines() == 0);
    ASSERT_EQ(reader.lineCount(), 3);
    for (std::size_t i = 0; i < when.size(); ++i)
      EXPECT_EQ(reader.lineTimes()[i], when[i].toMSecsSinceEpoch()) << reader.timeForm().toStdString();
    EXPECT_EQ(seriesOf(readings, "RPM").values, std::vector<float>(rpm.begin(), rpm.end()));
    EXPECT_EQ(seriesOf(readings, "MAF").values, std::vector<float>(maf.begin(), maf.end()));
    EXPECT_EQ(seriesOf(readings, "MAF").ms, (std::vector<std::int32_t>{0, 1000, 3663000}));
    EXPECT_EQ(seriesOf(readings, "KR").values, std::vector<float>{1.5f});
    EXPECT_EQ(readings.find(QStringLiteral("FuelStatusB1")), Readings::kNoChannel);  // texts are no channel
    const Channel& rpmChannel = readings.channels()[readings.find(QStringLiteral("RPM"))];
    EXPECT_EQ(rpmChannel.title + u'|' + rpmChannel.unit, QStringLiteral("Engine speed|rpm"));
    const QStringList third = reader.fields(2);
    ASSERT_EQ(third.size(), 28);
    EXPECT_EQ(QStringList({third[22], third[4]}),
              QStringList({QStringLiteral("Open Loop"), decimalText(maf[2], locale)}));
    EXPECT_EQ(reader.timeText(reader.lineTimes()[2]), logTimeText(when[2], locale));
  }
}

// ar_EG's times with the direction marks of other locale data versions, or none.
TEST(TimeReader, ArabicIndicDigitsWithOrWithoutDirectionMarks) {
  const TimeReader reader = TimeReader::forLocale(QLocale(QStringLiteral("ar_EG")));
  const std::int64_t expected = QDateTime(QDate(2026, 12, 6), QTime(20, 5, 9)).toMSecsSinceEpoch();
  for (const char16_t* text :
       {u"\u0666\u200F/\u0661\u0662\u200F/\u0662\u0660\u0662\u0666 \u0668:\u0660\u0665:\u0660\u0669 \u0645",
        u"\u0666/\u0661\u0662/\u0662\u0660\u0662\u0666 \u0668:\u0660\u0665:\u0660\u0669 \u0645",
        u"\u061C\u0666/\u061C\u0661\u0662/\u0662\u0660\u0662\u0666 \u200F\u0668:\u0660\u0665:\u0660\u0669 "
        u"\u0645"})
    EXPECT_EQ(reader.read(QString::fromUtf16(text)), expected) << QString::fromUtf16(text).toStdString();
}

// A log given as bytes, loaded.
struct Loaded {
  explicit Loaded(const QByteArray& bytes) {
    auto buffer = std::make_unique<QBuffer>();
    buffer->setData(bytes);
    buffer->open(QIODevice::ReadOnly);
    loaded = reader.load(std::move(buffer), QStringLiteral("x.csv"), readings);
  }
  LogReader reader;
  Readings readings;
  Status loaded;
};

// Quoted fields, a trailing comma, LF or CRLF are read; bad lines skipped, the first one told.
TEST(LogReader, SkipsAndCountsLinesThatCannotBeReadAndKeepsTheRest) {
  const QByteArray log =
      "RPM,MAF,Note,Time,\r\n"                 // 1
      "800,\"3,5\",\"a \"\"b\"\", c\",10\r\n"  // 2
      "900\r\n"                                // 3: MAF missing
      "950,4,x,11,extra\r\n"                   // 4: a column too many
      "1000,4.5,\"two\nlines\",12\n"           // 5-6
      "\r\n"                                   // 7: blank, no line
      "1100,5,\"open\"x,13\r\n"                // 8: junk after the quote
      "1200,NO DATA,ok,never\r\n"              // 9: no time
      "1300,6,y,14\r\n"                        // 10
      "1400,\"7,\r\n";                         // 11: open quote to the end
  Loaded loaded(log);
  ASSERT_TRUE(loaded.loaded.ok());
  const LogReader& reader = loaded.reader;
  EXPECT_FALSE(reader.isTarvexLog());
  EXPECT_EQ(reader.timeForm(), QStringLiteral("seconds"));
  EXPECT_EQ(reader.lineTimes(), (std::vector<std::int64_t>{10000, 12000, 14000}));
  EXPECT_EQ(seriesOf(loaded.readings, "RPM").values, (std::vector<float>{800, 1000, 1300}));
  EXPECT_EQ(seriesOf(loaded.readings, "MAF").values, (std::vector<float>{3.5f, 4.5f, 6}));
  EXPECT_EQ(reader.fields(0), (QStringList{QStringLiteral("800"), QStringLiteral("3,5"),
                                           QStringLiteral("a \"b\", c"), QStringLiteral("10")}));
  EXPECT_EQ(reader.fields(1)[2], QStringLiteral("two\nlines"));
  EXPECT_EQ(std::pair(reader.fileLine(2), reader.skippedLines()), std::pair(qint64(10), qint64(5)));
  EXPECT_EQ(reader.skippedNotice(),
            QStringLiteral("5 lines could not be read; the first is line 3, column MAF"));

  // One bad line; many megabytes without a line end are one line, in however many chunks.
  for (const auto& [body, column] : std::vector<std::pair<QByteArray, const char*>>{
           {"1,2,3,4\n", "4"},
           {"1,\"x\"y,3\n", "MAF"},
           {"1,2,yesterday\n", "Time"},
           {QByteArray("1,") + QByteArray(5 << 20, '9') + "\n1,2,3\n", "MAF"}}) {
    Loaded one(QByteArray("RPM,MAF,Time\n1,2,3\n") + body);
    ASSERT_TRUE(one.loaded.ok()) << body.left(40).constData();
    EXPECT_EQ(one.reader.skippedNotice(),
              QStringLiteral("1 line could not be read: line 3, column ") + QLatin1String(column));
  }
}

// Another program's log: "name [unit]" headers, a time of its own; a number beyond a float is missing.
TEST(LogReader, HeaderOfNamesAndUnitsGivesTheChannelsTheirUnits) {
  Loaded loaded(
      "Time [ms],Engine speed [rpm],Speed,Fuel status,Speed\n"
      "0,800,12,OL,1\n"
      "250,850.5,,CL,1e39\n"
      "500,-,14,CL,3\n");
  ASSERT_TRUE(loaded.loaded.ok());
  const Readings& readings = loaded.readings;
  EXPECT_EQ(loaded.reader.lineTimes(), (std::vector<std::int64_t>{0, 250, 500}));
  const int rpm = readings.find(QStringLiteral("Engine speed"));
  ASSERT_NE(rpm, Readings::kNoChannel);
  EXPECT_EQ(readings.channels()[rpm].unit, QStringLiteral("rpm"));
  EXPECT_EQ(readings.series(rpm).values, (std::vector<float>{800, 850.5f}));
  EXPECT_EQ(seriesOf(readings, "Speed").ms, (std::vector<std::int32_t>{0, 500}));
  EXPECT_EQ(readings.find(QStringLiteral("Fuel status")), Readings::kNoChannel);
  EXPECT_EQ(seriesOf(readings, "Speed (column 5)").values, (std::vector<float>{1, 3}));
  EXPECT_EQ(loaded.reader.fields(2)[3], QStringLiteral("CL"));

  // ISO 8601 times, and a log dated backwards keeps the cursor's order.
  Loaded iso("Timestamp,RPM\n2026-12-06T10:00:01Z,1\n2026-12-06T10:00:00Z,2\n");
  ASSERT_TRUE(iso.loaded.ok());
  EXPECT_EQ(iso.reader.timeForm(), QStringLiteral("ISO 8601"));
  const std::int64_t t = QDateTime(QDate(2026, 12, 6), QTime(10, 0, 1), Qt::UTC).toMSecsSinceEpoch();
  EXPECT_EQ(iso.reader.lineTimes(), (std::vector<std::int64_t>{t, t}));
}

// What is no log is refused naming the file and why.
TEST(LogReader, RefusesWhatIsNoLogSayingWhy) {
  QTemporaryDir dir;
  LogReader reader;
  Readings readings;
  const auto refusal = [&](const QString& path) {
    const Status loaded = reader.load(path, readings);
    return loaded ? QString() : loaded.failure().subject + u'|' + loaded.failure().reason;
  };
  const QString missing = dir.filePath(QStringLiteral("gone.csv"));
  EXPECT_EQ(refusal(missing), missing + QStringLiteral("|No such file or directory"));
  EXPECT_EQ(refusal(dir.path()), dir.path() + QStringLiteral("|it is a folder, not a log"));
  // Refused without waiting for a writer that never comes.
  const QString fifo = dir.filePath(QStringLiteral("fifo"));
  ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
  std::future<QString> opening = std::async(std::launch::async, refusal, fifo);
  if (opening.wait_for(std::chrono::seconds(10)) == std::future_status::timeout) {
    ::close(::open(QFile::encodeName(fifo).constData(), O_WRONLY | O_NONBLOCK));  // lets the open go
    ADD_FAILURE() << "opening waited";
  }
  EXPECT_EQ(opening.get(), fifo + QStringLiteral("|it is a named pipe (FIFO), not a log"));
  EXPECT_EQ(refusal(QStringLiteral("/dev/null")), QStringLiteral("/dev/null|it is a device, not a log"));

  for (const auto& [bytes, reason] : std::vector<std::pair<QByteArray, const char*>>{
           {"", "it is empty"},
           {QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16), "it is not text"},
           {"Name,Phone\nAnn,555\n", "its first line names no Time column"},
           {"RPM,Time,\r\n", "it holds no line that could be read"},
           {"RPM,Time,\r\n800\r\n", "it holds no line that could be read"},
           {"RPM,Time\n1,soon\n2,later\n", "its Time column holds no time it can read (\u201Csoon\u201D)"},
       }) {
    Loaded loaded(bytes);
    ASSERT_FALSE(loaded.loaded.ok()) << bytes.constData();
    EXPECT_TRUE(loaded.loaded.failure().is(Failure::Kind::kInvalid));
    EXPECT_EQ(loaded.loaded.failure().reason,
              QStringLiteral("not a Tarvex log: ") + QString::fromUtf8(reason));
    EXPECT_EQ(loaded.reader.lineCount(), 0);
  }
}

}  // namespace
}  // namespace tarvex
