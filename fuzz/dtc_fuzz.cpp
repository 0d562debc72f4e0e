// Adapter bytes in arbitrary pieces, and the user's edits, into the
// trouble-code window's output: it must hold up and stay within its bound.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>

#include "dtc/dtc_session.h"
#include "tests/support/fake_clock.h"
#include "tests/support/fake_serial_port.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tarvex;
  FuzzedDataProvider in(data, size);
  testing::FakeClock clock;
  testing::FakeSerialPort port;
  const std::unique_ptr<Timer> timer = clock.createTimer();
  AdapterTraits traits;
  DTCSession session(port, *timer, clock, traits, QStringLiteral("DTC Here"));
  port.setNotify([&](PortEvent event) { session.onPortEvent(event); });
  session.open();
  while (in.remaining_bytes() > 0) {
    const std::string piece = in.ConsumeRandomLengthString(4096);
    switch (in.ConsumeIntegralInRange(0, 9)) {
      case 0:
        session.setOutput(QString::fromUtf8(piece.data(), qsizetype(piece.size())));
        break;
      case 1:
        session.sendRead();
        break;
      case 2:
        clock.advance(DTCSession::kShowEvery);
        break;
      default:
        port.receive(QByteArray::fromStdString(piece));
    }
    if (session.output().size() > DTCSession::kMaxOutput) std::abort();
  }
  return 0;
}
