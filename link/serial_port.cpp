#include "link/serial_port.h"

namespace tarvex {

namespace {
QString reasonOf(const SerialPort& port) {
  return port.errorString().isEmpty() ? QStringLiteral("unknown error") : port.errorString();
}
}  // namespace

PortFailure PortFailure::openFailed(const SerialPort& port) {
  return {What::kOpen, port.deviceName(), reasonOf(port)};
}

PortFailure PortFailure::lost(const SerialPort& port) {
  return {What::kLost, port.deviceName(), reasonOf(port)};
}

QString PortFailure::message() const {
  return what == What::kOpen ? QStringLiteral("Cannot open the serial port %1: %2").arg(device, reason)
                             : QStringLiteral("Lost the adapter on %1: %2.").arg(device, reason);
}

QString inUseBy(const PortUse& holder) {
  return QStringLiteral("it is in use by %1").arg(holder.user);
}

}  // namespace tarvex
