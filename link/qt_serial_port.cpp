#include "link/qt_serial_port.h"

#include <unistd.h>

#include <QFile>
#include <algorithm>
#include <cerrno>
#include <cstring>

namespace tarvex {

struct QtSerialPort::Holder {
  const QtSerialPort* port = nullptr;
};

QString defaultPortName() {
#ifdef Q_OS_WIN
  return QStringLiteral("COM1");
#else
  return QStringLiteral("/dev/ttyS0");
#endif
}

QtSerialPort::QtSerialPort(const QString& device, PortUse use, qint32 baud, std::shared_ptr<Holder> holder)
    : device_(device),
      use_(std::move(use)),
      baud_(baud),
      holder_(holder ? std::move(holder) : std::make_shared<Holder>()) {
  port_.setPortName(device);
  port_.setReadBufferSize(0);
  QObject::connect(&port_, &QSerialPort::readyRead, [this] { notify(PortEvent::kReceived); });
  // A failed read or write is fatal: a device that went away keeps its
  // descriptor readable, and Qt would report the failed read again and again.
  // A setting the device does not support (DTR on a pseudo-terminal) is not.
  QObject::connect(&port_, &QSerialPort::errorOccurred, [this](QSerialPort::SerialPortError e) {
    const bool fatal = e != QSerialPort::NoError && e != QSerialPort::UnsupportedOperationError &&
                       e != QSerialPort::TimeoutError && e != QSerialPort::NotOpenError;
    if (!fatal || !port_.isOpen()) return;
    // The line's buffer is full: the device has stopped taking data.
    const bool full = port_.errorString() == QString::fromLocal8Bit(std::strerror(EAGAIN));
    fault(full ? QStringLiteral("the device takes no data") : port_.errorString());
  });
}

QtSerialPort::~QtSerialPort() {
  close();
}

bool QtSerialPort::open() {
  if (port_.isOpen()) return true;
  if (holder_->port && holder_->port != this) {
    error_ = inUseBy(holder_->port->use_);
    return false;
  }
  port_.setBaudRate(baud_);
  port_.setDataBits(QSerialPort::Data8);
  port_.setParity(QSerialPort::NoParity);
  port_.setStopBits(QSerialPort::OneStop);
  port_.setFlowControl(QSerialPort::NoFlowControl);
  if (!port_.open(QIODevice::ReadWrite)) {
    error_ = openFailure();
    port_.clearError();
    return false;
  }
  holder_->port = this;
  // What arrived before we opened answers somebody else's request.
  port_.clear(QSerialPort::Input);
  // Pseudo-terminals and some USB bridges refuse modem lines; that is no
  // reason to give up the port.
  port_.setDataTerminalReady(use_.dataTerminalReady);
  port_.clearError();
  error_.clear();
  return true;
}

QString QtSerialPort::openFailure() const {
  // Qt says "permission error while locking" when another program holds the
  // device's lock; a device we may not use at all says "Permission denied".
  const QByteArray path = QFile::encodeName(device_);
  if (port_.error() == QSerialPort::PermissionError && ::access(path.constData(), R_OK | W_OK) == 0)
    return QStringLiteral("it is in use by another program");
  return port_.errorString();
}

void QtSerialPort::close() {
  if (port_.isOpen()) port_.close();
  if (holder_->port == this) holder_->port = nullptr;
}

void QtSerialPort::fault(const QString& reason) {
  error_ = reason;
  close();
  // A failure inside write() is told by its result.
  if (!writing_) notify(PortEvent::kError);
}

bool QtSerialPort::write(const QByteArray& data) {
  if (!port_.isOpen()) {
    error_ = QStringLiteral("the port is not open");
    return false;
  }
  writing_ = true;
  qsizetype taken = 0;
#ifdef Q_OS_UNIX
  // Straight to the device when nothing waits before it: QSerialPort would
  // switch its write notifier on and off for every command, and each switch
  // wakes the event loop. What the device does not take at once, and any
  // failure, goes the way below.
  if (port_.bytesToWrite() == 0)
    taken = std::max<qsizetype>(0, ::write(port_.handle(), data.constData(), data.size()));
#endif
  // Hand the command to the device now (QSerialPort writes only from the event
  // loop otherwise), but never wait for the line.
  const QByteArray rest = data.mid(taken);
  const bool queued =
      rest.isEmpty() || (port_.write(rest) == rest.size() && (port_.flush() || port_.bytesToWrite() > 0));
  if (!queued && port_.isOpen()) fault(port_.errorString());
  writing_ = false;
  return port_.isOpen();
}

QtPortFactory::QtPortFactory(QString device, qint32 baud)
    : device_(std::move(device)), baud_(baud), holder_(std::make_shared<QtSerialPort::Holder>()) {}

std::unique_ptr<SerialPort> QtPortFactory::createPort(const PortUse& use) {
  return std::make_unique<QtSerialPort>(device_, use, baud_, holder_);
}

}  // namespace tarvex
