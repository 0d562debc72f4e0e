#pragma once

#include <QTcpSocket>
#include <functional>
#include <memory>

#include "core/clock.h"
#include "link/port_address.h"
#include "link/serial_port.h"

namespace tarvex {

// How long a connection may take before the port gives up on it. An adapter on
// the same Wi-Fi answers within milliseconds; one that is not there never does.
inline constexpr Millis kConnectTimeout{5000};

// A Wi-Fi adapter (an ELM327 listening on TCP) as a serial port. open() starts
// the connection and returns: the port is getting ready (whenReady) until it
// is connected, and one that cannot connect (refused, no such host, no answer
// within kConnectTimeout) is told through whenReady(false) from the event loop,
// never from open() itself. Meanwhile write() refuses without closing the
// port, and nothing is received. Writes go out at once (no Nagle delay). A
// connection that breaks while open closes the port and is reported
// (PortEvent::kError), as a serial adapter pulled out would be.
class TcpPort final : public SerialPort {
 public:
  struct Line;  // what the ports of one factory share: the address, who holds it

  TcpPort(PortUse use, std::shared_ptr<Line> line);
  ~TcpPort() override;

  bool open() override;
  void close() override;
  bool isOpen() const override { return state_ != State::kClosed; }
  bool write(const QByteArray& data) override;
  QByteArray readAll() override;
  QString deviceName() const override;
  QString errorString() const override { return error_; }
  void whenReady(std::function<void(bool ready)> ready) override;
  bool gettingReady() const override { return state_ == State::kConnecting || state_ == State::kFailing; }

 private:
  enum class State {
    kClosed,
    kConnecting,
    kFailing,  // the connection could not be made; told from the event loop
    kConnected,
  };
  void connected();
  void socketFailed(QAbstractSocket::SocketError error);
  void connectFailed(const QString& reason);
  void fault(const QString& reason);
  void release();

  PortUse use_;
  std::shared_ptr<Line> line_;
  QTcpSocket socket_;
  std::unique_ptr<Timer> connectTimer_;
  State state_ = State::kClosed;
  QString error_;
  bool writing_ = false;
  std::function<void(bool)> ready_;
};

// Ports for the windows, all to one adapter at one address; only one of them
// has the connection at a time (the adapter serves one client).
class TcpPortFactory final : public PortFactory {
 public:
  // `clock` runs the connect time-out and outlives every port.
  TcpPortFactory(TcpAddress address, Clock& clock, Millis connectTimeout = kConnectTimeout);
  ~TcpPortFactory() override;
  std::unique_ptr<SerialPort> createPort(const PortUse& use) override;
  QString deviceName() const override;
  bool isHeld() const override;

 private:
  std::shared_ptr<TcpPort::Line> line_;
};

}  // namespace tarvex
