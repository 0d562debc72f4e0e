#include "link/polling_session.h"

namespace tarvex {

QString resetCommandFor(const QString& device) {
  return device.contains(QLatin1String("rfcomm")) ? QStringLiteral("ATWS")
                                                  : QString::fromLatin1(kResetCommand);
}

PollingSession::PollingSession(SerialPort& port, Timer& replyTimer, Clock& clock, AdapterTraits& traits,
                               QString initialBuffer)
    : port_(port), link_(port, replyTimer, clock, std::move(initialBuffer)), queue_(link_, clock, traits) {
  AdapterLink::Hooks& hooks = link_.hooks();
  hooks.onReply = [this](const AdapterLink::Reply& reply) {
    if (queue_.busy()) return queue_.onReply(reply);
    if (pacedDone_) std::exchange(pacedDone_, nullptr)(Reply{{}, reply.text, reply.out, {}, {}, {}});
  };
  hooks.onTimeout = [this] {
    if (queue_.busy()) return queue_.onTimeout();
    if (pacedDone_)
      std::exchange(pacedDone_,
                    nullptr)(Failure{Failure::Kind::kSilent, port_.deviceName(), QString(), QString()});
  };
  hooks.onSetUpAgain = [this] {
    queue_.resend();
    queue_.resume();
    if (onSetUpAgain_) onSetUpAgain_();
  };
  hooks.onFault = [this](const Failure& failure) { fail(failure); };
}

PollingSession::~PollingSession() {
  onFailure_ = nullptr;
  stop();
}

Status PollingSession::startPaced(const QStringList& setup, ReplyShape last, ReplyHandler done) {
  queue_.clear();
  pacedDone_ = std::move(done);
  return whenOpen([this, setup, last] { return link_.setUp(setup, last); });
}

Status PollingSession::start(const QList<SetupLine>& setup, std::function<void(const Status&)> done) {
  queue_.clear();
  setup_ = setup;
  setupDone_ = std::move(done);
  speedSearched_ = false;
  QStringList commands;
  for (const SetupLine& line : setup) commands << line.command;
  return whenOpen([this, commands] {
    link_.rememberSetUp(commands);
    setUpLine(0);
    return Status{};
  });
}

void PollingSession::setUpLine(int index) {
  if (index >= setup_.size()) return setUpEnded({});
  const SetupLine line = setup_[index];
  const bool reset = index == 0;
  Request request{line.command, 0, reset ? kResetPatience : kSettingPatience, 0, std::nullopt, reset};
  const int run = run_;
  queue_.send(std::move(request), [this, index, line, run](const Result<Reply>& reply) {
    if (run != run_) return;
    if (reply) return setUpLine(index + 1);
    const Failure& failure = reply.failure();
    if (line.optional && failure.is(Failure::Kind::kAdapter) && failure.reason == QLatin1String("?")) {
      queue_.traits().refused.insert(line.command);
      return setUpLine(index + 1);
    }
    // Silence or garbage at the reset: perhaps the adapter runs at another speed.
    if (index == 0 && failure.is(Failure::Kind::kSilent) && !speedSearched_ && port_.searchSpeed()) {
      speedSearched_ = true;
      return port_.whenReady([this, run](bool ready) {
        if (run != run_) return;
        if (!ready) return fail(lostFailure(port_));
        setUpLine(0);
      });
    }
    setUpEnded(failure);
  });
}

void PollingSession::setUpEnded(const Status& status) {
  if (auto done = std::exchange(setupDone_, nullptr)) done(status);
}

Status PollingSession::write(const QString& line) {
  return whenOpen([this, line] { return link_.writeLine(line); });
}

void PollingSession::send(Request request, ReplyHandler done) {
  if (!port_.isOpen() && !port_.open()) {
    if (done) done(openFailure(port_));
    return;
  }
  if (port_.gettingReady()) {
    afterReady_ << [this, request, done] {
      queue_.send(request, done);
      return Status{};
    };
    if (afterReady_.size() == 1) port_.whenReady([this](bool ready) { portReady(ready); });
    return;
  }
  queue_.send(std::move(request), std::move(done));
}

Status PollingSession::whenOpen(Action action) {
  if (!port_.isOpen() && !port_.open()) return openFailure(port_);
  if (!port_.gettingReady()) {
    Status status = action();
    if (!status) stop();
    return status;
  }
  afterReady_ << std::move(action);
  if (afterReady_.size() == 1) port_.whenReady([this](bool ready) { portReady(ready); });
  return {};
}

void PollingSession::portReady(bool ready) {
  const QList<Action> actions = std::exchange(afterReady_, {});
  // It never got ready: it would not open, as far as the user can tell.
  if (!ready) return fail(openFailure(port_));
  for (const Action& action : actions) {
    if (Status status = action(); !status) return fail(status.failure());
  }
}

void PollingSession::fail(const Failure& failure) {
  stop();
  if (onFailure_) onFailure_(failure);
}

void PollingSession::stop() {
  ++run_;
  afterReady_.clear();
  pacedDone_ = nullptr;
  setupDone_ = nullptr;
  queue_.clear();
  if (port_.isOpen()) port_.close();
  link_.stop();
}

void PollingSession::onPortEvent(PortEvent event) {
  if (event == PortEvent::kError && port_.isOpen()) {
    // The port goes first, so nothing polls a dead device.
    const Failure failure = lostFailure(port_);
    return fail(failure);
  }
  link_.onPortEvent(event);
}

}  // namespace tarvex
