#include "scan/csv_log.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QTemporaryDir>
#include <functional>
#include <future>

#include "tests/support/layout_boxes.h"

namespace tarvex {
namespace {

TEST(CsvLog, HeaderIsExact) {
  EXPECT_EQ(csvHeader(), QByteArray("RPM,Speed,IAT,ERT,MAF,LOAD,TPS,MAP,Timing,Coolant,"
                                    "KR,STFTB1,LTFTB1,STFTB2,LTFTB2,Gear,Volts,AFR,O2B1S1V,O2B1S2V,O2B2S1V,"
                                    "O2B2S2V,FuelStatusB1,FuelStatusB2,EGRD%,EGRA%,EGRDC,Time,\r\n"));
}

// Columns follow the log's order, not the scan's; the trouble-code count and
// the trims are not logged; a field that would shift the columns is quoted.
TEST(CsvLog, LineHoldsTheLoggedBoxesInColumnOrder) {
  MemoryBoxes boxes = testing::boxesFromLayout();
  boxes.setText(Box::kMAF, QStringLiteral("3,5"));
  boxes.setText(Box::kTPS, QStringLiteral("say \"hi\""));
  boxes.setText(Box::kDTC, QStringLiteral("7"));
  boxes.setText(Box::kO2B1S1T, QStringLiteral("-0.78125"));
  EXPECT_EQ(
      csvLine(boxes, QStringLiteral("06.12.26 20:00:00")),
      QByteArray("RPM,Speed,IAT,Runtime,\"3,5\",LOAD,\"say \"\"hi\"\"\",MAP,Timing,Coolant,Knock Retard,"
                 "STFTB1,LTFTB1,STFTB2,LTFTB2,Gear,Volts,AFR,O2B1S1,O2B1S2,O2B2S1,O2B2S2,"
                 "Fuel System Status B1,Fuel System Status B2,EGRDP,EGRAP,EGRDC,06.12.26 20:00:00\r\n"));
}

TEST(CsvLog, TimeIsTheShortDateAndTheLongTimeWithoutZone) {
  const QDateTime when(QDate(2026, 12, 6), QTime(20, 5, 9));
  EXPECT_EQ(logTimeText(when, QLocale(QLocale::English, QLocale::UnitedStates)),
            QStringLiteral("12/6/26 8:05:09 PM"));
  EXPECT_EQ(logTimeText(when, QLocale(QLocale::German, QLocale::Germany)),
            QStringLiteral("06.12.26 20:05:09"));
}

QByteArray contents(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// A log of the test's own, the boxes as a fresh window shows them, and a time.
struct LogFile {
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("log.csv"));
  const MemoryBoxes boxes = testing::boxesFromLayout();
  const QDateTime when{QDate(2026, 12, 6), QTime(20, 0)};
  const QByteArray line = csvLine(boxes, logTimeText(when, QLocale::c()));
};

// Only a regular file (or a path where one can be made) is a log; anything
// else (a FIFO, a folder, a device) is refused with the reason, and opening never waits: not for a
// named pipe's reader either. An old log is emptied first.
TEST(CsvLog, OnlyARegularFileIsALogAndOpeningNeverWaits) {
  QTemporaryDir dir;
  const auto at = [&](const char* name) { return dir.filePath(QLatin1String(name)); };
  const QByteArray fifo = QFile::encodeName(at("fifo"));
  ASSERT_EQ(::mkfifo(fifo.constData(), 0600), 0);
  ASSERT_EQ(::mkfifo(QFile::encodeName(at("read-fifo")).constData(), 0600), 0);
  const int reader = ::open(QFile::encodeName(at("read-fifo")).constData(), O_RDONLY | O_NONBLOCK);
  ASSERT_TRUE(QFile(at("old.csv")).open(QIODevice::WriteOnly));
  ASSERT_TRUE(QFile::link(at("fifo"), at("link-to-fifo")));
  ASSERT_TRUE(QFile::link(at("old.csv"), at("link-to-file")));
  const struct {
    QString path;
    QString reason;  // empty: opened
  } cases[] = {
      {at("fifo"), QStringLiteral("it is a named pipe (FIFO), not a regular file")},
      {at("read-fifo"), QStringLiteral("it is a named pipe (FIFO), not a regular file")},
      {at("link-to-fifo"), QStringLiteral("it is a named pipe (FIFO), not a regular file")},
      {dir.path(), QStringLiteral("it is a folder, not a regular file")},
      {QStringLiteral("/dev/null"), QStringLiteral("it is a device, not a regular file")},
      {at("no-such-folder/log.csv"), QStringLiteral("No such file or directory")},
      {at("new.csv"), QString()},
      {at("link-to-file"), QString()},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path.toStdString());
    ASSERT_TRUE(QFile::resize(at("old.csv"), 100));
    CsvLog log;
    std::future<Status> opening = std::async(std::launch::async, [&] { return log.open(c.path); });
    if (opening.wait_for(std::chrono::seconds(10)) == std::future_status::timeout) {
      ::close(::open(fifo.constData(), O_RDONLY | O_NONBLOCK));  // lets the waiting open go
      ADD_FAILURE() << "opening waited";
    }
    const Status opened = opening.get();
    EXPECT_EQ(opened ? QString() : opened.failure().reason, c.reason);
    EXPECT_EQ(log.isOpen(), c.reason.isEmpty());
    if (log.isOpen()) {
      EXPECT_EQ(contents(c.path), csvHeader());
    }
  }
  ::close(reader);
}

// Every line is on disk before the next round: synced right after its bytes
// (the header too), and once more at the close.
TEST(CsvLog, EveryLineIsSyncedAsSoonAsItIsWritten) {
  LogFile f;
  struct Counting final : LogFileCalls {
    QStringList calls;
    ssize_t write(int fd, const char* data, std::size_t size) override {
      calls << QStringLiteral("write");
      return LogFileCalls::write(fd, data, size);
    }
    int sync(int fd) override {
      calls << QStringLiteral("sync");
      return LogFileCalls::sync(fd);
    }
    int truncate(int fd, off_t length) override {
      calls << QStringLiteral("truncate");
      return LogFileCalls::truncate(fd, length);
    }
  } counting;
  CsvLog log(counting);
  ASSERT_TRUE(log.open(f.path));
  for (int row = 0; row < 2; ++row) ASSERT_TRUE(log.writeRow(f.boxes, f.when));
  ASSERT_TRUE(log.close());
  EXPECT_EQ(counting.calls,
            (QStringList{"truncate", "write", "sync", "write", "sync", "write", "sync", "sync"}));
}

// A full disk in the middle of a line: the line is cut off again, the log
// closed, and the file keeps its complete lines.
TEST(CsvLog, FullDiskLeavesTheCompleteLines) {
  LogFile f;
  struct Full final : LogFileCalls {
    int writes = 0;
    ssize_t write(int fd, const char* data, std::size_t size) override {
      if (++writes < 3) return LogFileCalls::write(fd, data, size);  // the header and a line
      if (writes == 3) return LogFileCalls::write(fd, data, size / 2);
      errno = EFBIG;
      return -1;
    }
  } full;
  CsvLog log(full);
  ASSERT_TRUE(log.open(f.path));
  ASSERT_TRUE(log.writeRow(f.boxes, f.when, QLocale::c()));
  const Status written = log.writeRow(f.boxes, f.when, QLocale::c());
  ASSERT_FALSE(written);
  EXPECT_EQ(written.failure().reason, QStringLiteral("File too large"));
  EXPECT_FALSE(log.isOpen());
  EXPECT_EQ(contents(f.path), csvHeader() + f.line);
}

// A second writer is told the file is in use, and the first keeps writing
// its lines into a file nobody emptied; once it closes, the file is free.
TEST(CsvLog, SecondWriterIsToldTheLogIsInUse) {
  LogFile f;
  CsvLog first, second;
  ASSERT_TRUE(first.open(f.path));
  ASSERT_TRUE(first.writeRow(f.boxes, f.when, QLocale::c()));
  const Status refused = second.open(f.path);
  ASSERT_FALSE(refused);
  EXPECT_EQ(refused.failure().reason,
            QStringLiteral("it is in use by another program (another Tarvex logging to it?)"));
  EXPECT_FALSE(second.isOpen());
  ASSERT_TRUE(first.writeRow(f.boxes, f.when, QLocale::c()));
  EXPECT_EQ(contents(f.path), csvHeader() + f.line + f.line);
  EXPECT_TRUE(first.close());
  EXPECT_TRUE(second.open(f.path));
}

// A file another program cut short or wrote to since our last line is not
// written on (which would leave a hole of zero bytes, or mix the lines): the
// next line reports it and the log is closed, the file left as it was made.
TEST(CsvLog, FileChangedByAnotherProgramIsNoticedAtTheNextLine) {
  LogFile f;
  const struct {
    const char* change;
    std::function<void(QFile&)> make;
    QString reason;
  } cases[] = {
      {"emptied", [](QFile& other) { other.resize(0); },
       QStringLiteral("another program cut the file short while the scan ran")},
      {"appended to",
       [](QFile& other) {
         other.open(QIODevice::Append);
         other.write("theirs\r\n");
       },
       QStringLiteral("another program wrote to the file while the scan ran")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.change);
    QFile file(f.path);
    CsvLog log;
    ASSERT_TRUE(log.open(f.path));
    ASSERT_TRUE(log.writeRow(f.boxes, f.when));
    c.make(file);
    file.close();
    const QByteArray left = contents(f.path);
    const Status written = log.writeRow(f.boxes, f.when);
    ASSERT_FALSE(written);
    EXPECT_EQ(written.failure().reason, c.reason);
    EXPECT_FALSE(log.isOpen());
    EXPECT_EQ(contents(f.path), left);
  }
}

}  // namespace
}  // namespace tarvex
