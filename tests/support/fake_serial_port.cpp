#include "tests/support/fake_serial_port.h"

namespace tarvex::testing {

bool FakeSerialPort::open() {
  if (!failReason_.isEmpty()) {
    error_ = failReason_;
    return false;
  }
  open_ = true;
  failed_ = false;
  gettingReady_ = delayReady_;
  return true;
}

void FakeSerialPort::close() {
  open_ = false;
  gettingReady_ = false;
  ready_ = nullptr;
}

void FakeSerialPort::whenReady(std::function<void(bool)> ready) {
  if (!gettingReady_) return ready(open_);
  ready_ = std::move(ready);
}

void FakeSerialPort::becomeReady(bool ready) {
  gettingReady_ = false;
  if (!ready) error_ = QStringLiteral("the adapter went away while its speed was looked for");
  if (auto callback = std::exchange(ready_, nullptr)) callback(ready);
}

bool FakeSerialPort::write(const QByteArray& data) {
  if (!open_) closedWrites_.append(data);
  if (!open_ || failed_) return false;
  writes_.append(data);
  if (duringWrite) duringWrite(data);
  return true;
}

void FakeSerialPort::fail(const QString& reason) {
  error_ = reason;
  failed_ = true;
  notify(PortEvent::kError);
}

}  // namespace tarvex::testing
