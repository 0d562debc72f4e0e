#pragma once

#include "link/adapter_link.h"
#include "link/polling_session.h"

namespace tarvex::testing {

// A port's notifications and a reply timer's expiry to a link or session, as their window does.
inline void route(SerialPort& port, Timer& timer, AdapterLink& link) {
  port.setNotify([&link](PortEvent event) { link.onPortEvent(event); });
  timer.setCallback([&link] { link.onReplyTimeout(); });
}
inline void route(SerialPort& port, Timer& timer, PollingSession& session) {
  port.setNotify([&session](PortEvent event) { session.onPortEvent(event); });
  timer.setCallback([&session] { session.onReplyTimeout(); });
}

}  // namespace tarvex::testing
