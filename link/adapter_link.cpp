#include "link/adapter_link.h"

#include "link/adapter_words.h"

namespace tarvex {

namespace {
// A set-up line is answered once the adapter shows its prompt again.
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

AdapterLink::AdapterLink(SerialPort& port, Timer& replyTimer, Clock& clock, QString initialBuffer)
    : port_(port),
      timer_(replyTimer),
      pause_(clock.createTimer()),
      hold_(clock.createTimer()),
      buffer_(std::move(initialBuffer)) {
  timer_.setInterval(kReplyTimeout);
  timer_.setSingleShot(true);
  pause_->setInterval(kSetupWait);
  pause_->setSingleShot(true);
  // A line the pause sends is the link's own doing, and so is its failure.
  pause_->setCallback([this] {
    if (Status sent = nextSetupLine(); !sent) fault(sent.failure());
  });
  hold_->setInterval(kBusyPatience);
  hold_->setSingleShot(true);
  hold_->setCallback([this] { release(); });  // it does not stop: written anyway
}

AdapterLink::~AdapterLink() {
  pause_->setCallback({});
  hold_->setCallback({});
}

Status AdapterLink::writeLine(const QString& command) {
  if (!port_.write(command.toLatin1() + kLineEnd)) return lostFailure(port_);
  heard_ = false;
  prompted_ = false;
  return {};
}

Status AdapterLink::send(const QString& command) {
  // A reply timer that ran out does not mean the adapter is done: one still
  // answering would lose the next command's first character.
  if (heard_ && !prompted_) {
    held_ = command;
    hold_->start();
    return {};
  }
  held_.reset();
  hold_->stop();
  return transmit(command);
}

void AdapterLink::release() {
  hold_->stop();
  if (!held_) return;
  const QString command = *std::exchange(held_, std::nullopt);
  if (Status sent = transmit(command); !sent) fault(sent.failure());
}

Status AdapterLink::transmit(const QString& command) {
  // Armed before the write: a reply the write brings at once finds the link
  // waiting for it.
  timer_.start();
  if (hooks_.onCommandSent) hooks_.onCommandSent(command);
  return writeLine(command);
}

Status AdapterLink::SendCom(const QString& command, ReplyShape expected, bool reset) {
  // A reset opens a window's talk with an adapter it just opened, which may
  // still be busy for the window that had it before: it may go out again.
  return await(command, std::move(expected), reset, reset);
}

Status AdapterLink::await(const QString& command, ReplyShape expected, bool ownReset, bool mayResend) {
  pause_->stop();
  state_ = Awaiting{ReplyCheck(std::move(expected)), ownReset, command, !mayResend};
  Status sent = send(command);
  if (!sent) stop();
  return sent;
}

Status AdapterLink::setUp(const QStringList& commands, ReplyShape last) {
  stop();
  setup_ = commands;
  if (commands.isEmpty()) return {};
  state_ = SettingUp{commands, std::move(last)};
  return nextSetupLine();
}

Status AdapterLink::nextSetupLine() {
  auto* setting = std::get_if<SettingUp>(&state_);
  if (!setting) return {};  // stopped since
  const QString line = setting->left.takeFirst();
  // A banner that comes as late as the last line still answers our own reset.
  if (setting->left.isEmpty()) return await(line, setting->last, true, false);
  Status sent = writeLine(line);
  if (!sent) {
    stop();
  } else {
    pause_->start();
  }
  return sent;
}

void AdapterLink::fault(const Failure& failure) {
  stop();
  if (hooks_.onFault) hooks_.onFault(failure);
}

void AdapterLink::stop() {
  timer_.stop();
  pause_->stop();
  hold_->stop();
  held_.reset();
  state_ = Idle{};
}

ReplyCheck* AdapterLink::check() {
  if (auto* awaiting = std::get_if<Awaiting>(&state_)) return &awaiting->check;
  if (auto* again = std::get_if<SettingUpAgain>(&state_)) return &again->check;
  return nullptr;
}

void AdapterLink::onPortEvent(PortEvent event) {
  switch (event) {
    case PortEvent::kReceived: {
      const QByteArray waiting = port_.readAll();
      if (waiting.isEmpty()) return;
      heard_ = true;
      if (waiting.contains('>')) prompted_ = true;
      qsizetype from = buffer_.size();
      buffer_.append(QLatin1String(waiting));
      if (buffer_.size() > kMaxBuffer) {
        buffer_ = buffer_.right(kMaxBuffer / 2);
        from = std::max<qsizetype>(0, buffer_.size() - waiting.size());
        if (ReplyCheck* c = check()) c->restart();
      }
      bufferChanged(from);
      if (held_ && prompted_) release();
      return;
    }
    case PortEvent::kError:
      fault(lostFailure(port_));
      return;
  }
}

void AdapterLink::setBuffer(const QString& text) {
  buffer_ = text;
  if (ReplyCheck* c = check()) c->restart();
  bufferChanged(0);
}

bool AdapterLink::unaskedBanner(qsizetype from) {
  const qsizetype at =
      buffer_.indexOf(QLatin1String(kBanner), std::max<qsizetype>(0, from - kBannerLength + 1));
  if (at < 0 || std::holds_alternative<SettingUp>(state_)) return false;
  if (auto* awaiting = std::get_if<Awaiting>(&state_); awaiting && awaiting->ownReset) {
    awaiting->ownReset = false;  // the answer to our own reset
    return false;
  }
  // What came before answers nothing the adapter still remembers.
  buffer_.remove(0, at + kBannerLength);
  return true;
}

// "LV RESET" (a supply dip) and "ERR94" (a fatal CAN error) come just before
// the adapter restarts, unless a prompt follows them.
bool AdapterLink::restartAnnounced(qsizetype from) const {
  if (!std::holds_alternative<Awaiting>(state_) && !std::holds_alternative<SettingUpAgain>(state_))
    return false;
  for (const AdapterWord word : {AdapterWord::kLowVoltageReset, AdapterWord::kFatalCan}) {
    const QString text = adapterWordText(word);
    if (buffer_.indexOf(text, std::max<qsizetype>(0, from - text.size() + 1)) >= 0) return true;
  }
  return false;
}

void AdapterLink::bufferChanged(qsizetype from) {
  if (hooks_.onBufferChanged) hooks_.onBufferChanged(buffer_);
  if (unaskedBanner(from)) {
    if (idle()) return;
    setUpAgain();
  }
  ReplyCheck* c = check();
  if (!c) return;
  // Nothing answers a command still waiting to be written.
  const std::optional<QString> out = held_ ? std::nullopt : c->check(buffer_);
  if (!out) {
    if (cutShort()) return;
    // Whatever is written while it restarts is lost, or heard in part once it
    // is back: nothing goes out before the banner and its prompt.
    if (restartAnnounced(from)) {
      buffer_.clear();
      if (hooks_.onBufferChanged) hooks_.onBufferChanged(buffer_);
      timer_.setInterval(kResetPatience);
      setUpAgain();
    }
    return;
  }
  // Everything up to and after the reply goes; the emptied buffer holds nothing to check.
  Reply reply{*out, std::exchange(buffer_, QString())};
  if (hooks_.onBufferChanged) hooks_.onBufferChanged(buffer_);
  if (std::holds_alternative<SettingUpAgain>(state_)) return nextSetupAgainLine();
  stop();
  if (hooks_.onReply) hooks_.onReply(reply);
}

// An adapter still busy for an earlier client (a port opened again while it
// searched or answered) takes our command's first character as an order to
// stop: "STOPPED" and a prompt, then the rest of the line refused ("?") and a
// second prompt, and no echo of the command. It is idle now: the command goes
// out again, once.
bool AdapterLink::cutShort() {
  auto* awaiting = std::get_if<Awaiting>(&state_);
  if (!awaiting || awaiting->resent || held_) return false;
  const qsizetype stopped = buffer_.indexOf(adapterWordText(AdapterWord::kStopped));
  if (stopped < 0) return false;
  const qsizetype prompt = buffer_.indexOf(QLatin1Char('>'), stopped);
  if (prompt < 0 || buffer_.indexOf(QLatin1Char('>'), prompt + 1) < 0) return false;
  awaiting->resent = true;
  buffer_.clear();
  awaiting->check.restart();
  if (hooks_.onBufferChanged) hooks_.onBufferChanged(buffer_);
  if (Status sent = transmit(awaiting->command); !sent) fault(sent.failure());
  return true;
}

void AdapterLink::setUpAgain() {
  // The banner's own prompt first: the adapter hears nothing before it.
  pause_->stop();
  hold_->stop();
  held_.reset();
  state_ = SettingUpAgain{setup_.mid(1), ReplyCheck(promptOnly())};
  timer_.start();
}

void AdapterLink::nextSetupAgainLine() {
  auto& again = std::get<SettingUpAgain>(state_);
  if (again.left.isEmpty()) {
    stop();
    if (hooks_.onSetUpAgain) hooks_.onSetUpAgain();
    return;
  }
  const QString line = again.left.takeFirst();
  again.check = ReplyCheck(promptOnly());
  if (Status sent = send(line); !sent) fault(sent.failure());
}

void AdapterLink::onReplyTimeout() {
  if (std::holds_alternative<SettingUpAgain>(state_)) return nextSetupAgainLine();
  if (!std::holds_alternative<Awaiting>(state_)) return;
  stop();
  if (hooks_.onTimeout) hooks_.onTimeout();
}

}  // namespace tarvex
