#include <benchmark/benchmark.h>
#include <malloc.h>

#include <QApplication>
#include <QPushButton>

#include "app/main_window.h"
#include "bench/offscreen_main.h"
#include "core/number_text.h"
#include "obd/formulas.h"
#include "scan/decode.h"
#include "scan/scan_cycle.h"
#include "tests/support/drag_ports.h"
#include "tests/support/fake_clock.h"
#include "tests/support/fake_serial_port.h"
#include "tests/support/layout_boxes.h"
#include "tests/support/route.h"
#include "tests/support/scan_rig.h"

namespace tarvex {
namespace {

// Memory: the heap in use before and after a benchmark (glibc's count, which
// sees Qt's own allocations too). Anything a hot path keeps would show as
// growth with the number of iterations.
class HeapGrowth {
 public:
  explicit HeapGrowth(benchmark::State& state) : state_(state), before_(inUse()) {}
  ~HeapGrowth() {
    state_.counters["heap_growth_bytes"] = double(inUse()) - double(before_);
    state_.counters["heap_in_use_KiB"] = double(inUse()) / 1024;
  }

 private:
  static std::size_t inUse() { return mallinfo2().uordblks; }
  benchmark::State& state_;
  std::size_t before_;
};

void ReplyCheckWorkedExample(benchmark::State& state) {
  const QString buffer = QStringLiteral("22000C01\r62 00 0C 1A F8 \r\r>");
  const ReplyShape shape{QStringLiteral("62 00 0C"), 8, 2};
  HeapGrowth heap(state);
  for (auto _ : state) benchmark::DoNotOptimize(checkReply(buffer, shape));
}
BENCHMARK(ReplyCheckWorkedExample);

// The worst a silent or babbling adapter can do: a full buffer without the prefix.
void ReplyCheckFullBuffer(benchmark::State& state) {
  const QString buffer(AdapterLink::kMaxBuffer, QLatin1Char('>'));
  const ReplyShape shape{QStringLiteral("62 00 0C"), 8, 2};
  for (auto _ : state) benchmark::DoNotOptimize(checkReply(buffer, shape));
}
BENCHMARK(ReplyCheckFullBuffer);

// The incremental check as a reply trickles in, one character an arrival: the
// whole reply's cost, which should be close to one look at each character.
void ReplyCheckCharByChar(benchmark::State& state) {
  const QString reply = QStringLiteral("22000C01\r62 00 0C 1A F8 \r\r>");
  ReplyCheck check(ReplyShape{QStringLiteral("62 00 0C"), 8, 2});
  QString buffer;
  buffer.reserve(reply.size());
  for (auto _ : state) {
    buffer.clear();
    check.restart();
    for (QChar c : reply) {
      buffer.append(c);
      benchmark::DoNotOptimize(check.check(buffer));
    }
  }
}
BENCHMARK(ReplyCheckCharByChar);

// The link's work for one exchange (request out, echo and answer in, reply
// handed on), with the answer arriving whole or a character at a time.
void LinkExchange(benchmark::State& state) {
  const bool charByChar = state.range(0) == 1;
  testing::FakeClock clock;
  testing::FakeSerialPort port;
  port.open();
  const std::unique_ptr<Timer> timer = clock.createTimer();
  AdapterLink link(port, *timer, clock, QString());
  testing::route(port, *timer, link);
  int replies = 0;
  link.hooks().onReply = [&](const AdapterLink::Reply&) { ++replies; };
  const QByteArray answer = "22000C01\r62 00 0C 1A F8 \r\r>";
  const ReplyShape shape{QStringLiteral("62 00 0C"), 8, 2};
  const QString request = QStringLiteral("22000C01");
  HeapGrowth heap(state);
  for (auto _ : state) {
    [[maybe_unused]] const Status sent = link.SendCom(request, shape);
    if (charByChar) {
      for (char c : answer) port.receive(QByteArray(1, c));
    } else {
      port.receive(answer);
    }
    port.clearWrites();
  }
  if (replies != state.iterations()) state.SkipWithError("a reply was missed");
}
BENCHMARK(LinkExchange)->ArgName("char_by_char")->Arg(0)->Arg(1);

void DecodeEveryParameter(benchmark::State& state) {
  const QLocale locale = QLocale::c();
  HeapGrowth heap(state);
  for (auto _ : state) {
    for (const Parameter& p : catalogue()) {
      benchmark::DoNotOptimize(
          decode(p, p.bytes == 2 ? QStringLiteral(" 5A 7F") : QStringLiteral(" 83"), locale));
    }
  }
}
BENCHMARK(DecodeEveryParameter);

void DecimalText(benchmark::State& state) {
  const QLocale locale = QLocale::c();
  double x = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(decimalText(obd::percent(x), locale));
    x = x < 255 ? x + 1 : 0;
  }
}
BENCHMARK(DecimalText);

void CsvLine(benchmark::State& state) {
  const MemoryBoxes boxes = testing::boxesFromLayout();
  HeapGrowth heap(state);
  for (auto _ : state) benchmark::DoNotOptimize(csvLine(boxes, QStringLiteral("12/6/26 8:05:09 PM")));
}
BENCHMARK(CsvLine);

// One round of 22 answered requests through the link, the cycle and the
// decoder, as the window would run it (no log).
void ScanRound(benchmark::State& state) {
  testing::ScanRig rig;
  testing::FakeSerialPort& port = rig.port;
  port.receive("ATST 10\rOK\r\r>");
  QList<QByteArray> answers;
  for (const Parameter& p : catalogue()) {
    if (p.selectedAtStart) {
      answers << QByteArray(p.request.data(), qsizetype(p.request.size())) + "\r" +
                     QByteArray(p.prefix.data(), qsizetype(p.prefix.size())) +
                     (p.bytes == 2 ? " 1A F8" : " 3C") + " \r\r>";
    }
  }
  HeapGrowth heap(state);
  for (auto _ : state) {
    for (const QByteArray& answer : answers) port.receive(answer);
    port.clearWrites();
  }
  state.counters["requests/s"] =
      benchmark::Counter(double(state.iterations()) * 22, benchmark::Counter::kIsRate);
}
BENCHMARK(ScanRound);

// One exchange through a shown window, as the event loop runs it: the reply
// arrives whole or a character at a time, each arrival followed by a pass of
// the loop (painting included), on the offscreen platform. No system calls:
// what is left is the program's and the toolkit's own work.
class NoFileDialog final : public FileDialog {
 public:
  std::optional<QString> chooseSaveFile(QWidget*, const QString&, const QString&, const QString&,
                                        const QString&) override {
    return std::nullopt;
  }
};

// What the adapter says to each request: the answer's prefix and its data bytes.
using Answers = QHash<QByteArray, std::pair<QByteArray, int>>;

// Apart, so that an instruction count can be taken of it alone
// (valgrind --tool=callgrind --toggle-collect='*exchangeOnce*'). Each answer
// carries another value, and time moves on, so that every box really changes.
[[gnu::noinline]] void exchangeOnce(testing::FakeSerialPort& device, testing::FakeClock& clock,
                                    const Answers& answers, bool charByChar) {
  static int value = 0;
  value = (value + 1) % 200;
  const QByteArray request = device.writes().isEmpty() ? QByteArray() : device.writes().last();
  const auto& [prefix, bytes] = answers.value(request);
  QByteArray reply = request + prefix;
  for (int i = 0; i < bytes; ++i) reply += ' ' + QByteArray::number(value + 16 + i, 16).toUpper();
  reply += " \r\r>";
  device.clearWrites();
  clock.advance(Micros{5000});
  if (charByChar) {
    for (char c : reply) {
      device.receive(QByteArray(1, c));
      QCoreApplication::processEvents();
    }
  } else {
    device.receive(reply);
    QCoreApplication::processEvents();
  }
}

void WindowExchange(benchmark::State& state) {
  const bool drag = state.range(0) == 1;
  const bool charByChar = state.range(1) == 1;
  testing::FakeClock clock;
  testing::FakeSerialPort device;
  testing::ProxyPortFactory ports(device);
  NoFileDialog dialog;
  WindowRegistry windows(ports, clock, dialog, [](QWidget*, Urgency, const QString&) {});
  Tarvex main(windows);
  main.show();
  if (drag) {
    windows.showDragstrip().controls().get<QPushButton>(QStringLiteral("pb_Start"))->click();
  } else {
    main.pb_StartScan_Click();
  }
  // The scan goes on at the set-up's last prompt; the drag strip, which waits
  // for a speed reply, when that reply is given up.
  device.receive("ATST 10\rOK\r\r>");
  if (drag) clock.advance(kReplyTimeout);
  Answers answers{{"010D\r", {"41 0D", 1}}};
  for (const Parameter& p : catalogue()) {
    answers.insert(QByteArray(p.request.data(), qsizetype(p.request.size())) + "\r",
                   {QByteArray(p.prefix.data(), qsizetype(p.prefix.size())), p.bytes});
  }
  QCoreApplication::processEvents();
  for (auto _ : state) exchangeOnce(device, clock, answers, charByChar);
  if (device.writes().isEmpty()) state.SkipWithError("the window stopped asking");
}
BENCHMARK(WindowExchange)->ArgNames({"drag", "char_by_char"})->ArgsProduct({{0, 1}, {0, 1}});

}  // namespace
}  // namespace tarvex

int main(int argc, char** argv) {
  return runWindowBenchmarks(argc, argv);
}
