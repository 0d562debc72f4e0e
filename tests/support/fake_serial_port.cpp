#include "tests/support/fake_serial_port.h"

namespace tarvex::testing {

bool FakeSerialPort::open() {
  if (!failReason_.isEmpty()) {
    error_ = failReason_;
    return false;
  }
  open_ = true;
  failed_ = false;
  return true;
}

bool FakeSerialPort::write(const QByteArray& data) {
  if (!open_ || failed_) return false;
  writes_.append(data);
  if (duringWrite) duringWrite(data);
  return true;
}

QByteArray FakeSerialPort::readAll() {
  QByteArray out;
  out.swap(pending_);
  return out;
}

void FakeSerialPort::receive(const QByteArray& text) {
  pending_ += text;
  notify(PortEvent::kReceived);
}

void FakeSerialPort::fail(const QString& reason) {
  error_ = reason;
  failed_ = true;
  notify(PortEvent::kError);
}

}  // namespace tarvex::testing
