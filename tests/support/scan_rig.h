#pragma once

#include <memory>

#include "scan/scan_cycle.h"
#include "tests/support/fake_clock.h"
#include "tests/support/fake_serial_port.h"
#include "tests/support/layout_boxes.h"
#include "tests/support/route.h"

namespace tarvex::testing {

// A scan started over a scripted port on fake time, its boxes as a fresh window shows them.
struct ScanRig {
  ScanRig() {
    route(port, *timer, scan.session());
    scan.setLocale(QLocale::c());
    [[maybe_unused]] const Status started = scan.start(false, QString());
  }
  FakeClock clock;
  FakeSerialPort port;
  std::unique_ptr<Timer> timer = clock.createTimer();
  MemoryBoxes boxes = boxesFromLayout();
  AdapterTraits traits;
  ScanCycle scan{port, *timer, clock, traits, boxes};
};

}  // namespace tarvex::testing
