#include "dtc/dtc_session.h"

namespace tarvex {

DTCSession::DTCSession(SerialPort& port, Timer& replyTimer, Clock& clock, QString initialOutput)
    : session_(port, replyTimer, clock), output_(std::move(initialOutput)) {
  session_.hooks().onFault = [this](const PortFailure& failure) {
    if (onFailure_) onFailure_(failure);
  };
}

DTCSession::~DTCSession() {
  session_.hooks() = {};
}

std::optional<PortFailure> DTCSession::open() {
  return session_.write(QString::fromLatin1(kResetCommand));  // writing opens the port
}

std::optional<PortFailure> DTCSession::sendRead() {
  return session_.write(QStringLiteral("03"));
}
std::optional<PortFailure> DTCSession::sendReset() {
  return session_.write(QStringLiteral("04"));
}

void DTCSession::close() {
  session_.stop();
}

void DTCSession::onPortEvent(PortEvent event) {
  if (event != PortEvent::kReceived) return session_.onPortEvent(event);
  const QByteArray waiting = session_.port().readAll();
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
