#include "link/qt_serial_port.h"

namespace tarvex {

namespace {
constexpr Millis kWriteTimeout{500};
}  // namespace

QString defaultPortName() {
#ifdef Q_OS_WIN
  return QStringLiteral("COM1");
#else
  return QStringLiteral("/dev/ttyS0");
#endif
}

QtSerialPort::QtSerialPort(const QString& device, bool dataTerminalReady)
    : device_(device), dataTerminalReady_(dataTerminalReady) {
  port_.setPortName(device);
  port_.setReadBufferSize(0);
  QObject::connect(&port_, &QSerialPort::readyRead, [this] { notify(PortEvent::kReceived); });
  QObject::connect(&port_, &QSerialPort::errorOccurred, [this](QSerialPort::SerialPortError e) {
    // Errors while open (the device unplugged, a framing error) reach the
    // owner as a notification it can tell apart from data.
    if (e != QSerialPort::NoError && port_.isOpen()) {
      error_ = port_.errorString();
      notify(PortEvent::kError);
    }
  });
}

QtSerialPort::~QtSerialPort() {
  close();
}

bool QtSerialPort::open() {
  if (port_.isOpen()) return true;
  port_.setBaudRate(QSerialPort::Baud9600);
  port_.setDataBits(QSerialPort::Data8);
  port_.setParity(QSerialPort::NoParity);
  port_.setStopBits(QSerialPort::OneStop);
  port_.setFlowControl(QSerialPort::NoFlowControl);
  if (!port_.open(QIODevice::ReadWrite)) {
    error_ = port_.errorString();
    port_.clearError();
    return false;
  }
  // Pseudo-terminals and some USB bridges refuse modem lines; that is no
  // reason to give up the port.
  port_.setDataTerminalReady(dataTerminalReady_);
  port_.clearError();
  error_.clear();
  return true;
}

void QtSerialPort::close() {
  if (port_.isOpen()) port_.close();
}

bool QtSerialPort::write(const QByteArray& data) {
  if (!port_.isOpen()) return false;
  if (port_.write(data) != data.size()) return false;
  // QSerialPort only hands data to the device from the event loop. A command
  // must leave now: the adapter reset waits block the loop and would
  // otherwise send the whole set-up at once, after the waits.
  port_.flush();
  if (port_.bytesToWrite() > 0) port_.waitForBytesWritten(int(kWriteTimeout.count()));
  return port_.bytesToWrite() == 0;
}

}  // namespace tarvex
