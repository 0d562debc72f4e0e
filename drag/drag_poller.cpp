#include "drag/drag_poller.h"

#include "link/reply_check.h"

namespace tarvex {

namespace {
// The speed reply: "41 0D" and one data byte; the prefix is counted as it is.
ReplyShape speedReply() {
  return {QStringLiteral("41 0D"), 5, 1};
}
}  // namespace

DragPoller::DragPoller(SerialPort& port, Timer& replyTimer, Clock& clock, DragBoxes& boxes, QLocale locale,
                       QString initialBuffer)
    : port_(port),
      clock_(clock),
      link_(port, replyTimer, speedReply(), std::move(initialBuffer)),
      run_(boxes, clock, std::move(locale)) {
  link_.hooks().onReply = [this](const QString& out) { onReply(out); };
  link_.hooks().onTimeout = [this] { AskSpeed(); };
  link_.hooks().onSetUpAgain = [this] { AskSpeed(); };
  link_.hooks().onPortError = [this](const QString&) {
    stop();
    if (!starting_ && onFailure_) onFailure_(portLostFailure(port_));
  };
}

std::optional<QString> DragPoller::start() {
  openFailed_ = !port_.isOpen() && !port_.open();
  if (openFailed_) return portOpenFailure(port_);
  starting_ = true;
  const bool ok = link_.setUp(setupCommands(Setup::kStandard), clock_);
  starting_ = false;
  if (!ok) return portLostFailure(port_);
  return std::nullopt;
}

void DragPoller::stop() {
  if (port_.isOpen()) port_.close();
  link_.stop();
}

void DragPoller::AskSpeed() {
  if (!link_.SendCom(QString::fromLatin1(kSpeedRequest))) return;
  if (onTicks_) onTicks_(static_cast<std::int32_t>(clock_.tickCount()));
}

void DragPoller::onReply(const QString& out) {
  // A reply with noise where the speed should be is no sample; ask again.
  if (isWellFormedData(out)) run_.Display(out);
  AskSpeed();
}

}  // namespace tarvex
