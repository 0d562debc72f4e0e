#include "link/tcp_port.h"

#include <QMetaObject>

namespace tarvex {

struct TcpPort::Line {
  Line(TcpAddress where, Clock& timers, Millis timeout)
      : address(std::move(where)), clock(timers), connectTimeout(timeout) {}
  TcpAddress address;
  Clock& clock;
  Millis connectTimeout;
  const TcpPort* holder = nullptr;  // the port that has (or makes) the connection
  std::function<void(const QString&)> status;
};

namespace {
const QString kClosedByAdapter = QStringLiteral("the adapter closed the connection");
}

TcpPort::TcpPort(PortUse use, std::shared_ptr<Line> line)
    : use_(std::move(use)), line_(std::move(line)), connectTimer_(line_->clock.createTimer()) {
  connectTimer_->setSingleShot(true);
  connectTimer_->setInterval(line_->connectTimeout);
  connectTimer_->setCallback([this] {
    if (state_ != State::kConnecting) return;
    socket_.abort();  // no late connection after we gave up
    connectFailed(QStringLiteral("no answer within %1 s; is this computer on the adapter's Wi-Fi network?")
                      .arg(std::chrono::duration<double>(line_->connectTimeout).count()));
  });
  QObject::connect(&socket_, &QTcpSocket::connected, [this] { connected(); });
  QObject::connect(&socket_, &QTcpSocket::readyRead, [this] {
    if (state_ == State::kConnected) notify(PortEvent::kReceived);
  });
  QObject::connect(&socket_, &QTcpSocket::errorOccurred,
                   [this](QAbstractSocket::SocketError error) { socketFailed(error); });
  // Whichever of the error and the disconnection Qt reports first, the end is told once.
  QObject::connect(&socket_, &QTcpSocket::disconnected, [this] {
    if (state_ == State::kConnected) fault(kClosedByAdapter);
  });
}

TcpPort::~TcpPort() {
  close();
}

QString TcpPort::deviceName() const {
  return line_->address.text();
}

bool TcpPort::open() {
  if (state_ != State::kClosed) return true;
  if (line_->holder && line_->holder != this) {
    error_ = inUseBy(line_->holder->use_);
    return false;
  }
  line_->holder = this;
  error_.clear();
  state_ = State::kConnecting;
  if (line_->status) line_->status(QStringLiteral("Connecting to the adapter at %1...").arg(deviceName()));
  connectTimer_->start();
  // May fail (or even connect) before it returns; either is handled as it comes.
  socket_.connectToHost(line_->address.host, line_->address.port);
  return true;
}

void TcpPort::connected() {
  if (state_ != State::kConnecting) return;
  connectTimer_->stop();
  // ELM327 commands are a few bytes each: held back for the previous one's
  // acknowledgement (Nagle), every command would wait a round trip.
  socket_.setSocketOption(QAbstractSocket::LowDelayOption, 1);
  state_ = State::kConnected;
  if (line_->status) line_->status(QString());
  if (auto ready = std::exchange(ready_, nullptr)) ready(true);
}

void TcpPort::socketFailed(QAbstractSocket::SocketError error) {
  if (state_ == State::kConnecting) return connectFailed(socket_.errorString());
  if (state_ != State::kConnected) return;
  fault(error == QAbstractSocket::RemoteHostClosedError ? kClosedByAdapter : socket_.errorString());
}

// Told from the event loop, like every other end of the wait: the failure may
// come from inside open(), before its owner asked to be told.
void TcpPort::connectFailed(const QString& reason) {
  connectTimer_->stop();
  // Said as a failure to connect: the message around it may call the adapter lost.
  error_ = QStringLiteral("cannot connect: ") + reason;
  state_ = State::kFailing;
  QMetaObject::invokeMethod(
      &socket_,
      [this] {
        if (state_ != State::kFailing) return;  // closed meanwhile
        std::function<void(bool)> ready = std::exchange(ready_, nullptr);
        release();
        if (ready) ready(false);
      },
      Qt::QueuedConnection);
}

void TcpPort::whenReady(std::function<void(bool ready)> ready) {
  if (gettingReady()) {
    ready_ = std::move(ready);
  } else {
    ready(isOpen());
  }
}

void TcpPort::fault(const QString& reason) {
  error_ = reason;
  release();
  // A failure inside write() is told by its result.
  if (!writing_) notify(PortEvent::kError);
}

// Drops the connection and the hold on the adapter; says nothing.
void TcpPort::release() {
  const bool wasGettingReady = gettingReady();
  state_ = State::kClosed;
  connectTimer_->stop();
  ready_ = nullptr;
  socket_.abort();
  if (line_->holder == this) line_->holder = nullptr;
  if (wasGettingReady && line_->status) line_->status(QString());
}

void TcpPort::close() {
  release();
}

bool TcpPort::write(const QByteArray& data) {
  if (gettingReady()) {
    error_ = QStringLiteral("the connection to the adapter is still being made");
    return false;
  }
  if (state_ != State::kConnected) {
    error_ = QStringLiteral("the port is not open");
    return false;
  }
  writing_ = true;
  // Handed to the system now, not on the event loop's next turn.
  if (socket_.write(data) != data.size() && state_ == State::kConnected) fault(socket_.errorString());
  if (state_ == State::kConnected) socket_.flush();
  writing_ = false;
  return state_ == State::kConnected;
}

QByteArray TcpPort::readAll() {
  return state_ == State::kConnected ? socket_.readAll() : QByteArray();
}

TcpPortFactory::TcpPortFactory(TcpAddress address, Clock& clock, Millis connectTimeout)
    : line_(std::make_shared<TcpPort::Line>(std::move(address), clock, connectTimeout)) {
  line_->status = [this](const QString& text) { status(text); };
}

TcpPortFactory::~TcpPortFactory() {
  line_->status = nullptr;  // ports may outlive their factory
}

std::unique_ptr<SerialPort> TcpPortFactory::createPort(const PortUse& use) {
  return std::make_unique<TcpPort>(use, line_);
}

QString TcpPortFactory::deviceName() const {
  return line_->address.text();
}

bool TcpPortFactory::isHeld() const {
  return line_->holder != nullptr;
}

}  // namespace tarvex
