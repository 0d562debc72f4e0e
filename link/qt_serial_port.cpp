#include "link/qt_serial_port.h"

#include <signal.h>
#include <unistd.h>

#include <QFile>
#include <QSerialPortInfo>
#include <algorithm>
#include <cerrno>
#include <cstring>

namespace tarvex {

struct QtSerialPort::Line {
  Line(QString onDevice, qint32 atBaud) : device(std::move(onDevice)), baud(atBaud) {}
  QString device;
  qint32 baud;
  const QtSerialPort* holder = nullptr;  // the port that has the device open
  std::function<void(const QString&)> notice;
  SystemClock clock;
};

QString defaultPortName() {
#ifdef Q_OS_WIN
  return QStringLiteral("COM1");
#else
  return QStringLiteral("/dev/ttyS0");
#endif
}

namespace {

// Serial programs on Unix (Qt's among them) lock a device with a file naming
// the holder's process; a lock whose process has gone is stale.
bool lockedByLiveProcess(const QString& portName) {
#ifdef Q_OS_UNIX
  for (const char* dir : {"/run/lock", "/var/lock"}) {
    QFile lock(QStringLiteral("%1/LCK..%2").arg(QLatin1String(dir), portName));
    if (!lock.open(QIODevice::ReadOnly)) continue;
    bool ok = false;
    const qint64 pid = lock.readLine().simplified().split(' ').value(0).toLongLong(&ok);
    return ok && pid > 0 && (::kill(pid_t(pid), 0) == 0 || errno == EPERM);
  }
#endif
  Q_UNUSED(portName);
  return false;
}

}  // namespace

QList<SerialDeviceInfo> serialDevices() {
  QList<SerialDeviceInfo> devices;
  for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
    SerialDeviceInfo d{info.systemLocation(),
                       info.description(),
                       info.manufacturer(),
                       {},
                       {},
                       lockedByLiveProcess(info.portName())};
    if (info.hasVendorIdentifier()) d.vendorId = info.vendorIdentifier();
    if (info.hasProductIdentifier()) d.productId = info.productIdentifier();
    devices << d;
  }
  return devices;
}

// The speed search's view of the open port.
class QtSerialPort::Probe final : public ProbeLine {
 public:
  explicit Probe(QSerialPort& port) : port_(port) {}
  bool setBaudRate(qint32 baud) override { return port_.setBaudRate(baud); }
  void discardInput() override {
    port_.clear(QSerialPort::Input);
    port_.readAll();
  }
  bool write(const QByteArray& data) override {
    return port_.write(data) == data.size() && (port_.flush() || port_.bytesToWrite() > 0);
  }
  QByteArray read(Millis wait) override {
    if (port_.bytesAvailable() == 0) port_.waitForReadyRead(int(wait.count()));
    return port_.readAll();
  }

 private:
  QSerialPort& port_;
};

QtSerialPort::QtSerialPort(const QString& device, PortUse use, qint32 baud, std::shared_ptr<Line> line)
    : use_(std::move(use)), line_(line ? std::move(line) : std::make_shared<Line>(device, baud)) {
  port_.setReadBufferSize(0);
  QObject::connect(&port_, &QSerialPort::readyRead, [this] {
    if (!probing_) notify(PortEvent::kReceived);
  });
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

QString QtSerialPort::deviceName() const {
  // An open port stays on the device it opened, whatever was picked since.
  return port_.isOpen() ? openedDevice_ : line_->device;
}

bool QtSerialPort::open() {
  if (port_.isOpen()) return true;
  if (line_->holder && line_->holder != this) {
    error_ = inUseBy(line_->holder->use_);
    return false;
  }
  openedDevice_ = line_->device;
  port_.setPortName(openedDevice_);
  port_.setBaudRate(line_->baud == kFindBaud ? kSearchOrder[0] : line_->baud);
  port_.setDataBits(QSerialPort::Data8);
  port_.setParity(QSerialPort::NoParity);
  port_.setStopBits(QSerialPort::OneStop);
  port_.setFlowControl(QSerialPort::NoFlowControl);
  if (!port_.open(QIODevice::ReadWrite)) {
    error_ = openFailure();
    port_.clearError();
    return false;
  }
  line_->holder = this;
  // Pseudo-terminals and some USB bridges refuse modem lines; that is no
  // reason to give up the port.
  port_.setDataTerminalReady(use_.dataTerminalReady);
  if (line_->baud == kFindBaud) {
    findSpeed();
    if (!port_.isOpen()) return false;  // the device failed while asked; error_ says how
  }
  // What arrived before we opened answers somebody else's request.
  port_.clear(QSerialPort::Input);
  port_.readAll();
  port_.clearError();
  error_.clear();
  return true;
}

void QtSerialPort::findSpeed() {
  Probe probe(port_);
  probing_ = true;
  const std::optional<qint32> found = findBaud(probe, line_->clock);
  probing_ = false;
  QString message;
  if (found) {
    line_->baud = *found;
    message = QStringLiteral("The adapter on %1 answers at %2 baud; Tarvex keeps that speed for this run.")
                  .arg(line_->device)
                  .arg(*found);
  } else {
    // Perhaps it is not plugged in yet: the next open looks again.
    port_.setBaudRate(kDefaultBaud);
    message = QStringLiteral(
                  "No adapter answered on %1 at any speed tried. Tarvex uses %2 baud for now and "
                  "looks again the next time a window opens the port. Is the adapter plugged in?")
                  .arg(line_->device)
                  .arg(kDefaultBaud);
  }
  if (line_->notice) line_->notice(message);
}

QString QtSerialPort::openFailure() const {
  // Qt says "permission error while locking" when another program holds the
  // device's lock; a device we may not use at all says "Permission denied".
  const QByteArray path = QFile::encodeName(openedDevice_);
  if (port_.error() == QSerialPort::PermissionError && ::access(path.constData(), R_OK | W_OK) == 0)
    return QStringLiteral("it is in use by another program");
  return port_.errorString();
}

void QtSerialPort::close() {
  if (port_.isOpen()) port_.close();
  if (line_->holder == this) line_->holder = nullptr;
}

void QtSerialPort::fault(const QString& reason) {
  error_ = reason;
  close();
  port_.clearError();  // the next open() starts clean, once the device is back
  // A failure inside write() or open() is told by its result.
  if (!writing_ && !probing_) notify(PortEvent::kError);
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
    : line_(std::make_shared<QtSerialPort::Line>(std::move(device), baud)) {
  line_->notice = [this](const QString& text) { notice(text); };
}

QtPortFactory::~QtPortFactory() {
  line_->notice = nullptr;  // ports may outlive their factory
}

std::unique_ptr<SerialPort> QtPortFactory::createPort(const PortUse& use) {
  return std::make_unique<QtSerialPort>(line_->device, use, line_->baud, line_);
}

QString QtPortFactory::deviceName() const {
  return line_->device;
}

QStringList QtPortFactory::devicesPresent() const {
  QStringList devices;
  for (const SerialDeviceInfo& d : serialDevices()) devices << d.device;
  return devices;
}

void QtPortFactory::setDeviceName(const QString& device) {
  line_->device = device;
}

bool QtPortFactory::isHeld() const {
  return line_->holder != nullptr;
}

qint32 QtPortFactory::baud() const {
  return line_->baud;
}

}  // namespace tarvex
