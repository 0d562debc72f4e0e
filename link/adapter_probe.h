#pragma once

#include <QString>
#include <functional>

#include "core/clock.h"
#include "core/failure.h"
#include "link/polling_session.h"

namespace tarvex {

// What an adapter says of itself: its name and version (ATI), its device
// description (AT@1; many clones refuse it: empty), and the voltage at the
// car's socket (ATRV), as it prints them.
struct AdapterIdentity {
  QString version;
  QString description;
  QString voltage;
};

// Asks an adapter who it is, for a user choosing their adapter: a reset
// (which also finds a speed that was only guessed), then ATI, AT@1 and ATRV.
class AdapterProbe {
 public:
  AdapterProbe(SerialPort& port, Timer& replyTimer, Clock& clock, AdapterTraits& traits);
  // A port that will not open comes back at once; everything else (a silent
  // adapter, the device going away) comes to `done`.
  Status start(std::function<void(const Result<AdapterIdentity>&)> done);
  void stop() { session_.stop(); }
  PollingSession& session() { return session_; }

 private:
  void ask(const QString& command, QString AdapterIdentity::*into, bool needed);
  void finish(const Result<AdapterIdentity>& result);

  PollingSession session_;
  AdapterIdentity identity_;
  std::function<void(const Result<AdapterIdentity>&)> done_;
};

}  // namespace tarvex
