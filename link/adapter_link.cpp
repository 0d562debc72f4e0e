#include "link/adapter_link.h"

namespace tarvex {

AdapterLink::AdapterLink(SerialPort& port, Clock& clock, ReplyShape expected, QString initialRxText,
                         bool showsCommands)
    : port_(port),
      timer_(clock.createTimer()),
      expected_(std::move(expected)),
      rxText_(std::move(initialRxText)),
      txText_(QStringLiteral("Text1")),
      showsCommands_(showsCommands) {
  timer_->setInterval(kReplyTimeout);
  timer_->setCallback([this] { Timer1_Timer(); });
}

void AdapterLink::setExpected(const QString& prefix, int bytes) {
  expected_.prefix = prefix;
  expected_.bytes = bytes;
}

bool AdapterLink::writeLine(const QString& command) {
  if (!port_.isOpen()) return false;
  return port_.write(command.toLatin1() + kLineEnd);
}

void AdapterLink::SendCom(const QString& sendStr) {
  if (showsCommands_) {
    txText_ = sendStr;
    if (hooks_.onTxTextChanged) hooks_.onTxTextChanged(txText_);
  }
  writeLine(sendStr);
  timer_->start();
}

void AdapterLink::Comm1_OnComm(int kind) {
  if (kind == kCommEventReceive) {
    const QByteArray waiting = port_.readAll();
    if (waiting.isEmpty()) return;
    QString text = rxText_ + QString::fromLatin1(waiting);
    if (text.size() > kMaxBuffer) text = text.right(kMaxBuffer / 2);
    setRxText(text);
  } else if (kind == kCommEventSend) {
    // A timer already counting keeps its countdown.
    if (!timer_->isActive()) timer_->start();
  }
}

void AdapterLink::setRxText(const QString& text) {
  rxText_ = text;
  if (hooks_.onRxTextChanged) hooks_.onRxTextChanged(rxText_);
  RxText_Change();
}

void AdapterLink::RxText_Change() {
  const std::optional<QString> out = checkReply(rxText_, expected_);
  if (!out) return;
  setRxText(QString());  // runs the check once more, on nothing
  timer_->stop();
  if (hooks_.onReply) hooks_.onReply(*out);
}

void AdapterLink::Timer1_Timer() {
  timer_->stop();
  timer_->setInterval(kReplyTimeout);
  if (hooks_.onTimeout) hooks_.onTimeout();
}

}  // namespace tarvex
