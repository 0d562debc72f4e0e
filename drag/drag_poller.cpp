#include "drag/drag_poller.h"

#include "link/reply_check.h"
#include "scan/number_text.h"

namespace tarvex {

namespace {
// The speed reply: "41 0D" and one data byte; the prefix is counted as it is.
const ReplyShape kSpeedReply{QStringLiteral("41 0D"), 5, 1};
}  // namespace

DragPoller::DragPoller(SerialPort& port, Clock& clock, DragBoxes& boxes, QLocale locale)
    : port_(port),
      clock_(clock),
      link_(port, clock, kSpeedReply, QStringLiteral("Text1"), false),
      run_(boxes, clock, std::move(locale)) {
  link_.hooks().onReply = [this](const QString& out) { onReply(out); };
  // Once stopped, nothing asks again: not a late edit of the buffer, not the timer.
  link_.hooks().onTimeout = [this] {
    if (port_.isOpen()) AskSpeed();
  };
  port_.setNotify([this](int kind) { link_.Comm1_OnComm(kind); });
}

DragPoller::~DragPoller() {
  port_.setNotify({});
  link_.stopTimer();
}

void DragPoller::setRxTextChanged(std::function<void(const QString&)> callback) {
  link_.hooks().onRxTextChanged = std::move(callback);
}

std::optional<QString> DragPoller::pb_Start_Click() {
  if (!port_.isOpen() && !port_.open()) return portOpenFailure(port_);
  link_.writeLine(QStringLiteral("ATZ"));
  clock_.sleep(kSetupPause);
  link_.writeLine(QStringLiteral("ATE1"));
  clock_.sleep(kSetupPause);
  link_.SendCom(QStringLiteral("ATST 10"));
  return std::nullopt;
}

void DragPoller::pb_stop_Click() {
  if (port_.isOpen()) port_.close();
  link_.stopTimer();
}

void DragPoller::AskSpeed() {
  link_.SendCom(QString::fromLatin1(kSpeedRequest));
  ticksText_ = wholeText(static_cast<std::int32_t>(clock_.tickCount()));
  if (ticksChanged_) ticksChanged_(ticksText_);
}

void DragPoller::onReply(const QString& out) {
  // A reply with noise where the speed should be is no sample; ask again.
  if (isWellFormedData(out)) run_.Display(out);
  if (port_.isOpen()) AskSpeed();
}

}  // namespace tarvex
