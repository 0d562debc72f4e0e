#include "dtc/dtc_session.h"

#include "link/adapter_link.h"

namespace tarvex {

DTCSession::DTCSession(SerialPort& port, QString initialOutput)
    : port_(port), output_(std::move(initialOutput)) {}

std::optional<QString> DTCSession::open() {
  return send(kResetCommand);  // sending opens the port
}

std::optional<QString> DTCSession::send(const char* command) {
  openFailed_ = !port_.isOpen() && !port_.open();
  if (openFailed_) return portOpenFailure(port_);
  if (!port_.write(QByteArray(command) + kLineEnd)) return lost();
  return std::nullopt;
}

std::optional<QString> DTCSession::sendRead() {
  return send("03");
}
std::optional<QString> DTCSession::sendReset() {
  return send("04");
}

void DTCSession::close() {
  port_.close();
}

std::optional<QString> DTCSession::lost() {
  const QString message = portLostFailure(port_);
  close();
  return message;
}

void DTCSession::onPortEvent(PortEvent event) {
  if (event == PortEvent::kError) {
    const QString message = *lost();
    if (onFailure_) onFailure_(message);
    return;
  }
  if (event != PortEvent::kReceived) return;
  const QByteArray waiting = port_.readAll();
  if (waiting.isEmpty()) return;
  // A carriage return that arrives on its own ends a line on screen.
  append(waiting == "\r" ? QStringLiteral("\r\n") : QString::fromLatin1(waiting));
}

void DTCSession::setOutput(const QString& text) {
  output_ = text;
  if (output_.size() > kMaxOutput) append(QString());
}

void DTCSession::append(const QString& text) {
  output_ += text;
  if (output_.size() > kMaxOutput) output_ = output_.right(kMaxOutput);
  if (outputChanged_) outputChanged_(output_);
}

}  // namespace tarvex
