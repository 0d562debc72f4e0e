#include "standard/standard_poller.h"

#include <algorithm>

#include "obd/user_parameters.h"

namespace tarvex {

namespace {

double seconds(Micros span) {
  return double(span.count()) / 1e6;
}

const QString kAdaptiveTwo = QStringLiteral("AT2");

}  // namespace

StandardPoller::StandardPoller(SerialPort& port, Timer& replyTimer, Clock& clock, AdapterTraits& traits,
                               Readings& readings, QString initialBuffer)
    : clock_(clock), readings_(readings), car_(port, replyTimer, clock, traits, std::move(initialBuffer)) {
  car_.setFailureHandler([this](const Failure& failure) { fail(failure); });
}

StandardPoller::~StandardPoller() {
  car_.setFailureHandler({});
  log_.close();
}

Status StandardPoller::start() {
  stop();
  supported_ = {};
  bySource_.clear();
  parameters_.clear();
  alone_.clear();
  identity_ = {};
  readiness_.reset();
  values_.clear();
  decoded_.clear();
  exchanges_.clear();
  extras_.clear();
  round_.clear();
  rounds_ = 0;
  onceDue_ = true;
  lostUnderTwo_ = 0;
  SerialPort& port = session().port();
  if (!port.isOpen() && !port.open()) return openFailure(port);
  // Adaptive timing at its tightest, where the adapter knows it; given up
  // again should answers get lost.
  AdapterTraits& traits = session().traits();
  adaptiveTwo_ = !traits.refused.contains(kAdaptiveTwo);
  QList<SetupLine> extra;
  if (adaptiveTwo_) extra << SetupLine{kAdaptiveTwo, true};
  setStage(StandardStage::kSettingUp);
  car_.connect(extra, [this](const Result<obd::Protocol>& protocol) { connected(protocol); });
  return {};
}

void StandardPoller::stop() {
  car_.stop();
  log_.close();
  if (stage_ != StandardStage::kNoCar) setStage(StandardStage::kIdle);
}

void StandardPoller::refresh() {
  if (stage_ != StandardStage::kPolling) return;
  onceDue_ = true;
  extras_.push_back({QStringLiteral("0900"), [this](const Result<CarAnswer>& a) { askInfo(a); }});
}

void StandardPoller::fail(const Failure& failure) {
  stop();
  told(failure);
}

void StandardPoller::told(const Failure& failure) {
  if (onFailure_) onFailure_(failure);
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
  if (polled && stage_ == StandardStage::kPolling && round_.empty() && !session().queue().busy())
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

int StandardPoller::answersFor(const std::vector<int>& pids) const {
  int answers = 0;
  for (const auto& [source, bits] : bySource_)
    if (std::any_of(pids.begin(), pids.end(), [&](int pid) { return bits.has(pid); })) ++answers;
  return answers;
}

// --- Discovery ---------------------------------------------------------------

void StandardPoller::connected(const Result<obd::Protocol>& protocol) {
  if (!protocol) {
    if (portFailed(protocol.failure())) return fail(protocol.failure());
    // The set-up or the search failed: no car to poll (the adapter's word says why).
    car_.stop();
    setStage(StandardStage::kNoCar);
    return told(protocol.failure());
  }
  adaptiveTwo_ = adaptiveTwo_ && !session().traits().refused.contains(kAdaptiveTwo);
  setStage(StandardStage::kDiscovering);
  bool more = false;
  for (const obd::Message& m : car_.searchAnswer()) more = bySource_[m.source].add(0x00, {m}) || more;
  supported_.add(0x00, car_.searchAnswer());
  if (more) return askBitmap(0x20);
  bitmapsDone();
}

void StandardPoller::askBitmap(int base) {
  const std::vector<int> pid{base};
  const int answers = std::max(1, answersFor({base}));
  car_.ask(Request{obd::requestText(pid), answers, kPollPatience, 1, std::nullopt, false},
           [this, base](const Result<CarAnswer>& answer) {
             if (!answer && portFailed(answer.failure())) return fail(answer.failure());
             bool more = false;
             if (answer) {
               for (const obd::Message& m : answer->messages)
                 more = bySource_[m.source].add(base, {m}) || more;
               supported_.add(base, answer->messages);
             }
             if (more && base < 0xE0) return askBitmap(base + 0x20);
             bitmapsDone();
           });
}

void StandardPoller::bitmapsDone() {
  parameters_.clear();
  for (int pid : supported_.parameters())
    if (obd::findPid(pid)) parameters_.push_back(pid);
  if (handlers_.onSupported) handlers_.onSupported();
  // The identity comes after the first round: the first value does not wait for it.
  extras_.push_back({QStringLiteral("0900"), [this](const Result<CarAnswer>& a) { askInfo(a); }});
  startRound();
}

// Which identity items the car has, from its 0900 bitmap; a car without the
// bitmap may still have its VIN.
void StandardPoller::askInfo(const Result<CarAnswer>& bitmap) {
  std::vector<int> items;
  if (bitmap) {
    for (const obd::Message& m : bitmap->messages) {
      const auto& d = m.data;
      // On CAN "49 00" and four bytes; the older buses put a count in between.
      if (d.size() < 6 || d[0] != 0x49 || d[1] != 0x00) continue;
      const std::size_t at = d.size() - 4;
      for (int pid : {obd::kVinPid, obd::kCalibrationPid, obd::kEcuNamePid}) {
        const int bit = pid - 1;
        if ((d[at + std::size_t(bit / 8)] & (0x80 >> (bit % 8))) &&
            std::find(items.begin(), items.end(), pid) == items.end())
          items.push_back(pid);
      }
    }
  }
  if (items.empty()) items = {obd::kVinPid};
  std::sort(items.begin(), items.end());
  for (int pid : items) {
    extras_.push_back({QString::asprintf("09%02X", pid), [this, pid](const Result<CarAnswer>& a) {
                         if (!a) return;
                         auto found = obd::readInfo(a->messages, pid, car_.bus());
                         if (pid == obd::kVinPid) identity_.vin = std::move(found);
                         if (pid == obd::kCalibrationPid) identity_.calibrations = std::move(found);
                         if (pid == obd::kEcuNamePid) identity_.ecuNames = std::move(found);
                         if (handlers_.onIdentity) handlers_.onIdentity();
                       }});
  }
}

// --- Polling -----------------------------------------------------------------

bool StandardPoller::due(int pid) const {
  switch (obd::paceOf(pid)) {
    case obd::Pace::kFast:
      return true;
    case obd::Pace::kSlow:
      return rounds_ % kSlowEvery == 0;
    case obd::Pace::kOnce:
      return onceDue_;
  }
  return true;
}

void StandardPoller::startRound(bool betweenDone) {
  if (stage_ != StandardStage::kPolling) {
    pollFrom_ = clock_.now();
    setStage(StandardStage::kPolling);
  }
  // One between two rounds, and none before the first: an identity item.
  if (!betweenDone && rounds_ > 0 && !extras_.empty()) {
    Extra extra = std::move(extras_.front());
    extras_.pop_front();
    car_.ask(Request{extra.command, 0, CarLink::kAnswerPatience, 1, std::nullopt, false},
             [this, then = std::move(extra.then)](const Result<CarAnswer>& answer) {
               if (!answer && portFailed(answer.failure())) return fail(answer.failure());
               then(answer);
               startRound(true);
             });
    return;
  }
  std::vector<int> together, polled;
  for (int pid : parameters_) {
    if (!isPolled(pid) || !due(pid)) continue;
    polled.push_back(pid);
    if (manyPerRequest() && !alone_.contains(pid)) together.push_back(pid);
  }
  onceDue_ = false;
  round_ = obd::splitRequests(together, mostPerRequest_);
  for (int pid : polled)
    if (std::find(together.begin(), together.end(), pid) == together.end()) round_.push_back({pid});
  if (logPath_ && !log_.isOpen()) openLog();
  next_ = 0;
  roundValues_.clear();
  if (!round_.empty()) nextRequest();
}

void StandardPoller::openLog() {
  std::vector<LogColumn> columns;
  for (int pid : parameters_) {
    const obd::Pid* row = obd::findPid(pid);
    if (isPolled(pid) && !row->unit.empty())
      columns.push_back({QString::fromUtf8(row->column), QString::fromUtf8(row->unit), obd::pidStep(*row)});
  }
  logFrom_ = clock_.now();
  if (std::optional<QString> reason = log_.open(*logPath_, std::move(columns), units_, now_())) {
    told(Failure{Failure::Kind::kCreate, *logPath_, *reason, {}});
    logPath_.reset();
  }
}

void StandardPoller::nextRequest() {
  if (next_ >= round_.size()) return endRound();
  const std::vector<int> asked = round_[next_];
  car_.ask(Request{obd::requestText(asked), answersFor(asked), kPollPatience, 0, std::nullopt, false},
           [this, asked](const Result<CarAnswer>& answer) { takePoll(asked, answer); });
}

void StandardPoller::takePoll(const std::vector<int>& asked, const Result<CarAnswer>& answer) {
  if (!answer && portFailed(answer.failure())) return fail(answer.failure());
  const Micros now = clock_.now();
  int got = 0;
  std::vector<int> missing;
  if (answer) {
    const obd::MultiAnswer parsed = obd::parseMulti(asked, answer->messages);
    std::set<int> taken;
    std::set<QString> sources;
    for (const obd::PidAnswer& a : parsed.answers) {
      sources.insert(a.source);
      // Where two controllers give the same parameter, the first is shown.
      if (!taken.insert(a.pid).second) continue;
      takeValue(a, now);
      ++got;
    }
    missing = parsed.missing;
    // Fewer controllers than their bitmaps promise, with no count digit to
    // wait for them: under AT2 the adapter stopped listening too soon.
    const bool countDigit = session().traits().countDigit == AdapterTraits::Support::kYes;
    if (adaptiveTwo_ && !countDigit && int(sources.size()) < answersFor(asked) && ++lostUnderTwo_ >= 2) {
      adaptiveTwo_ = false;
      car_.ask(Request{QStringLiteral("AT1"), 0, kPollPatience, 0, std::nullopt, false},
               [](const Result<CarAnswer>&) {});
    }
  } else if (answer.failure().is(Failure::Kind::kNoAnswer) || answer.failure().is(Failure::Kind::kRefused)) {
    // Refused together: an adapter or car that takes one parameter at a time.
    missing = asked;
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
    if (std::optional<QString> reason = log_.write(seconds(clock_.now() - logFrom_), values)) {
      told(Failure{Failure::Kind::kWrite, log_.path(), *reason, {}});
      logPath_.reset();
    }
  }
  if (handlers_.onRound) handlers_.onRound();
  startRound();
}

}  // namespace tarvex
