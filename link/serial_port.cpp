#include "link/serial_port.h"

namespace tarvex {

QString portOpenFailure(const SerialPort& port) {
  const QString reason = port.errorString().isEmpty() ? QStringLiteral("unknown error") : port.errorString();
  return QStringLiteral("Cannot open the serial port %1: %2").arg(port.deviceName(), reason);
}

}  // namespace tarvex
