#include "tests/support/fake_serial_port.h"

namespace tarvex::testing {

bool FakeSerialPort::open() {
  if (!failReason_.isEmpty()) {
    error_ = failReason_;
    return false;
  }
  open_ = true;
  return true;
}

bool FakeSerialPort::write(const QByteArray& data) {
  if (!open_) return false;
  written_ += data;
  writes_.append(data);
  return true;
}

QByteArray FakeSerialPort::readAll() {
  QByteArray out;
  out.swap(pending_);
  return out;
}

void FakeSerialPort::receive(const QByteArray& text) {
  pending_ += text;
  notify(kCommEventReceive);
}

}  // namespace tarvex::testing
