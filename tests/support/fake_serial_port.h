#pragma once

#include <QStringList>

#include "link/serial_port.h"

namespace tarvex::testing {

// A scripted port: records every write, and delivers text when the test says
// so, with the receive notification a real port would raise.
class FakeSerialPort final : public SerialPort {
 public:
  explicit FakeSerialPort(QString device = QStringLiteral("/dev/fake0")) : device_(std::move(device)) {}

  bool open() override;
  void close() override { open_ = false; }
  bool isOpen() const override { return open_; }
  bool write(const QByteArray& data) override;
  QByteArray readAll() override;
  QString deviceName() const override { return device_; }
  QString errorString() const override { return error_; }

  // Queues text as received and raises the receive notification.
  void receive(const QByteArray& text);
  void raise(int kind) { notify(kind); }

  // The next open() fails with this reason (empty: opens).
  void failOpenWith(const QString& reason) { failReason_ = reason; }

  // Everything written since the last take, as one text.
  QByteArray written() const { return written_; }
  // The writes one by one.
  const QList<QByteArray>& writes() const { return writes_; }
  void clearWrites() {
    written_.clear();
    writes_.clear();
  }

 private:
  QString device_;
  QString error_;
  QString failReason_;
  bool open_ = false;
  QByteArray pending_;
  QByteArray written_;
  QList<QByteArray> writes_;
};

}  // namespace tarvex::testing
