#include "link/adapter_link.h"

namespace tarvex {

QStringList setupCommands(Setup setup) {
  QStringList commands{QString::fromLatin1(kResetCommand), QStringLiteral("ATE1")};
  if (setup == Setup::kEnhanced) commands << QStringLiteral("ATSH 6C 10 F1");
  return commands << QStringLiteral("ATST 10");
}

AdapterLink::AdapterLink(SerialPort& port, Timer& replyTimer, ReplyShape expected, QString initialBuffer)
    : port_(port), timer_(replyTimer), check_(std::move(expected)), buffer_(std::move(initialBuffer)) {
  timer_.setInterval(kReplyTimeout);
}

bool AdapterLink::SendCom(const QString& command, ReplyShape expected) {
  check_.setShape(std::move(expected));
  return SendCom(command);
}

bool AdapterLink::SendCom(const QString& command) {
  // Armed before the write: a reply the write brings at once finds the link
  // waiting for it.
  state_ = State::kAwaitingReply;
  timer_.start();
  if (hooks_.onCommandSent) hooks_.onCommandSent(command);
  return writeLine(command);
}

bool AdapterLink::writeLine(const QString& command) {
  if (!port_.write(command.toLatin1() + kLineEnd)) return failed();
  return true;
}

bool AdapterLink::setUp(const QStringList& commands, Clock& clock) {
  for (qsizetype i = 0; i + 1 < commands.size(); ++i) {
    if (!writeLine(commands[i])) return false;
    clock.sleep(kSetupWait);
  }
  return commands.isEmpty() || SendCom(commands.last());
}

bool AdapterLink::failed() {
  stop();
  if (hooks_.onPortError) hooks_.onPortError(port_.errorString());
  return false;
}

void AdapterLink::stop() {
  timer_.stop();
  state_ = State::kIdle;
}

void AdapterLink::onPortEvent(PortEvent event) {
  switch (event) {
    case PortEvent::kReceived: {
      const QByteArray waiting = port_.readAll();
      if (waiting.isEmpty()) return;
      buffer_.append(QLatin1String(waiting));
      if (buffer_.size() > kMaxBuffer) {
        buffer_ = buffer_.right(kMaxBuffer / 2);
        check_.restart();
      }
      bufferChanged();
      return;
    }
    case PortEvent::kSent:
      // A timer already counting keeps its countdown.
      if (state_ == State::kIdle) {
        state_ = State::kAwaitingReply;
        timer_.start();
      }
      return;
    case PortEvent::kError:
      failed();
      return;
  }
}

void AdapterLink::setBuffer(const QString& text) {
  buffer_ = text;
  check_.restart();
  bufferChanged();
}

void AdapterLink::bufferChanged() {
  if (hooks_.onBufferChanged) hooks_.onBufferChanged(buffer_);
  if (state_ != State::kAwaitingReply) return;
  const std::optional<QString> out = check_.check(buffer_);
  if (!out) return;
  // Everything up to and after the reply goes; the emptied buffer holds nothing to check.
  buffer_.clear();
  check_.restart();
  if (hooks_.onBufferChanged) hooks_.onBufferChanged(buffer_);
  stop();
  if (hooks_.onReply) hooks_.onReply(*out);
}

void AdapterLink::onReplyTimeout() {
  stop();
  if (hooks_.onTimeout) hooks_.onTimeout();
}

}  // namespace tarvex
