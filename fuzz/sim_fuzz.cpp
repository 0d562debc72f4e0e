// Whatever a client writes, at whatever pace, into the simulated adapter's
// command interpreter: it must hold up and keep its queues bounded.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>

#include "sim/sim_adapter.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tarvex;
  FuzzedDataProvider in(data, size);
  sim::Vehicle car;
  sim::SimAdapterConfig config;
  config.timing.baud = in.ConsumeBool() ? 9600 : 0;
  sim::SimAdapter adapter(car, Micros{0}, config);
  Micros now{0};
  while (in.remaining_bytes() > 0) {
    now += Micros{in.ConsumeIntegralInRange(0, 200'000)};
    const QByteArray bytes = QByteArray::fromStdString(in.ConsumeRandomLengthString(256));
    if (in.ConsumeIntegralInRange(0, 15) == 0) {
      adapter.receiveAtWrongSpeed(bytes, now);
    } else {
      adapter.receive(bytes, now);
    }
    if (adapter.takeOutputDue(now).size() > 64 * 1024) std::abort();
  }
  return 0;
}
