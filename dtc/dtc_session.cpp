#include "dtc/dtc_session.h"

#include <algorithm>

namespace tarvex {

QString outputText(const QByteArray& bytes, qsizetype keep) {
  // From the end back: a flood larger than the output costs no more than it.
  qsizetype start = bytes.size();
  for (qsizetype made = 0; start > 0 && made < keep;) {
    if (bytes[--start] != '\0') ++made;
  }
  QString text;
  text.reserve(bytes.size() - start);
  for (qsizetype i = start; i < bytes.size(); ++i) {
    const auto c = static_cast<unsigned char>(bytes[i]);
    if (c == 0) continue;
    const bool control = (c < 0x20 && c != '\t' && c != '\n' && c != '\r') || (c >= 0x7f && c < 0xa0);
    text += control ? QChar(char16_t(0xfffd)) : QChar(char16_t(c));
  }
  return text;
}

DTCSession::DTCSession(SerialPort& port, Timer& replyTimer, Clock& clock, AdapterTraits& traits,
                       QString initialOutput)
    : session_(port, replyTimer, clock, traits),
      clock_(clock),
      output_(std::move(initialOutput)),
      showTimer_(clock.createTimer()) {
  showTimer_->setSingleShot(true);
  showTimer_->setCallback([this] { showPending(); });
}

DTCSession::~DTCSession() {
  session_.setFailureHandler({});
}

Status DTCSession::open() {
  return session_.write(QString::fromLatin1(kResetCommand));  // writing opens the port
}

Status DTCSession::sendRead() {
  return session_.write(QStringLiteral("03"));
}
Status DTCSession::sendReset() {
  return session_.write(QStringLiteral("04"));
}

void DTCSession::close() {
  session_.stop();
}

void DTCSession::onPortEvent(PortEvent event) {
  if (event != PortEvent::kReceived) return session_.onPortEvent(event);
  const QByteArray waiting = session_.port().readAll();
  // A carriage return that arrives on its own ends a line on screen.
  const QString text = waiting == "\r" ? QStringLiteral("\r\n") : outputText(waiting, kMaxOutput);
  if (!text.isEmpty()) append(text);
}

QString DTCSession::output() const {
  return output_.size() > kMaxOutput ? output_.right(kMaxOutput) : output_;
}

void DTCSession::setOutput(const QString& text) {
  // What came since the box was last set is not in the edited text yet.
  output_ = text + output_.right(std::min(unshown_, output_.size()));
  if (unshown_ > 0 || output_.size() > kMaxOutput) append(QString());
}

void DTCSession::append(const QString& text) {
  output_ += text;
  unshown_ += text.size();
  if (output_.size() > 2 * kMaxOutput) output_.remove(0, output_.size() - kMaxOutput);
  if (showTimer_->isActive()) {
    showPending_ = true;
    return;
  }
  show();
}

void DTCSession::showPending() {
  if (showPending_) show();
}

void DTCSession::show() {
  showPending_ = false;
  unshown_ = 0;
  const Micros before = clock_.now();
  if (outputChanged_) outputChanged_();
  const Millis took = std::chrono::duration_cast<Millis>(clock_.now() - before);
  showTimer_->setInterval(std::max(kShowEvery, took * kShowPause));
  showTimer_->start();
}

}  // namespace tarvex
