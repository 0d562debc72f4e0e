#pragma once

#include "link/adapter_link.h"

namespace tarvex::testing {

// Routes a port's notifications and a reply timer's expiry to a link, as the
// window that owns them does.
inline void route(SerialPort& port, Timer& timer, AdapterLink& link) {
  port.setNotify([&link](PortEvent event) { link.onPortEvent(event); });
  timer.setCallback([&link] { link.onReplyTimeout(); });
}

}  // namespace tarvex::testing
