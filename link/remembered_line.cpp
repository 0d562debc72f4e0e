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

// Passes everything through; looks at what is read for a clean answer.
class RememberingPortFactory::Port final : public SerialPort {
 public:
  Port(std::unique_ptr<SerialPort> inner, std::shared_ptr<std::function<void(const QString&)>> answered)
      : inner_(std::move(inner)), answered_(std::move(answered)) {
    inner_->setNotify([this](PortEvent event) { notify(event); });
  }
  ~Port() override { inner_->setNotify({}); }

  bool open() override {
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
  void watch(const QByteArray& data) {
    qsizetype from = 0;
    for (qsizetype prompt = data.indexOf('>'); prompt >= 0; prompt = data.indexOf('>', from)) {
      sincePrompt_ += data.mid(from, prompt - from + 1);
      if (sincePrompt_.size() > 1 && heard(sincePrompt_) == Heard::kAnswer && *answered_)
        (*answered_)(inner_->deviceName());
      sincePrompt_.clear();
      from = prompt + 1;
    }
    sincePrompt_ += data.mid(from);
    if (sincePrompt_.size() > kAnswerTail) sincePrompt_ = sincePrompt_.right(kAnswerTail);
  }

  std::unique_ptr<SerialPort> inner_;
  std::shared_ptr<std::function<void(const QString&)>> answered_;
  QByteArray sincePrompt_;
};

RememberingPortFactory::RememberingPortFactory(std::unique_ptr<PortFactory> inner,
                                               std::function<qint32()> baud, RememberedLine& remembered)
    : inner_(std::move(inner)),
      answered_(std::make_shared<std::function<void(const QString&)>>(
          [&remembered, baud = std::move(baud)](const QString& device) {
            remembered.remember(device, baud());
          })) {
  inner_->setNotice([this](const QString& text) { notice(text); });
  inner_->setStatus([this](const QString& text) { status(text); });
}

RememberingPortFactory::~RememberingPortFactory() {
  inner_->setNotice({});
  inner_->setStatus({});
  *answered_ = nullptr;
}

std::unique_ptr<SerialPort> RememberingPortFactory::createPort(const PortUse& use) {
  return std::make_unique<Port>(inner_->createPort(use), answered_);
}

}  // namespace tarvex
