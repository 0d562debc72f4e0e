#include "link/serial_port.h"

namespace tarvex {

namespace {
QString reasonOf(const SerialPort& port) {
  return port.errorString().isEmpty() ? QStringLiteral("unknown error") : port.errorString();
}
}  // namespace

Failure openFailure(const SerialPort& port) {
  return {Failure::Kind::kOpen, port.deviceName(), reasonOf(port), {}};
}

Failure lostFailure(const SerialPort& port) {
  return {Failure::Kind::kLost, port.deviceName(), reasonOf(port), {}};
}

QString inUseBy(const PortUse& holder) {
  return QStringLiteral("it is in use by %1").arg(holder.user);
}

}  // namespace tarvex
