#include "sim/sim_port.h"

#include <gtest/gtest.h>

#include "tests/support/fake_clock.h"

namespace tarvex {
namespace {

using sim::SimPortFactory;
using testing::FakeClock;

// One simulated device as the program's windows share it.
struct Bench {
  explicit Bench(sim::SimAdapterConfig config = {})
      : adapter(vehicle, clock.now(), config), factory(clock, adapter) {}

  // Opens a port and collects whatever it receives and which notifications it raised.
  struct Client {
    std::unique_ptr<SerialPort> port;
    QByteArray received;
    std::vector<int> notifications;
  };
  std::unique_ptr<Client> client(bool dtr = true) {
    auto c = std::make_unique<Client>();
    c->port = factory.createPort(dtr);
    Client* raw = c.get();
    c->port->setNotify([raw](int kind) {
      raw->notifications.push_back(kind);
      if (kind == kCommEventReceive) raw->received += raw->port->readAll();
    });
    return c;
  }

  FakeClock clock{Micros{5'000'000}};
  sim::Vehicle vehicle;
  sim::SimAdapter adapter;
  SimPortFactory factory;
};

TEST(SimPort, OnlyOneWindowHoldsTheDevice) {
  Bench bench;
  auto main = bench.client();
  auto dtc = bench.client();
  EXPECT_EQ(main->port->deviceName(), bench.factory.deviceName());
  ASSERT_TRUE(main->port->open());
  EXPECT_TRUE(bench.factory.isHeld());
  EXPECT_FALSE(dtc->port->open());
  EXPECT_EQ(dtc->port->errorString(), QString(SimPortFactory::kBusyError));
  EXPECT_FALSE(dtc->port->isOpen());
  EXPECT_FALSE(dtc->port->write("03\r\n"));
  main->port->close();
  EXPECT_TRUE(dtc->port->open());
  EXPECT_TRUE(dtc->port->errorString().isEmpty());
  // A port that goes away lets go of the device.
  dtc.reset();
  EXPECT_FALSE(bench.factory.isHeld());
  EXPECT_TRUE(main->port->open());
}

TEST(SimPort, ExchangeOnFakeTimeArrivesPacedInPieces) {
  Bench bench;
  auto c = bench.client();
  ASSERT_TRUE(c->port->open());
  ASSERT_TRUE(c->port->write("ATI\r\n"));
  bench.clock.advance(Millis{10});
  // Part of the answer is on its way: the line is slow.
  EXPECT_TRUE(c->received.startsWith("ATI\r"));
  EXPECT_FALSE(c->received.contains('>'));
  bench.clock.advance(Millis{30});
  EXPECT_EQ(c->received, QByteArray("ATI\rELM327 v1.5\r\r>"));
  EXPECT_GT(c->notifications.size(), 5u);
  for (int kind : c->notifications) EXPECT_EQ(kind, kCommEventReceive);
  // Nothing more is due: no timer keeps running.
  const std::size_t n = c->notifications.size();
  bench.clock.advance(Millis{1000});
  EXPECT_EQ(c->notifications.size(), n);
}

TEST(SimPort, ClientCanAnswerFromInsideTheNotification) {
  Bench bench;
  auto c = bench.client();
  ASSERT_TRUE(c->port->open());
  int asked = 0;
  QByteArray all;
  c->port->setNotify([&](int kind) {
    if (kind != kCommEventReceive) return;
    all += c->port->readAll();
    if (all.endsWith('>') && asked < 3) {
      ++asked;
      c->port->write("010D\r\n");
    }
  });
  c->port->write("ATE0\r\n");
  bench.clock.advance(Millis{1000});
  EXPECT_EQ(asked, 3);
  EXPECT_EQ(all.count("41 0D "), 3);
  EXPECT_EQ(bench.adapter.commandLog(), (QStringList{"ATE0", "010D", "010D", "010D"}));
}

TEST(SimPort, ClearedCodesStayClearedAcrossWindows) {
  Bench bench;
  auto dtc = bench.client();
  ASSERT_TRUE(dtc->port->open());
  dtc->port->write("04\r\n");
  bench.clock.advance(Millis{200});
  EXPECT_TRUE(dtc->received.contains("44 "));
  dtc->port->close();

  auto drag = bench.client(false);
  ASSERT_TRUE(drag->port->open());
  drag->port->write("03\r\n");
  bench.clock.advance(Millis{200});
  EXPECT_TRUE(drag->received.contains("43 00 00 00 00 00 00 ")) << drag->received.constData();
}

TEST(SimPort, WhatComesWhileNobodyListensIsLost) {
  Bench bench;
  auto a = bench.client();
  auto b = bench.client();
  ASSERT_TRUE(a->port->open());
  a->port->write("ATI\r\n");
  a->port->close();
  bench.clock.advance(Millis{100});
  EXPECT_TRUE(a->received.isEmpty());
  ASSERT_TRUE(b->port->open());
  bench.clock.advance(Millis{100});
  EXPECT_TRUE(b->received.isEmpty());
}

TEST(SimPort, VanishingDeviceReportsAnErrorAndCannotBeOpened) {
  Bench bench;
  auto c = bench.client();
  ASSERT_TRUE(c->port->open());
  bench.factory.vanish();
  bench.clock.processEvents();
  EXPECT_EQ(c->notifications, std::vector<int>{kCommEventError});
  EXPECT_EQ(c->port->errorString(), QString(SimPortFactory::kGoneError));
  EXPECT_FALSE(c->port->write("ATI\r\n"));
  c->port->close();
  EXPECT_FALSE(c->port->open());
  EXPECT_EQ(c->port->errorString(), QString(SimPortFactory::kGoneError));
}

TEST(SimPort, DeviceVanishesOnTheConfiguredLine) {
  sim::SimAdapterConfig config;
  config.faults.vanishAfter = 2;
  Bench bench(config);
  auto c = bench.client();
  ASSERT_TRUE(c->port->open());
  c->port->write("ATI\r\n");
  bench.clock.advance(Millis{100});
  EXPECT_TRUE(c->received.endsWith('>'));
  EXPECT_TRUE(c->port->write("ATI\r\n"));
  bench.clock.advance(Millis{100});
  ASSERT_FALSE(c->notifications.empty());
  EXPECT_EQ(c->notifications.back(), kCommEventError);
  EXPECT_FALSE(c->port->write("ATI\r\n"));
}

TEST(SimPort, ResetTimeRunsOnTheClock) {
  Bench bench;
  auto c = bench.client();
  ASSERT_TRUE(c->port->open());
  c->port->write("ATZ\r\n");
  bench.clock.advance(Millis{900});
  EXPECT_EQ(c->received, QByteArray("ATZ\r"));
  bench.clock.advance(Millis{200});
  EXPECT_EQ(c->received, QByteArray("ATZ\r\r\rELM327 v1.5\r\r>"));
}

// The scan's set-up: each line a second after the last, as the program sleeps.
TEST(SimPort, ScanSetUpLinesAllReachTheAdapter) {
  Bench bench;
  auto c = bench.client();
  ASSERT_TRUE(c->port->open());
  for (const char* line : {"ATZ", "ATE1", "ATSH 6C 10 F1", "ATST 10"}) {
    c->port->write(QByteArray(line) + "\r\n");
    bench.clock.advance(Millis{1000});
  }
  EXPECT_EQ(bench.adapter.commandLog(), (QStringList{"ATZ", "ATE1", "ATSH 6C 10 F1", "ATST 10"}));
  EXPECT_EQ(bench.adapter.settings().header, QByteArray::fromHex("6C10F1"));
  EXPECT_EQ(bench.adapter.settings().timeoutUnits, 0x10);
  EXPECT_TRUE(c->received.endsWith("ATST 10\rOK\r\r>"));
}

}  // namespace
}  // namespace tarvex
