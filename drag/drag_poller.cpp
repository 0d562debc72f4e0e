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
    : clock_(clock),
      session_(port, replyTimer, clock, std::move(initialBuffer)),
      run_(boxes, clock, std::move(locale)) {
  AdapterLink::Hooks& hooks = session_.hooks();
  hooks.onReply = [this](const QString& out) { onReply(out); };
  hooks.onTimeout = [this] { AskSpeed(); };
  hooks.onSetUpAgain = [this] { AskSpeed(); };
  hooks.onFault = [this](const PortFailure& failure) { fail(failure); };
}

DragPoller::~DragPoller() {
  session_.hooks() = {};
}

std::optional<PortFailure> DragPoller::start() {
  return session_.start(setupCommands(Setup::kStandard), speedReply());
}

void DragPoller::stop() {
  session_.stop();
}

void DragPoller::fail(const PortFailure& failure) {
  stop();
  if (onFailure_) onFailure_(failure);
}

void DragPoller::AskSpeed() {
  if (std::optional<PortFailure> failure = session_.SendCom(QString::fromLatin1(kSpeedRequest), speedReply()))
    return fail(*failure);
  if (onTicks_) onTicks_(static_cast<std::int32_t>(clock_.tickCount()));
}

void DragPoller::onReply(const QString& out) {
  // A reply with noise where the speed should be is no sample; ask again.
  if (isWellFormedData(out)) run_.Display(out);
  AskSpeed();
}

}  // namespace tarvex
