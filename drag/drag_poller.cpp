#include "drag/drag_poller.h"

#include "link/reply_check.h"

namespace tarvex {

namespace {
// The speed reply: "41 0D" and one data byte; the prefix is counted as it is.
ReplyShape speedReply() {
  return {QStringLiteral("41 0D"), 5, 1};
}
}  // namespace

DragPoller::DragPoller(SerialPort& port, Timer& replyTimer, Clock& clock, AdapterTraits& traits,
                       DragBoxes& boxes, QLocale locale, QString initialBuffer)
    : clock_(clock),
      session_(port, replyTimer, clock, traits, std::move(initialBuffer)),
      run_(boxes, clock, std::move(locale)) {
  session_.setFailureHandler([this](const Failure& failure) { fail(failure); });
}

DragPoller::~DragPoller() {
  session_.setFailureHandler({});
}

Status DragPoller::start() {
  return session_.startPaced(setupCommands(Setup::kStandard), speedReply(),
                             [this](const Result<Reply>& reply) { answered(reply); });
}

void DragPoller::stop() {
  session_.stop();
}

void DragPoller::fail(const Failure& failure) {
  stop();
  if (onFailure_) onFailure_(failure);
}

void DragPoller::AskSpeed() {
  session_.send(Request{QString::fromLatin1(kSpeedRequest), 0, kReplyTimeout, 0, speedReply(), false},
                [this](const Result<Reply>& reply) { answered(reply); });
  if (session_.active() && onTicks_) onTicks_(static_cast<std::int32_t>(clock_.tickCount()));
}

// A request that got no complete reply in time is written again.
void DragPoller::answered(const Result<Reply>& reply) {
  if (!reply && portFailed(reply.failure())) return fail(reply.failure());
  // A reply with noise where the speed should be is no sample; ask again.
  if (reply && isWellFormedData(reply->out)) run_.Display(reply->out);
  AskSpeed();
}

}  // namespace tarvex
