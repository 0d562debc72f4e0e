// tarvex_replay_load: how long a long log takes to open for replay and how
// much memory it holds. Writes a log in the writer's own format (its header,
// its lines, the time column in the locale's form) of --lines lines, then
// reads it as replay does and prints the time and the peak resident memory.
//   tarvex_replay_load [--lines N] [--locale de_DE] [--keep FILE]

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <cstdio>
#include <ctime>

#include "core/number_text.h"
#include "replay/log_reader.h"
#include "scan/csv_log.h"

namespace tarvex {
namespace {

double cpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

// From /proc/self/status: "VmHWM" (the peak) or "VmRSS" (now), in MiB.
double residentMiB(const char* key) {
  QFile status(QStringLiteral("/proc/self/status"));
  if (!status.open(QIODevice::ReadOnly)) return -1;
  for (const QByteArray& line : status.readAll().split('\n'))
    if (line.startsWith(key))
      return line.mid(qsizetype(qstrlen(key)) + 1).trimmed().split(' ').value(0).toDouble() / 1024;
  return -1;
}

// Lines of a drive: a few hundred different sets of values (the writing
// is not what is measured), each line with its own time, about 0.7 s apart
// as the scan logs them.
bool writeLog(const QString& path, long lines, const QLocale& locale) {
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly)) return false;
  QRandomGenerator random(42);
  std::vector<QByteArray> bodies;
  for (int i = 0; i < 331; ++i) {
    MemoryBoxes boxes;
    for (const CsvColumn& column : csvColumns())
      boxes.setText(column.box, decimalText(std::round(random.bounded(100000.0)) / 100.0 - 100, locale));
    boxes.setText(Box::kRPM, decimalText(std::round(random.bounded(2600000.0)) / 400, locale));
    boxes.setText(Box::kKR, QStringLiteral("KR"));
    boxes.setText(Box::kGear, i % 3 ? QStringLiteral("Gear") : wholeText(i % 6 + 1));
    boxes.setText(Box::kFuelSysStatus, i % 7 ? QStringLiteral("Closed Loop") : QStringLiteral("Open Loop"));
    boxes.setText(Box::kFuelSysStatusB2, QStringLiteral("Fuel System Status B2"));
    QByteArray line = csvLine(boxes, QString());
    line.chop(2);  // the CRLF after the empty time
    bodies.push_back(line);
  }
  QByteArray out = csvHeader();
  const QDateTime start(QDate(2026, 6, 1), QTime(8, 0));
  qint64 shownSecond = -1;
  QByteArray timeField;
  for (long i = 0; i < lines; ++i) {
    const qint64 ms = i * 700;
    if (ms / 1000 != shownSecond) {
      shownSecond = ms / 1000;
      timeField = csvField(logTimeText(start.addSecs(shownSecond), locale)).toUtf8();
    }
    out += bodies[std::size_t(i) % bodies.size()];
    out += timeField;
    out += "\r\n";
    if (out.size() > (1 << 22)) {
      if (file.write(out) != out.size()) return false;
      out.clear();
    }
  }
  return file.write(out) == out.size() && file.flush();
}

int run(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QCommandLineParser parser;
  parser.addHelpOption();
  const QCommandLineOption linesOption(QStringLiteral("lines"), QStringLiteral("Lines of the log."),
                                       QStringLiteral("N"), QStringLiteral("1000000"));
  const QCommandLineOption localeOption(QStringLiteral("locale"),
                                        QStringLiteral("Locale the log is written in."),
                                        QStringLiteral("NAME"), QLocale::system().name());
  const QCommandLineOption keepOption(
      QStringLiteral("keep"), QStringLiteral("Write the log here and keep it."), QStringLiteral("FILE"));
  const QCommandLineOption readOption(QStringLiteral("read"),
                                      QStringLiteral("Read this log instead of writing one."),
                                      QStringLiteral("FILE"));
  parser.addOptions({linesOption, localeOption, keepOption, readOption});
  parser.process(app);
  const long lines = parser.value(linesOption).toLong();
  const QLocale locale(parser.value(localeOption));
  QTemporaryDir dir;
  const QString path = parser.isSet(readOption)   ? parser.value(readOption)
                       : parser.isSet(keepOption) ? parser.value(keepOption)
                                                  : dir.filePath(QStringLiteral("drive.csv"));
  QElapsedTimer timer;
  timer.start();
  if (!parser.isSet(readOption) && !writeLog(path, lines, locale)) {
    std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
    return 1;
  }
  const double bytes = double(QFile(path).size());
  std::printf("log: %ld lines, %.1f MB, written in %.2f s (locale %s)\n", lines, bytes / 1e6,
              double(timer.elapsed()) / 1000, qPrintable(locale.name()));
  std::fflush(stdout);
  // The peak from here on: what opening the log costs, not writing it.
  if (QFile clear(QStringLiteral("/proc/self/clear_refs")); clear.open(QIODevice::WriteOnly))
    clear.write("5");
  const double before = residentMiB("VmRSS:");

  Readings readings;
  LogReader reader;
  timer.restart();
  const double cpuBefore = cpuSeconds();
  const Status loaded = reader.load(path, readings);
  const double seconds = double(timer.nsecsElapsed()) / 1e9;
  const double cpu = cpuSeconds() - cpuBefore;
  if (!loaded) {
    std::fprintf(stderr, "%s\n", qPrintable(loaded.failure().reason));
    return 1;
  }
  qsizetype points = 0;
  for (qsizetype c = 0; c < readings.channels().size(); ++c) points += readings.series(int(c)).size();
  timer.restart();
  const int looks = 1000;
  qsizetype fieldCount = 0;
  QRandomGenerator random(7);
  for (int i = 0; i < looks; ++i)
    fieldCount += reader.fields(qsizetype(random.bounded(quint64(reader.lineCount())))).size();
  const double lookUs = double(timer.nsecsElapsed()) / 1e3 / looks;
  std::printf(
      "load: %.2f s (%.2f s of CPU; %.0f MB/s), %lld lines, %lld channels, %lld points, time form %s, %s\n",
      seconds, cpu, bytes / 1e6 / seconds, qlonglong(reader.lineCount()),
      qlonglong(readings.channels().size()), qlonglong(points), qPrintable(reader.timeForm()),
      reader.skippedLines() ? qPrintable(reader.skippedNotice()) : "no line skipped");
  std::printf("resident: %.0f MiB before, %.0f MiB peak while loading, %.0f MiB after\n", before,
              residentMiB("VmHWM:"), residentMiB("VmRSS:"));
  std::printf("a line's texts again (fields()): %.1f us\n", lookUs);
  return fieldCount == qsizetype(looks) * 28 && (parser.isSet(readOption) || reader.lineCount() == lines) ? 0
                                                                                                          : 1;
}

}  // namespace
}  // namespace tarvex

int main(int argc, char** argv) {
  return tarvex::run(argc, argv);
}
