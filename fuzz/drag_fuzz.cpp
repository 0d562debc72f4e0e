// Adapter bytes in arbitrary pieces, at arbitrary times, and any weight the
// user types, through the drag strip's polling and timed run.
#include <fuzzer/FuzzedDataProvider.h>

#include "drag/drag_poller.h"
#include "tests/support/fake_clock.h"
#include "tests/support/fake_serial_port.h"
#include "tests/support/layout_boxes.h"
#include "tests/support/route.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tarvex;
  FuzzedDataProvider in(data, size);
  testing::FakeClock clock;
  clock.setTickCount(in.ConsumeIntegral<std::uint32_t>());  // wherever the counter stands, wrap included
  testing::FakeSerialPort port;
  const std::unique_ptr<Timer> timer = clock.createTimer();
  testing::DragBoxTexts boxes;
  boxes.setText(DragBox::kWeight, QString::fromStdString(in.ConsumeRandomLengthString(12)));
  AdapterTraits traits;
  DragPoller poller(port, *timer, clock, traits, boxes, QLocale::c());
  testing::route(port, *timer, poller.session());
  poller.start();
  while (in.remaining_bytes() > 0) {
    clock.advance(Millis{in.ConsumeIntegralInRange(0, 300)});
    port.receive(QByteArray::fromStdString(in.ConsumeRandomLengthString(32)));
  }
  return 0;
}
