#pragma once

#include <QStringList>
#include <functional>
#include <utility>

#include "link/serial_port.h"

namespace tarvex::testing {

// Records every write, and delivers text when the test says so, notifying as a real port would.
class FakeSerialPort final : public SerialPort {
 public:
  explicit FakeSerialPort(QString device = QStringLiteral("/dev/fake0")) : device_(std::move(device)) {}

  bool open() override;
  void close() override;
  bool isOpen() const override { return open_; }
  bool write(const QByteArray& data) override;
  QByteArray readAll() override { return std::exchange(pending_, {}); }
  QString deviceName() const override { return device_; }
  QString errorString() const override { return error_; }
  void whenReady(std::function<void(bool)> ready) override;
  bool gettingReady() const override { return gettingReady_; }
  // A speed search starts if allowSpeedSearch() and ends with becomeReady().
  bool searchSpeed() override {
    if (!searchable_ || !open_) return false;
    ++speedSearches_;
    gettingReady_ = true;
    return true;
  }
  void allowSpeedSearch(bool allow) { searchable_ = allow; }
  int speedSearches() const { return speedSearches_; }

  void receive(const QByteArray& text) {
    pending_ += text;
    notify(PortEvent::kReceived);
  }
  void raise(PortEvent event) { notify(event); }
  // The device fails with this reason; writes fail from now on.
  void fail(const QString& reason);

  // The next open() fails with this reason (empty: opens).
  void failOpenWith(const QString& reason) { failReason_ = reason; }
  // From the next open() on, the port is not ready until becomeReady().
  void delayReady(bool delay) { delayReady_ = delay; }
  void becomeReady(bool ready);
  // Inside every write, once recorded: a real port may hand over what it received meanwhile.
  std::function<void(const QByteArray&)> duringWrite;

  const QList<QByteArray>& writes() const { return writes_; }
  // Refused as a real port would, yet each a command someone meant to send.
  const QList<QByteArray>& writesWhileClosed() const { return closedWrites_; }
  void clearWrites() {
    writes_.clear();
    closedWrites_.clear();
  }

 private:
  QString device_;
  QString error_;
  QString failReason_;
  bool open_ = false;
  bool failed_ = false;
  bool delayReady_ = false;
  bool gettingReady_ = false;
  bool searchable_ = false;
  int speedSearches_ = 0;
  std::function<void(bool)> ready_;
  QByteArray pending_;
  QList<QByteArray> writes_;
  QList<QByteArray> closedWrites_;
};

}  // namespace tarvex::testing
