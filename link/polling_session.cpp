#include "link/polling_session.h"

namespace tarvex {

PollingSession::PollingSession(SerialPort& port, Timer& replyTimer, Clock& clock, QString initialBuffer)
    : port_(port), link_(port, replyTimer, clock, std::move(initialBuffer)) {}

PollingSession::~PollingSession() {
  stop();
}

std::optional<PortFailure> PollingSession::start(const QStringList& setup, ReplyShape last) {
  return whenOpen([this, setup, last] { return link_.setUp(setup, last); });
}

std::optional<PortFailure> PollingSession::write(const QString& line) {
  return whenOpen([this, line] { return link_.writeLine(line); });
}

std::optional<PortFailure> PollingSession::SendCom(const QString& command, ReplyShape expected) {
  std::optional<PortFailure> failure = link_.SendCom(command, std::move(expected));
  if (failure) stop();
  return failure;
}

std::optional<PortFailure> PollingSession::whenOpen(Action action) {
  if (!port_.isOpen() && !port_.open()) return PortFailure::openFailed(port_);
  if (!port_.gettingReady()) {
    std::optional<PortFailure> failure = action();
    if (failure) stop();
    return failure;
  }
  afterReady_ << std::move(action);
  if (afterReady_.size() == 1) port_.whenReady([this](bool ready) { portReady(ready); });
  return std::nullopt;
}

void PollingSession::portReady(bool ready) {
  const QList<Action> actions = std::exchange(afterReady_, {});
  std::optional<PortFailure> failure;
  if (!ready) failure = PortFailure::lost(port_);
  for (const Action& action : actions) {
    if (failure) break;
    failure = action();
  }
  if (!failure) return;
  stop();
  if (link_.hooks().onFault) link_.hooks().onFault(*failure);
}

void PollingSession::stop() {
  afterReady_.clear();
  if (port_.isOpen()) port_.close();
  link_.stop();
}

void PollingSession::onPortEvent(PortEvent event) {
  if (event == PortEvent::kError && port_.isOpen()) {
    // The link tells the owner; the port goes first, so nothing polls a dead device.
    const PortFailure failure = PortFailure::lost(port_);
    stop();
    if (link_.hooks().onFault) link_.hooks().onFault(failure);
    return;
  }
  link_.onPortEvent(event);
}

}  // namespace tarvex
