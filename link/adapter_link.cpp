#include "link/adapter_link.h"

namespace tarvex {

namespace {
// A set-up command is answered once the adapter shows its prompt again.
ReplyShape promptOnly() {
  return {QString(), 0, 0};
}
constexpr qsizetype kBannerLength = sizeof AdapterLink::kBanner - 1;
}  // namespace

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
  // The owner's first request after a set-up: a banner from now on is news.
  if (!inSetUp_) ownReset_ = false;
  state_ = State::kAwaitingReply;
  return send(command);
}

bool AdapterLink::send(const QString& command) {
  // Armed before the write: a reply the write brings at once finds the link
  // waiting for it.
  timer_.start();
  if (hooks_.onCommandSent) hooks_.onCommandSent(command);
  return writeLine(command);
}

bool AdapterLink::writeLine(const QString& command) {
  if (!port_.write(command.toLatin1() + kLineEnd)) return failed();
  return true;
}

bool AdapterLink::setUp(const QStringList& commands, Clock& clock) {
  setup_ = commands;
  ownReset_ = true;
  inSetUp_ = true;
  bool ok = true;
  for (qsizetype i = 0; ok && i + 1 < commands.size(); ++i) {
    ok = writeLine(commands[i]);
    if (ok) clock.sleep(kSetupWait);
  }
  if (ok && !commands.isEmpty()) ok = SendCom(commands.last());
  inSetUp_ = false;
  return ok;
}

bool AdapterLink::failed() {
  stop();
  if (hooks_.onPortError) hooks_.onPortError(port_.errorString());
  return false;
}

void AdapterLink::stop() {
  if (state_ == State::kSettingUpAgain) check_.setShape(ownerShape_);
  timer_.stop();
  setupLeft_.clear();
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
        bannerFrom_ = 0;
      }
      bufferChanged();
      return;
    }
    case PortEvent::kError:
      failed();
      return;
  }
}

void AdapterLink::setBuffer(const QString& text) {
  buffer_ = text;
  check_.restart();
  bannerFrom_ = 0;
  bufferChanged();
}

bool AdapterLink::bannerArrived() {
  const qsizetype at = buffer_.indexOf(QLatin1String(kBanner), bannerFrom_);
  if (at < 0) {
    // A banner split across arrivals starts in the last few characters.
    bannerFrom_ = std::max<qsizetype>(0, buffer_.size() - kBannerLength + 1);
    return false;
  }
  bannerFrom_ = at + kBannerLength;
  if (ownReset_) {
    ownReset_ = false;  // the answer to our own reset
    return false;
  }
  // What came before answers nothing the adapter still remembers.
  buffer_.remove(0, bannerFrom_);
  bannerFrom_ = 0;
  return true;
}

void AdapterLink::bufferChanged() {
  if (hooks_.onBufferChanged) hooks_.onBufferChanged(buffer_);
  if (bannerArrived() && state_ != State::kIdle) setUpAgain();
  if (state_ == State::kIdle) return;
  const std::optional<QString> out = check_.check(buffer_);
  if (!out) return;
  // Everything up to and after the reply goes; the emptied buffer holds nothing to check.
  buffer_.clear();
  check_.restart();
  bannerFrom_ = 0;
  if (hooks_.onBufferChanged) hooks_.onBufferChanged(buffer_);
  if (state_ == State::kSettingUpAgain) return nextSetupCommand();
  stop();
  if (hooks_.onReply) hooks_.onReply(*out);
}

void AdapterLink::setUpAgain() {
  if (state_ != State::kSettingUpAgain) ownerShape_ = check_.shape();
  state_ = State::kSettingUpAgain;
  setupLeft_ = setup_.mid(1);
  // The banner's own prompt first: the adapter hears nothing before it.
  check_.setShape(promptOnly());
  timer_.start();
}

void AdapterLink::nextSetupCommand() {
  if (setupLeft_.isEmpty()) {
    stop();
    if (hooks_.onSetUpAgain) hooks_.onSetUpAgain();
    return;
  }
  check_.setShape(promptOnly());
  send(setupLeft_.takeFirst());
}

void AdapterLink::onReplyTimeout() {
  if (state_ == State::kSettingUpAgain) return nextSetupCommand();
  stop();
  if (hooks_.onTimeout) hooks_.onTimeout();
}

}  // namespace tarvex
