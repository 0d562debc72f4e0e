#include <gtest/gtest.h>
#include <malloc.h>

#include <QFile>
#include <QTemporaryDir>

#include "drag/drag_poller.h"
#include "scan/scan_cycle.h"
#include "sim/sim_port.h"
#include "tests/support/fake_clock.h"
#include "tests/support/layout_boxes.h"
#include "tests/support/route.h"

namespace tarvex {
namespace {

using namespace std::chrono_literals;

// On fake time against a bad line: nothing stalls, every round gets its whole log line, memory stays flat.
TEST(Soak, AnHourOfScanningAndAnHourOfDragPollingOnABadLine) {
  testing::FakeClock clock;
  sim::Vehicle car;
  sim::SimAdapterConfig config;
  config.faults = {
      .dropShare = 0.05, .lateShare = 0.05, .inject = sim::Injection::Noise, .injectShare = 0.05};
  config.faults.lvResetEvery = 997;
  sim::SimAdapter adapter(car, clock.now(), config);
  sim::SimPortFactory ports(clock, adapter);
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("soak.csv"));

  const auto heapInUse = [] { return mallinfo2().uordblks; };
  auto hour = [&](AdapterLink& link) {
    int sent = 0;
    link.hooks().onCommandSent = [&](const QString&) { ++sent; };
    std::size_t heapAtTenMinutes = 0;
    for (int minute = 1; minute <= 60; ++minute) {
      const int before = sent;
      clock.advance(1min);
      ASSERT_GT(sent, before + 100) << "stalled in minute " << minute;
      if (minute == 10) heapAtTenMinutes = heapInUse();
    }
    EXPECT_LT(double(heapInUse()) - double(heapAtTenMinutes), 256 * 1024);
  };

  const std::unique_ptr<SerialPort> mainPort = ports.createPort({QStringLiteral("the main window")});
  const std::unique_ptr<Timer> mainTimer = clock.createTimer();
  MemoryBoxes boxes = testing::boxesFromLayout();
  ScanCycle scan(*mainPort, *mainTimer, clock, ports.traits(), boxes);
  testing::route(*mainPort, *mainTimer, scan.session());
  int rounds = 0;
  scan.setDateTimeSource([&] {
    ++rounds;
    return QDateTime(QDate(2026, 12, 6), QTime(20, 0));
  });
  ASSERT_TRUE(scan.start(true, path));
  hour(scan.link());
  scan.stop();
  QFile log(path);
  ASSERT_TRUE(log.open(QIODevice::ReadOnly));
  const QList<QByteArray> lines = log.readAll().split('\n');
  EXPECT_EQ(lines.size(), 1 + rounds + 1);  // header, a line a round, nothing after the last line end
  for (const QByteArray& line : lines.mid(1, rounds)) {
    ASSERT_EQ(line.count(','), 27) << line.constData();
    ASSERT_TRUE(line.endsWith('\r'));
  }
  EXPECT_GT(rounds, 1000);

  const std::unique_ptr<SerialPort> dragPort = ports.createPort({QStringLiteral("the drag strip window")});
  const std::unique_ptr<Timer> dragTimer = clock.createTimer();
  testing::DragBoxTexts dragBoxes;
  DragPoller poller(*dragPort, *dragTimer, clock, ports.traits(), dragBoxes, QLocale::c());
  testing::route(*dragPort, *dragTimer, poller.session());
  ASSERT_TRUE(poller.start());
  hour(poller.link());
  // Within what the faults cost.
  EXPECT_NEAR(dragBoxes.text(DragBox::kQET).toDouble(), car.launchFigures().quarterMileSeconds, 0.6);
  EXPECT_NEAR(dragBoxes.text(DragBox::kTrapSpeed).toDouble(), car.launchFigures().trapSpeedKmh, 5);
}

}  // namespace
}  // namespace tarvex
