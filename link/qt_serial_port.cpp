#include "link/qt_serial_port.h"

#include <poll.h>
#include <signal.h>
#include <unistd.h>
#ifdef Q_OS_LINUX
#include <linux/serial.h>
#include <sys/ioctl.h>
#endif

#include <QDir>
#include <QFile>
#include <QSerialPortInfo>
#include <algorithm>
#include <cerrno>
#include <cstring>

namespace tarvex {

struct QtSerialPort::Line {
  Line(QString name, qint32 speed, bool guess) : device(std::move(name)), baud(speed), guessed(guess) {}
  QString device;
  qint32 baud;
  bool guessed;  // the speed was neither given nor known to have worked: it may be looked for once
  const QtSerialPort* holder = nullptr;  // the port that has the device open
  std::function<void(const QString&)> notice;
  std::function<void(const QString&)> status;
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
  // Bluetooth serial links bound with rfcomm have no driver the system lists them by.
  for (const QString& name :
       QDir(QStringLiteral("/dev")).entryList({QStringLiteral("rfcomm*")}, QDir::System)) {
    const QString path = QStringLiteral("/dev/") + name;
    if (std::none_of(devices.begin(), devices.end(),
                     [&](const SerialDeviceInfo& d) { return d.device == path; }))
      devices << SerialDeviceInfo{
          path, QStringLiteral("Bluetooth serial link"), {}, {}, {}, lockedByLiveProcess(name)};
  }
  return devices;
}

// The speed search's view of the open port.
class QtSerialPort::SearchPort final : public SearchLine {
 public:
  explicit SearchPort(QtSerialPort& port) : port_(port) {}
  bool setBaudRate(qint32 baud) override { return port_.port_.setBaudRate(baud); }
  bool write(const QByteArray& data) override { return port_.send(data); }

 private:
  QtSerialPort& port_;
};

QtSerialPort::QtSerialPort(const QString& device, PortUse use, qint32 baud, std::shared_ptr<Line> line)
    : use_(std::move(use)),
      line_(line ? std::move(line) : std::make_shared<Line>(device, baud, false)),
      searchPort_(std::make_unique<SearchPort>(*this)),
      search_(std::make_unique<BaudSearch>(*searchPort_, line_->clock)) {
  port_.setReadBufferSize(0);
  QObject::connect(&port_, &QSerialPort::readyRead, [this] {
    if (search_->running()) {
      search_->received(std::exchange(readAhead_, {}) + port_.readAll());
    } else {
      notify(PortEvent::kReceived);
    }
  });
  // A failed read or write is fatal: a device that went away keeps its
  // descriptor readable, and Qt would report the failed read again and again.
  // A setting the device does not support (DTR on a pseudo-terminal) is not.
  QObject::connect(&port_, &QSerialPort::errorOccurred, [this](QSerialPort::SerialPortError e) {
    const int errorNumber = errno;  // as the failed call left it, if it set it at all
    const bool fatal = e != QSerialPort::NoError && e != QSerialPort::UnsupportedOperationError &&
                       e != QSerialPort::TimeoutError && e != QSerialPort::NotOpenError;
    if (fatal && port_.isOpen()) checkFailure(e, errorNumber);
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
  lowLatency(true);
  // What arrived before we opened answers somebody else's request.
  port_.clear(QSerialPort::Input);
  port_.readAll();
  readAhead_.clear();
  port_.clearError();
  error_.clear();
  if (line_->baud == kFindBaud) startSearch();
  return true;
}

void QtSerialPort::startSearch() {
  if (line_->status)
    line_->status(QStringLiteral("Looking for the adapter's line speed on %1...").arg(openedDevice_));
  search_->start([this](std::optional<qint32> found) { searchEnded(found); });
}

void QtSerialPort::searchEnded(std::optional<qint32> found) {
  QString message;
  if (found) {
    line_->baud = *found;
    message = QStringLiteral("The adapter on %1 answers at %2 baud; Tarvex uses that speed from now on.")
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
  if (line_->status) line_->status(QString());
  if (line_->notice) line_->notice(message);
  if (auto ready = std::exchange(ready_, nullptr)) ready(true);
}

void QtSerialPort::whenReady(std::function<void(bool ready)> ready) {
  if (search_->running()) {
    ready_ = std::move(ready);
  } else {
    ready(isOpen());
  }
}

bool QtSerialPort::gettingReady() const {
  return search_->running();
}

bool QtSerialPort::searchSpeed() {
  if (!port_.isOpen() || !line_->guessed || search_->running()) return false;
  line_->guessed = false;  // once: a search in vain is not repeated for every request
  startSearch();
  return true;
}

// USB bridges (FTDI's above all) hold what they received for up to their
// latency timer, 16 ms unless told otherwise, which would cost every exchange
// that much at high speeds. Best effort: a pseudo-terminal or a driver without
// the setting refuses, and nothing changes. The driver's own setting is given
// back on close, for the next program.
void QtSerialPort::lowLatency(bool on) {
#ifdef Q_OS_LINUX
  serial_struct serial{};
  const int fd = int(port_.handle());
  if (fd < 0 || (!on && !serialFlags_) || ::ioctl(fd, TIOCGSERIAL, &serial) != 0) return;
  if (!on) {
    serial.flags = *std::exchange(serialFlags_, std::nullopt);
  } else if (serial.flags & ASYNC_LOW_LATENCY) {
    return;
  } else {
    serialFlags_ = serial.flags;
    serial.flags |= ASYNC_LOW_LATENCY;
  }
  if (::ioctl(fd, TIOCSSERIAL, &serial) != 0) serialFlags_.reset();
#else
  Q_UNUSED(on);
#endif
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
  const bool searching = search_->running();
  search_->cancel();
  ready_ = nullptr;
  if (port_.isOpen()) {
    lowLatency(false);
    port_.close();
  }
  if (line_->holder == this) line_->holder = nullptr;
  if (searching && line_->status) line_->status(QString());
}

// Qt words a failed read by errno, which after a read of nothing (a hung-up
// line) still holds whatever failed before. The descriptor itself says what
// is the matter now.
void QtSerialPort::checkFailure(QSerialPort::SerialPortError error, int errorNumber) {
#ifdef Q_OS_UNIX
  const int fd = int(port_.handle());
  pollfd state{fd, POLLIN, 0};
  if (::poll(&state, 1, 0) < 0) state.revents = 0;
  if (state.revents & POLLHUP) return fault(QStringLiteral("it was disconnected (the line hung up)"));
  if (state.revents & POLLNVAL) return fault(QString::fromLocal8Bit(std::strerror(EBADF)));
  // A failed write sets errno: it is the system's reason.
  if (writing_ || error == QSerialPort::WriteError) {
    // The line's buffer is full: the device has stopped taking data.
    return fault(errorNumber == EAGAIN ? QStringLiteral("the device takes no data")
                                       : QString::fromLocal8Bit(std::strerror(errorNumber)));
  }
  if (state.revents & POLLIN) {
    char buffer[256];
    errno = 0;
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n == 0) return fault(QStringLiteral("it was disconnected (the line hung up)"));
    if (n < 0 && errno != EAGAIN && errno != EINTR)
      return fault(QString::fromLocal8Bit(std::strerror(errno)));
    if (n > 0) readAhead_.append(buffer, n);
  }
  // Nothing wrong after all (what woke the read had been taken meanwhile):
  // carry on, and have Qt listen again if it stopped.
  port_.clearError();
  port_.peek(1);
  if (!readAhead_.isEmpty())
    QMetaObject::invokeMethod(
        &port_,
        [this] {
          if (!readAhead_.isEmpty()) emit port_.readyRead();
        },
        Qt::QueuedConnection);
#else
  Q_UNUSED(error);
  Q_UNUSED(errorNumber);
  fault(port_.errorString());
#endif
}

void QtSerialPort::fault(const QString& reason) {
  error_ = reason;
  const bool searching = search_->running();
  std::function<void(bool)> ready = std::exchange(ready_, nullptr);
  close();
  port_.clearError();  // the next open() starts clean, once the device is back
  if (searching) {
    // From the event loop, as the search's own end: the failure may have come
    // in the middle of the search's write.
    if (ready)
      QMetaObject::invokeMethod(
          &port_, [ready] { ready(false); }, Qt::QueuedConnection);
    return;
  }
  // A failure inside write() is told by its result.
  if (!writing_) notify(PortEvent::kError);
}

QByteArray QtSerialPort::readAll() {
  if (search_->running()) return {};
  QByteArray data = std::exchange(readAhead_, {});
  return port_.isOpen() ? data + port_.readAll() : data;
}

bool QtSerialPort::write(const QByteArray& data) {
  if (search_->running()) {
    error_ = QStringLiteral("the adapter's line speed is still being looked for");
    return false;
  }
  return send(data);
}

bool QtSerialPort::send(const QByteArray& data) {
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
    taken = std::max<qsizetype>(0, ::write(int(port_.handle()), data.constData(), std::size_t(data.size())));
#endif
  // Hand the command to the device now (QSerialPort writes only from the event
  // loop otherwise), but never wait for the line.
  const QByteArray rest = data.mid(taken);
  const bool queued =
      rest.isEmpty() || (port_.write(rest) == rest.size() && (port_.flush() || port_.bytesToWrite() > 0));
  if (!queued && port_.isOpen()) checkFailure(QSerialPort::WriteError, errno);
  writing_ = false;
  return port_.isOpen();
}

QtPortFactory::QtPortFactory(QString device, qint32 baud, bool guessed)
    : line_(std::make_shared<QtSerialPort::Line>(std::move(device), baud, guessed)) {
  line_->notice = [this](const QString& text) { notice(text); };
  line_->status = [this](const QString& text) { status(text); };
}

QtPortFactory::~QtPortFactory() {
  line_->notice = nullptr;  // ports may outlive their factory
  line_->status = nullptr;
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
