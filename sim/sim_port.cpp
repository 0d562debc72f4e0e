#include "sim/sim_port.h"

namespace tarvex::sim {

struct SimSerialPort::Shared {
  Clock* clock;
  SimAdapter* adapter;
  QString name;
  SimSerialPort* holder = nullptr;
};

SimSerialPort::SimSerialPort(std::shared_ptr<Shared> shared, PortUse use)
    : shared_(std::move(shared)), use_(std::move(use)), timer_(shared_->clock->createTimer()) {
  timer_->setSingleShot(true);
  timer_->setCallback([this] { wake(); });
}

SimSerialPort::~SimSerialPort() {
  close();
}

bool SimSerialPort::open() {
  if (open_) return true;
  SimAdapter& adapter = *shared_->adapter;
  const Micros now = shared_->clock->now();
  if (adapter.goneBy(now)) {
    error_ = QString::fromLatin1(SimPortFactory::kGoneError);
    return false;
  }
  if (shared_->holder && shared_->holder != this) {
    error_ = inUseBy(shared_->holder->use_);
    return false;
  }
  shared_->holder = this;
  open_ = true;
  vanishReported_ = dropReported_ = false;
  adapter.relink();  // a link the adapter dropped is made anew
  error_.clear();
  // What the adapter said while nobody listened is gone.
  adapter.takeOutputDue(now);
  received_.clear();
  arm();
  return true;
}

void SimSerialPort::close() {
  if (!open_) return;
  open_ = false;
  timer_->stop();
  received_.clear();
  if (shared_->holder == this) shared_->holder = nullptr;
}

bool SimSerialPort::write(const QByteArray& data) {
  if (!open_) return false;
  SimAdapter& adapter = *shared_->adapter;
  const Micros now = shared_->clock->now();
  if (adapter.goneBy(now)) {
    error_ = QString::fromLatin1(SimPortFactory::kGoneError);
    return false;
  }
  if (dropReported_) return false;  // until it is opened again
  adapter.receive(data, now);
  arm();
  return true;
}

QByteArray SimSerialPort::readAll() {
  QByteArray out;
  out.swap(received_);
  return out;
}

QString SimSerialPort::deviceName() const {
  return shared_->name;
}

void SimSerialPort::arm() {
  if (!open_) return;
  std::optional<Micros> next = shared_->adapter->nextEventTime();
  const auto gone = shared_->adapter->vanishedAt();
  if (gone && !vanishReported_) next = next ? std::min(*next, *gone) : *gone;
  const auto dropped = shared_->adapter->linkDroppedAt();
  if (dropped && !dropReported_) next = next ? std::min(*next, *dropped) : *dropped;
  wakeTimerAt(*timer_, shared_->clock->now(), next);
}

void SimSerialPort::wake() {
  if (!open_) return;
  SimAdapter& adapter = *shared_->adapter;
  const Micros now = shared_->clock->now();
  received_ += adapter.takeOutputDue(now);
  bool tell = false;  // an error to report
  if (adapter.goneBy(now) && !vanishReported_) {
    vanishReported_ = tell = true;
    error_ = QString::fromLatin1(SimPortFactory::kGoneError);
  }
  const auto dropped = adapter.linkDroppedAt();
  if (dropped && *dropped <= now && !dropReported_ && !tell) {
    dropReported_ = tell = true;
    error_ = QString::fromLatin1(SimPortFactory::kDroppedError);
  }
  // The owner may write (and so re-arm) or close from inside a notification.
  if (!received_.isEmpty()) notify(PortEvent::kReceived);
  if (tell && open_) notify(PortEvent::kError);
  arm();
}

SimPortFactory::SimPortFactory(Clock& clock, SimAdapter& adapter, QString deviceName)
    : shared_(std::make_shared<SimSerialPort::Shared>(SimSerialPort::Shared{&clock, &adapter, deviceName})) {}

SimPortFactory::~SimPortFactory() = default;

std::unique_ptr<SerialPort> SimPortFactory::createPort(const PortUse& use) {
  return std::unique_ptr<SerialPort>(new SimSerialPort(shared_, use));
}

QString SimPortFactory::deviceName() const {
  return shared_->name;
}

bool SimPortFactory::isHeld() const {
  return shared_->holder != nullptr;
}

}  // namespace tarvex::sim
