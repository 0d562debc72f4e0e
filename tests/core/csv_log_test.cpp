#include "scan/csv_log.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QTemporaryDir>
#include <future>

#include "tests/support/layout_boxes.h"

namespace tarvex {
namespace {

// The header, a line, and the time in a line: exact.
TEST(CsvLog, HeaderLineAndTimeAreExact) {
  EXPECT_EQ(csvHeader(), QByteArray("RPM,Speed,IAT,ERT,MAF,LOAD,TPS,MAP,Timing,Coolant,"
                                    "KR,STFTB1,LTFTB1,STFTB2,LTFTB2,Gear,Volts,AFR,O2B1S1V,O2B1S2V,O2B2S1V,"
                                    "O2B2S2V,FuelStatusB1,FuelStatusB2,EGRD%,EGRA%,EGRDC,Time,\r\n"));
  // The log's column order, not the scan's; no code count; a field that would shift the columns is quoted.
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
  // The short date and the long time, without the zone.
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

struct LogFile {
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("log.csv"));
  const MemoryBoxes boxes = testing::boxesFromLayout();
  const QDateTime when{QDate(2026, 12, 6), QTime(20, 0)};
  const QByteArray line = csvLine(boxes, logTimeText(when, QLocale::c()));
};

// Only a regular file is a log, opened without waiting for a FIFO's reader; an old log is emptied.
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
  // A path, and why it is refused (empty: opened).
  const std::pair<QString, QString> cases[] = {
      {at("fifo"), QStringLiteral("it is a named pipe (FIFO), not a regular file")},
      {at("read-fifo"), QStringLiteral("it is a named pipe (FIFO), not a regular file")},
      {at("link-to-fifo"), QStringLiteral("it is a named pipe (FIFO), not a regular file")},
      {dir.path(), QStringLiteral("it is a folder, not a regular file")},
      {QStringLiteral("/dev/null"), QStringLiteral("it is a device, not a regular file")},
      {at("no-such-folder/log.csv"), QStringLiteral("No such file or directory")},
      {at("new.csv"), QString()},
      {at("link-to-file"), QString()},
  };
  for (const auto& [path, reason] : cases) {
    SCOPED_TRACE(path.toStdString());
    ASSERT_TRUE(QFile::resize(at("old.csv"), 100));
    CsvLog log;
    std::future<Status> opening = std::async(std::launch::async, [&] { return log.open(path); });
    if (opening.wait_for(std::chrono::seconds(10)) == std::future_status::timeout) {
      ::close(::open(fifo.constData(), O_RDONLY | O_NONBLOCK));  // lets the waiting open go
      ADD_FAILURE() << "opening waited";
    }
    const Status opened = opening.get();
    EXPECT_EQ(opened ? QString() : opened.failure().reason, reason);
    EXPECT_EQ(log.isOpen(), reason.isEmpty());
    EXPECT_TRUE(!log.isOpen() || contents(path) == csvHeader());
  }
  ::close(reader);
}

// Every line (the header too) is synced right after its bytes, and once more at the close.
TEST(CsvLog, EveryLineIsSyncedAsSoonAsItIsWritten) {
  LogFile f;
  struct Counting final : LogFileCalls {
    QString calls;  // truncate, write, sync
    ssize_t write(int fd, const char* d, std::size_t n) override {
      return calls += u'w', LogFileCalls::write(fd, d, n);
    }
    int sync(int fd) override { return calls += u's', LogFileCalls::sync(fd); }
    int truncate(int fd, off_t n) override { return calls += u't', LogFileCalls::truncate(fd, n); }
  } counting;
  CsvLog log(counting);
  ASSERT_TRUE(log.open(f.path));
  for (int row = 0; row < 2; ++row) ASSERT_TRUE(log.writeRow(f.boxes, f.when));
  ASSERT_TRUE(log.close());
  EXPECT_EQ(counting.calls, QStringLiteral("twswswss"));
}

// A disk full in mid-line: the part line is cut off, the log closed, the complete lines kept.
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
  EXPECT_EQ(written ? QString() : written.failure().reason, QStringLiteral("File too large"));
  EXPECT_FALSE(log.isOpen());
  EXPECT_EQ(contents(f.path), csvHeader() + f.line);
}

// A second writer is refused and empties nothing; once the first closes, the file is free.
TEST(CsvLog, SecondWriterIsToldTheLogIsInUse) {
  LogFile f;
  CsvLog first, second;
  ASSERT_TRUE(first.open(f.path));
  ASSERT_TRUE(first.writeRow(f.boxes, f.when, QLocale::c()));
  const Status refused = second.open(f.path);
  EXPECT_EQ(refused ? QString() : refused.failure().reason,
            QStringLiteral("it is in use by another program (another Tarvex logging to it?)"));
  EXPECT_FALSE(second.isOpen());
  ASSERT_TRUE(first.writeRow(f.boxes, f.when, QLocale::c()));
  EXPECT_EQ(contents(f.path), csvHeader() + f.line + f.line);
  EXPECT_TRUE(first.close());
  EXPECT_TRUE(second.open(f.path));
}

// A file another program cut short or wrote to is left as it is (no zeros, no mixed lines).
TEST(CsvLog, FileChangedByAnotherProgramIsNoticedAtTheNextLine) {
  LogFile f;
  for (const bool appended : {false, true}) {
    QFile file(f.path);
    CsvLog log;
    ASSERT_TRUE(log.open(f.path));
    ASSERT_TRUE(log.writeRow(f.boxes, f.when));
    ASSERT_TRUE(appended ? file.open(QIODevice::Append) && file.write("theirs\r\n") == 8 : file.resize(0));
    file.close();
    const QByteArray left = contents(f.path);
    const Status written = log.writeRow(f.boxes, f.when);
    EXPECT_EQ(written ? QString() : written.failure().reason,
              appended ? QStringLiteral("another program wrote to the file while the scan ran")
                       : QStringLiteral("another program cut the file short while the scan ran"));
    EXPECT_FALSE(log.isOpen());
    EXPECT_EQ(contents(f.path), left);
  }
}

}  // namespace
}  // namespace tarvex
