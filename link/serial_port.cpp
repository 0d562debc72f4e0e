#include "link/serial_port.h"

namespace tarvex {

namespace {
QString reason(const SerialPort& port) {
  return port.errorString().isEmpty() ? QStringLiteral("unknown error") : port.errorString();
}
}  // namespace

QString portOpenFailure(const SerialPort& port) {
  return QStringLiteral("Cannot open the serial port %1: %2").arg(port.deviceName(), reason(port));
}

QString portLostFailure(const SerialPort& port) {
  return QStringLiteral("Lost the adapter on %1: %2.").arg(port.deviceName(), reason(port));
}

QString inUseBy(const PortUse& holder) {
  return QStringLiteral("it is in use by %1").arg(holder.user);
}

}  // namespace tarvex
