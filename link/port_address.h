#pragma once

#include <QString>
#include <memory>
#include <optional>

#include "core/clock.h"
#include "core/failure.h"
#include "link/remembered_line.h"
#include "link/serial_port.h"

namespace tarvex {

// A Wi-Fi adapter's endpoint, given as tcp://HOST:PORT.
struct TcpAddress {
  QString host;  // a name, an IPv4 address, or an IPv6 address without its brackets
  quint16 port = 0;
  // tcp://HOST:PORT again, IPv6 in brackets: the device name the user sees.
  QString text() const;
  bool operator==(const TcpAddress&) const = default;
};

// Whether a port names a network adapter (tcp://...) rather than a serial device.
bool isTcpAddress(const QString& port);

// The host and port of a tcp:// address, or why it is none.
struct TcpParse {
  std::optional<TcpAddress> address;
  QString problem;  // empty when parsed
};
TcpParse parseTcpAddress(const QString& text);

// Refuses (kInvalid, the device; the reason names the option) a `device` that
// cannot be used as it stands: a tcp:// address that is malformed, or one
// given a line speed (`baudGiven`), which a network connection does not have.
// A serial device passes: it is tried as named.
Status checkPort(const QString& device, bool baudGiven);

// The factories of the adapters a user may pick: a serial device at a speed,
// or a Wi-Fi adapter; nothing for a malformed tcp:// address.
RememberingPortFactory::Maker adapterMaker(Clock& clock);

// The ports of the adapter the command line names (--port, --baud), else the
// one that last answered (see chooseLine): a serial device, or a Wi-Fi adapter
// at tcp://HOST:PORT. Whatever answers is remembered for the next run. The
// chosen port may be refused (see checkPort).
Result<std::unique_ptr<PortFactory>> makePortFactory(const std::optional<QString>& port,
                                                     const std::optional<qint32>& baud,
                                                     RememberedLine& remembered, Clock& clock);

}  // namespace tarvex
