#include "standard/standard_poller.h"

#include <algorithm>

#include "obd/user_parameters.h"

namespace tarvex {

namespace {

// A request's answer starts at its echo and ends at the prompt.
ReplyShape afterEcho(const QString& command) {
  return {command, int(command.size()), 0};
}

std::optional<QString> answerAfterEcho(const QString& buffer, const QString& command) {
  const qsizetype at = buffer.indexOf(command);
  if (at < 0) return std::nullopt;
  const qsizetype from = at + command.size();
  const qsizetype prompt = buffer.indexOf(QLatin1Char('>'), from);
  if (prompt < 0) return std::nullopt;
  return buffer.mid(from, prompt - from);
}

double seconds(Micros span) {
  return double(span.count()) / 1e6;
}

}  // namespace

QStringList StandardPoller::setupCommands() {
  return {QString::fromLatin1(kResetCommand), QStringLiteral("ATE1"), QStringLiteral("ATH1"),
          QStringLiteral("ATSP0")};
}

StandardPoller::StandardPoller(SerialPort& port, Timer& replyTimer, Clock& clock, Readings& readings,
                               QString initialBuffer)
    : clock_(clock),
      readings_(readings),
      session_(port, replyTimer, clock, std::move(initialBuffer)),
      late_(clock.createTimer()) {
  late_->setInterval(kLateLook);
  late_->setSingleShot(false);
  late_->setCallback([this] { lookLate(); });
  AdapterLink::Hooks& hooks = session_.hooks();
  hooks.onBufferChanged = [this](const QString& buffer) {
    if (!buffer.isEmpty()) captured_ = buffer;
  };
  hooks.onReply = [this](const QString&) { onReply(); };
  hooks.onTimeout = [this] { onTimeout(); };
  hooks.onSetUpAgain = [this] { send(step_, command_, patience_); };
  hooks.onFault = [this](const PortFailure& failure) { fail(failure); };
}

StandardPoller::~StandardPoller() {
  late_->setCallback({});
  session_.hooks() = {};
  log_.close();
}

std::optional<PortFailure> StandardPoller::start() {
  stop();
  protocol_.reset();
  supported_ = {};
  parameters_.clear();
  alone_.clear();
  identity_ = {};
  readiness_.reset();
  values_.clear();
  decoded_.clear();
  exchanges_.clear();
  round_.clear();
  rounds_ = 0;
  step_ = Step::kSetup;
  command_ = setupCommands().constLast();
  captured_.clear();
  setStage(StandardStage::kSettingUp);
  std::optional<PortFailure> failure = session_.start(setupCommands(), afterEcho(command_));
  if (failure) setStage(StandardStage::kIdle);
  return failure;
}

void StandardPoller::stop() {
  late_->stop();
  waitingLate_ = false;
  session_.stop();
  log_.close();
  if (stage_ != StandardStage::kNoCar) setStage(StandardStage::kIdle);
}

void StandardPoller::fail(const PortFailure& failure) {
  stop();
  if (handlers_.onFailure) handlers_.onFailure(failure);
}

void StandardPoller::problem(const QString& text) {
  if (handlers_.onProblem) handlers_.onProblem(text);
}

void StandardPoller::setStage(StandardStage stage) {
  stage_ = stage;
  if (handlers_.onStage) handlers_.onStage();
}

void StandardPoller::setPolled(int pid, bool polled) {
  if (polled) {
    unpolled_.erase(pid);
  } else {
    unpolled_.insert(pid);
  }
  // A poll with nothing to ask waits for a parameter to be put back.
  if (polled && stage_ == StandardStage::kPolling && round_.empty() && session_.link().idle() &&
      !waitingLate_)
    startRound();
}

void StandardPoller::setLogPath(std::optional<QString> path) {
  logPath_ = std::move(path);
  if (!logPath_) log_.close();
}

const obd::Value* StandardPoller::value(int pid) const {
  const auto it = decoded_.find(pid);
  return it == decoded_.end() ? nullptr : &it->second;
}

QString StandardPoller::valueSource(int pid) const {
  const auto it = values_.find(pid);
  return it == values_.end() ? QString() : it->second.source;
}

PollRates StandardPoller::rates() const {
  const Micros now = clock_.now();
  const Micros span = std::min<Micros>(kRateWindow, now - pollFrom_);
  if (span <= Micros{0}) return {};
  int requests = 0, parameters = 0;
  for (const Exchange& e : exchanges_) {
    if (e.at <= now - span) continue;
    ++requests;
    parameters += e.parameters;
  }
  return {requests / seconds(span), parameters / seconds(span)};
}

// --- The exchange of one request -------------------------------------------

void StandardPoller::send(Step step, const QString& command, Millis patience) {
  step_ = step;
  command_ = command;
  patience_ = patience;
  late_->stop();
  waitingLate_ = false;
  // What is left over answers nothing we still wait for.
  session_.link().setBuffer(QString());
  captured_.clear();
  sentAt_ = clock_.now();
  if (std::optional<PortFailure> failure = session_.SendCom(command, afterEcho(command))) fail(*failure);
}

void StandardPoller::onReply() {
  const QString text = std::exchange(captured_, QString());
  answered(answerAfterEcho(text, command_).value_or(QString()));
}

void StandardPoller::onTimeout() {
  waitingLate_ = true;
  late_->start();
}

void StandardPoller::lookLate() {
  if (!waitingLate_) return late_->stop();
  if (std::optional<QString> text = answerAfterEcho(session_.link().buffer(), command_)) {
    late_->stop();
    waitingLate_ = false;
    return answered(std::move(text));
  }
  if (clock_.now() - sentAt_ >= patience_) {
    late_->stop();
    waitingLate_ = false;
    answered(std::nullopt);
  }
}

std::vector<obd::Message> StandardPoller::messages(const QString& text) const {
  return obd::parseAnswer(text, protocol_ ? protocol_->bus : obd::Bus::kLegacy, /*headers=*/true).messages;
}

void StandardPoller::answered(std::optional<QString> text) {
  switch (step_) {
    case Step::kSetup:
      setStage(StandardStage::kSearching);
      return send(Step::kSearch, QStringLiteral("0100"), kSearchLimit);
    case Step::kSearch:
      return afterSearch(std::move(text));
    case Step::kProtocol:
      return afterProtocol(std::move(text));
    case Step::kBitmap:
      if (text && supported_.add(bitmapBase_, messages(*text))) {
        bitmapBase_ += 0x20;
        return send(Step::kBitmap, obd::requestText(std::vector<int>{bitmapBase_}), kLateLimit);
      }
      return bitmapsDone();
    case Step::kInfoBitmap: {
      infoLeft_.clear();
      bool answeredAtAll = false;
      for (const obd::Message& m : messages(text.value_or(QString()))) {
        const auto& d = m.data;
        // On CAN "49 00" and four bytes; the older buses put a count in between.
        if (d.size() < 6 || d[0] != 0x49 || d[1] != 0x00) continue;
        answeredAtAll = true;
        const std::size_t at = d.size() - 4;
        for (int pid : {obd::kVinPid, obd::kCalibrationPid, obd::kEcuNamePid}) {
          const int bit = pid - 1;
          if ((d[at + std::size_t(bit / 8)] & (0x80 >> (bit % 8))) &&
              std::find(infoLeft_.begin(), infoLeft_.end(), pid) == infoLeft_.end())
            infoLeft_.push_back(pid);
        }
      }
      // A car without the bitmap may still have its VIN.
      if (!answeredAtAll) infoLeft_ = {obd::kVinPid};
      std::sort(infoLeft_.begin(), infoLeft_.end());
      return nextInfo();
    }
    case Step::kInfo: {
      auto items = obd::readInfo(messages(text.value_or(QString())), infoPid_, protocol_->bus);
      if (infoPid_ == obd::kVinPid) identity_.vin = std::move(items);
      if (infoPid_ == obd::kCalibrationPid) identity_.calibrations = std::move(items);
      if (infoPid_ == obd::kEcuNamePid) identity_.ecuNames = std::move(items);
      if (handlers_.onIdentity) handlers_.onIdentity();
      return nextInfo();
    }
    case Step::kReadiness:
      for (const obd::Message& m : messages(text.value_or(QString()))) {
        if (m.data.size() < 6 || m.data[0] != 0x41 || m.data[1] != 0x01) continue;
        readiness_ = obd::readReadiness(obd::Bytes(m.data).subspan(2));
        if (handlers_.onIdentity) handlers_.onIdentity();
        break;
      }
      return startRound();
    case Step::kPoll:
      return takePoll(text);
  }
}

// --- Discovery ---------------------------------------------------------------

void StandardPoller::afterSearch(std::optional<QString> text) {
  searchAnswer_ = text.value_or(QString());
  setStage(StandardStage::kDiscovering);
  send(Step::kProtocol, QStringLiteral("ATDPN"), kLateLimit);
}

void StandardPoller::afterProtocol(std::optional<QString> text) {
  QString line;
  for (const QString& l : text.value_or(QString()).split(QLatin1Char('\r'), Qt::SkipEmptyParts))
    if (!l.trimmed().isEmpty()) line = l.trimmed();
  protocol_ = obd::protocolFromDpn(line);
  const bool more = protocol_ && supported_.add(0x00, messages(searchAnswer_));
  if (!protocol_ || (supported_.parameters().empty() && !more)) {
    protocol_.reset();
    session_.stop();
    late_->stop();
    setStage(StandardStage::kNoCar);
    return problem(QStringLiteral("No car answered the standard requests (0100): is the ignition on?"));
  }
  setStage(StandardStage::kDiscovering);
  if (!more) return bitmapsDone();
  bitmapBase_ = 0x20;
  send(Step::kBitmap, QStringLiteral("0120"), kLateLimit);
}

void StandardPoller::bitmapsDone() {
  parameters_.clear();
  for (int pid : supported_.parameters())
    if (obd::findPid(pid)) parameters_.push_back(pid);
  if (handlers_.onSupported) handlers_.onSupported();
  send(Step::kInfoBitmap, QStringLiteral("0900"), kLateLimit);
}

void StandardPoller::nextInfo() {
  if (!infoLeft_.empty()) {
    infoPid_ = infoLeft_.front();
    infoLeft_.pop_front();
    return send(Step::kInfo, QString::asprintf("09%02X", infoPid_), kLateLimit);
  }
  if (supported_.has(0x01)) return send(Step::kReadiness, QStringLiteral("0101"), kLateLimit);
  startRound();
}

// --- Polling -----------------------------------------------------------------

void StandardPoller::startRound() {
  if (stage_ != StandardStage::kPolling) {
    pollFrom_ = clock_.now();
    setStage(StandardStage::kPolling);
  }
  std::vector<int> together, polled;
  for (int pid : parameters_) {
    if (!isPolled(pid)) continue;
    polled.push_back(pid);
    if (manyPerRequest() && !alone_.contains(pid)) together.push_back(pid);
  }
  round_ = obd::splitRequests(together, mostPerRequest_);
  for (int pid : polled)
    if (std::find(together.begin(), together.end(), pid) == together.end()) round_.push_back({pid});

  if (logPath_ && !log_.isOpen()) {
    std::vector<LogColumn> columns;
    for (int pid : polled) {
      const obd::Pid* row = obd::findPid(pid);
      if (!row->unit.empty())
        columns.push_back({QString::fromUtf8(row->column), QString::fromUtf8(row->unit), obd::pidStep(*row)});
    }
    logFrom_ = clock_.now();
    if (std::optional<QString> failure =
            log_.open(*logPath_, std::move(columns), UnitChoice::metric(), QDateTime::currentDateTime())) {
      problem(QStringLiteral("The log %1 could not be written: %2").arg(*logPath_, *failure));
      logPath_.reset();
    }
  }
  next_ = 0;
  roundValues_.clear();
  if (!round_.empty()) nextRequest();
}

void StandardPoller::nextRequest() {
  if (next_ >= round_.size()) return endRound();
  send(Step::kPoll, obd::requestText(round_[next_]), kLateLimit);
}

void StandardPoller::takePoll(const std::optional<QString>& text) {
  const std::vector<int>& asked = round_[next_];
  const Micros now = clock_.now();
  int got = 0;
  std::vector<int> missing = asked;
  if (text) {
    const obd::MultiAnswer answer = obd::parseMulti(asked, messages(*text));
    std::set<int> taken;
    for (const obd::PidAnswer& a : answer.answers) {
      // Where two controllers give the same parameter, the first is shown.
      if (!taken.insert(a.pid).second) continue;
      takeValue(a, now);
      ++got;
    }
    missing = answer.missing;
  }
  if (asked.size() > 1) alone_.insert(missing.begin(), missing.end());
  exchanges_.push_back({now, got});
  while (!exchanges_.empty() && exchanges_.front().at <= now - kRateWindow) exchanges_.pop_front();
  ++next_;
  nextRequest();
}

void StandardPoller::takeValue(const obd::PidAnswer& answer, Micros at) {
  std::optional<obd::Value> decoded = obd::decodePid(answer.pid, answer.data);
  if (!decoded) return;
  const obd::Pid* row = obd::findPid(answer.pid);
  if (!decoded->readings.empty() && !row->unit.empty()) {
    const double first = decoded->readings.front().value;
    const int channel = readings_.channel(QString::fromUtf8(row->column), QString::fromUtf8(row->name),
                                          QString::fromUtf8(row->unit));
    readings_.add(channel, at, first);
    roundValues_[answer.pid] = first;
  }
  if (answer.pid == 0x01) {
    readiness_ = obd::readReadiness(answer.data);
    if (handlers_.onIdentity) handlers_.onIdentity();
  }
  values_.insert_or_assign(answer.pid, answer);
  decoded_.insert_or_assign(answer.pid, std::move(*decoded));
  if (handlers_.onValue) handlers_.onValue(answer.pid);
}

void StandardPoller::endRound() {
  ++rounds_;
  if (log_.isOpen()) {
    std::vector<std::optional<double>> values;
    for (const LogColumn& c : log_.columns()) {
      std::optional<double> v;
      for (const auto& [pid, value] : roundValues_)
        if (QString::fromUtf8(obd::findPid(pid)->column) == c.name) v = value;
      values.push_back(v);
    }
    if (std::optional<QString> failure = log_.write(seconds(clock_.now() - logFrom_), values)) {
      problem(QStringLiteral("The log %1 could not be written: %2").arg(log_.path(), *failure));
      logPath_.reset();
    }
  }
  if (handlers_.onRound) handlers_.onRound();
  startRound();
}

}  // namespace tarvex
