#include "link/remembered_line.h"

#include "link/line_speed.h"

namespace tarvex {

namespace {
const QString kDeviceKey = QStringLiteral("port");
const QString kBaudKey = QStringLiteral("baud");
// What is kept of the text since the last prompt: enough to see it was clean.
constexpr qsizetype kAnswerTail = 256;
}  // namespace

std::optional<QString> RememberedLine::device() const {
  const QString device = settings_.value(kDeviceKey).toString();
  return device.isEmpty() ? std::nullopt : std::optional(device);
}

std::optional<qint32> RememberedLine::baud() const {
  const std::optional<qint32> baud = parseBaud(settings_.value(kBaudKey).toString());
  return baud && *baud != kFindBaud ? baud : std::nullopt;
}

void RememberedLine::remember(const QString& device, qint32 baud) {
  if (device.isEmpty() || baud == kFindBaud || (this->device() == device && this->baud() == baud)) return;
  settings_.setValue(kDeviceKey, device);
  settings_.setValue(kBaudKey, baud);
  settings_.sync();  // a run that ends badly still remembers
}

LineChoice chooseLine(const std::optional<QString>& portOption, const std::optional<qint32>& baudOption,
                      const RememberedLine& remembered, const QString& defaultDevice) {
  const std::optional<QString> device = remembered.device();
  LineChoice line{portOption.value_or(device.value_or(defaultDevice)), kDefaultBaud, false};
  const std::optional<qint32> known = line.device == device ? remembered.baud() : std::nullopt;
  if (baudOption) {
    line.baud = *baudOption;
  } else if (known) {
    line.baud = *known;
  } else {
    line.guessed = true;
  }
  return line;
}

// What the factory and its ports share: the inner factory of the line in
// use, counted so a port knows when to make its inner port again, and what a
// port calls when its adapter answered.
struct RememberingPortFactory::Shared {
  std::unique_ptr<PortFactory> inner;
  int generation = 0;
  std::function<void(const QString& device)> answered;
};

// Passes everything through to a port of the inner factory in use when it was
// last opened; looks at what is read for a clean answer.
class RememberingPortFactory::Port final : public SerialPort {
 public:
  Port(std::shared_ptr<Shared> shared, PortUse use) : shared_(std::move(shared)), use_(std::move(use)) {
    renew();
  }
  ~Port() override { inner_->setNotify({}); }

  bool open() override {
    if (generation_ != shared_->generation && shared_->inner && !inner_->isOpen()) renew();
    sincePrompt_.clear();
    return inner_->open();
  }
  void close() override { inner_->close(); }
  bool isOpen() const override { return inner_->isOpen(); }
  bool write(const QByteArray& data) override { return inner_->write(data); }
  QByteArray readAll() override {
    QByteArray data = inner_->readAll();
    watch(data);
    return data;
  }
  QString deviceName() const override { return inner_->deviceName(); }
  QString errorString() const override { return inner_->errorString(); }
  void whenReady(std::function<void(bool ready)> ready) override { inner_->whenReady(std::move(ready)); }
  bool gettingReady() const override { return inner_->gettingReady(); }
  bool searchSpeed() override { return inner_->searchSpeed(); }

 private:
  void renew() {
    if (inner_) inner_->setNotify({});
    inner_ = shared_->inner->createPort(use_);
    generation_ = shared_->generation;
    inner_->setNotify([this](PortEvent event) { notify(event); });
  }
  void watch(const QByteArray& data) {
    qsizetype from = 0;
    for (qsizetype prompt = data.indexOf('>'); prompt >= 0; prompt = data.indexOf('>', from)) {
      sincePrompt_ += data.mid(from, prompt - from + 1);
      if (sincePrompt_.size() > 1 && heard(sincePrompt_) == Heard::kAnswer && shared_->answered)
        shared_->answered(inner_->deviceName());
      sincePrompt_.clear();
      from = prompt + 1;
    }
    sincePrompt_ += data.mid(from);
    if (sincePrompt_.size() > kAnswerTail) sincePrompt_ = sincePrompt_.right(kAnswerTail);
  }

  std::shared_ptr<Shared> shared_;
  PortUse use_;
  std::unique_ptr<SerialPort> inner_;
  int generation_ = 0;
  QByteArray sincePrompt_;
};

RememberingPortFactory::RememberingPortFactory(Maker make, const LineChoice& line, RememberedLine& remembered)
    : shared_(std::make_shared<Shared>()), make_(std::move(make)) {
  shared_->answered = [this, &remembered](const QString& device) {
    // A network adapter has no speed; the one kept beside its address means nothing.
    remembered.remember(device, lineSpeed().value_or(kDefaultBaud));
  };
  [[maybe_unused]] const Status made = setLine(line);
}

RememberingPortFactory::~RememberingPortFactory() {
  shared_->inner->setNotice({});
  shared_->inner->setStatus({});
  shared_->answered = nullptr;
}

Status RememberingPortFactory::setLine(const LineChoice& line) {
  if (shared_->inner && shared_->inner->isHeld())
    return Failure{Failure::Kind::kOpen,
                   shared_->inner->deviceName(),
                   QStringLiteral("it is in use; close the window that polls it first"),
                   {}};
  std::unique_ptr<PortFactory> made = make_(line);
  if (!made)
    return Failure{Failure::Kind::kInvalid, line.device, QStringLiteral("no adapter can be named so"), {}};
  if (shared_->inner) {
    shared_->inner->setNotice({});
    shared_->inner->setStatus({});
  }
  shared_->inner = std::move(made);
  ++shared_->generation;
  shared_->inner->setNotice([this](const QString& text) { notice(text); });
  shared_->inner->setStatus([this](const QString& text) { status(text); });
  traits() = AdapterTraits{};  // another adapter: nothing learnt of the last holds
  return {};
}

void RememberingPortFactory::setDeviceName(const QString& device) {
  const std::optional<qint32> speed = lineSpeed();
  [[maybe_unused]] const Status changed =
      setLine({device, speed && *speed != kFindBaud ? *speed : kDefaultBaud, !speed || *speed == kFindBaud});
}

QString RememberingPortFactory::deviceName() const {
  return shared_->inner->deviceName();
}

QStringList RememberingPortFactory::devicesPresent() const {
  return shared_->inner->devicesPresent();
}

bool RememberingPortFactory::isHeld() const {
  return shared_->inner->isHeld();
}

std::optional<qint32> RememberingPortFactory::lineSpeed() const {
  return shared_->inner->lineSpeed();
}

std::unique_ptr<SerialPort> RememberingPortFactory::createPort(const PortUse& use) {
  return std::make_unique<Port>(shared_, use);
}

}  // namespace tarvex
