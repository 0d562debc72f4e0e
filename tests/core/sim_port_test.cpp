#include "sim/sim_port.h"

#include <gtest/gtest.h>

#include "tests/support/fake_clock.h"

namespace tarvex {
namespace {

using sim::SimPortFactory;

struct Bench {
  explicit Bench(sim::SimAdapterConfig config = {})
      : adapter(vehicle, clock.now(), config), factory(clock, adapter) {}
  std::unique_ptr<SerialPort> port() {
    auto p = factory.createPort({QStringLiteral("the main window")});
    p->setNotify([this, p = p.get()](PortEvent event) {
      kinds.push_back(event);
      received += p->readAll();
    });
    return p;
  }
  testing::FakeClock clock{Micros{5'000'000}};
  sim::Vehicle vehicle;
  sim::SimAdapter adapter;
  SimPortFactory factory;
  QByteArray received;
  std::vector<PortEvent> kinds;
};

TEST(SimPort, OnlyOneWindowHoldsTheDevice) {
  Bench bench;
  auto main = bench.port(), dtc = bench.port();
  ASSERT_TRUE(main->open());
  EXPECT_FALSE(dtc->open());
  EXPECT_EQ(dtc->errorString(), QStringLiteral("it is in use by the main window"));
  EXPECT_FALSE(dtc->write("03\r\n"));
  main->write("ATI\r\n");
  main->close();
  bench.clock.advance(Millis{100});
  ASSERT_TRUE(dtc->open());
  bench.clock.advance(Millis{100});
  EXPECT_EQ(bench.received, "");  // what came while nobody listened is gone
  dtc.reset();                    // a port that goes away lets go of the device
  EXPECT_TRUE(main->open());
}

TEST(SimPort, VanishedDeviceReportsOnceAndCannotBeOpened) {
  sim::SimAdapterConfig config;
  config.faults.vanishAfter = 1;
  Bench bench(config);
  auto port = bench.port();
  ASSERT_TRUE(port->open());
  port->write("ATI\r");
  bench.clock.advance(Millis{100});
  EXPECT_EQ(std::count(bench.kinds.begin(), bench.kinds.end(), PortEvent::kError), 1);
  EXPECT_EQ(bench.kinds.back(), PortEvent::kError);
  EXPECT_EQ(port->errorString(), QString(SimPortFactory::kGoneError));
  EXPECT_FALSE(port->write("ATI\r"));
  port->close();
  EXPECT_FALSE(port->open());
}

// Not on the warm start ATWS; opened again, the port finds the adapter up (its banner went with the link).
TEST(SimPort, BluetoothLinkDropsOnResetAndIsMadeAgainByOpening) {
  for (const char* reset : {"ATZ\r", "ATWS\r"}) {
    const bool drops = reset == std::string("ATZ\r");
    auto config = sim::SimAdapterConfig::of(*sim::adapterProfile(u"bluetooth"));
    config.timing.resetTime = Millis{50};
    Bench bench(config);
    auto port = bench.port();
    ASSERT_TRUE(port->open());
    port->write(reset);
    bench.clock.advance(Millis{100});
    EXPECT_EQ(std::count(bench.kinds.begin(), bench.kinds.end(), PortEvent::kError), drops ? 1 : 0) << reset;
    // The echo goes out as the characters come, up to the line end that drops the link.
    EXPECT_EQ(bench.received, drops ? "ATZ" : QByteArray(reset) + "\r\rELM327 v1.5\r\r>") << reset;
    EXPECT_EQ(port->write("ATI\r"), !drops);
    if (drops) {
      EXPECT_EQ(port->errorString(), QString(SimPortFactory::kDroppedError));
      port->close();
      ASSERT_TRUE(port->open());
      bench.received.clear();
      port->write("ATI\r");
      bench.clock.advance(Millis{100});
      EXPECT_EQ(bench.received, "ATI\rELM327 v1.5\r\r>");
    }
  }
}

}  // namespace
}  // namespace tarvex
