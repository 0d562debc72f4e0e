#include "standard/standard_poller.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace tarvex {

namespace {

double seconds(Micros span) {
  return double(span.count()) / 1e6;
}

const QString kAdaptiveTwo = QStringLiteral("AT2");

// The trip's log columns: economy to a tenth, fuel to a hundredth of their units.
constexpr double kEconomyStep = 0.1;
constexpr double kFuelStep = 0.01;

std::int16_t needleValue(double value) {
  return std::int16_t(std::clamp<long>(std::lround(value), std::numeric_limits<std::int16_t>::min(),
                                       std::numeric_limits<std::int16_t>::max()));
}

// The answers to a request for PIDs: several read by their known lengths; one
// the program does not know (a user's own) taken whole from each controller.
obd::MultiAnswer readPids(const std::vector<int>& asked, const std::vector<obd::Message>& messages) {
  if (asked.size() != 1 || obd::findPid(asked[0])) return obd::parseMulti(asked, messages);
  obd::MultiAnswer out;
  for (const obd::Message& m : messages)
    if (m.data.size() > 2 && m.data[0] == 0x41 && m.data[1] == asked[0])
      out.answers.push_back({m.source, asked[0], {m.data.begin() + 2, m.data.end()}});
  if (out.answers.empty()) out.missing = asked;
  return out;
}

}  // namespace

QString functionalHeader(const obd::Protocol& protocol) {
  switch (protocol.bus) {
    case obd::Bus::kCan11:
      return QStringLiteral("7DF");
    case obd::Bus::kCan29:
      return QStringLiteral("DB33F1");
    case obd::Bus::kLegacy:
      break;
  }
  switch (protocol.number) {
    case '1':
      return QStringLiteral("616AF1");
    case '4':
    case '5':
      return QStringLiteral("C133F1");
    default:
      return QStringLiteral("686AF1");
  }
}

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
  ownRound_.clear();
  ownValues_.clear();
  header_.reset();
  rounds_ = 0;
  onceDue_ = true;
  lostUnderTwo_ = 0;
  applyOwn();
  trip_.reset();
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
  if (polled && stage_ == StandardStage::kPolling && round_.empty() && ownRound_.empty() &&
      !session().queue().busy())
    startRound();
}

void StandardPoller::setOwnPolled(std::size_t index, bool polled) {
  if (polled) {
    ownUnpolled_.erase(index);
  } else {
    ownUnpolled_.insert(index);
  }
  if (polled && stage_ == StandardStage::kPolling && round_.empty() && ownRound_.empty() &&
      !session().queue().busy())
    startRound();
}

void StandardPoller::setOwnParameters(std::vector<obd::UserParameter> parameters) {
  ownComing_ = std::move(parameters);
  // Between rounds the indices of the round out would change under it.
  if (stage_ != StandardStage::kPolling) return applyOwn();
  if (round_.empty() && ownRound_.empty() && !session().queue().busy()) startRound();
}

void StandardPoller::applyOwn() {
  if (!ownComing_) return;
  own_ = std::move(*ownComing_);
  ownComing_.reset();
  ownUnpolled_.clear();
  ownValues_.clear();
  ownChannels_.clear();
  for (const obd::UserParameter& p : own_) {
    QString name = p.shortName();
    bool taken = name.compare(QLatin1String(kEconomyChannel), Qt::CaseInsensitive) == 0 ||
                 name.compare(QLatin1String(kFuelUsedChannel), Qt::CaseInsensitive) == 0;
    for (const obd::Pid& pid : obd::service01())
      taken = taken || name.compare(QString::fromUtf8(pid.column), Qt::CaseInsensitive) == 0;
    if (taken) name += QStringLiteral(" (own)");
    ownChannels_.push_back(name);
  }
  if (stage_ == StandardStage::kPolling && handlers_.onSupported) handlers_.onSupported();
}

const OwnValue* StandardPoller::ownValue(std::size_t index) const {
  const auto it = ownValues_.find(index);
  return it == ownValues_.end() ? nullptr : &it->second;
}

bool StandardPoller::polledStandard(int pid) const {
  return isPolled(pid) && std::binary_search(parameters_.begin(), parameters_.end(), pid);
}

bool StandardPoller::tripRuns() const {
  return polledStandard(0x0D) && (polledStandard(0x5E) || polledStandard(0x10));
}

// Service 01 without a header of its own: asked with the standard parameters.
bool StandardPoller::inRound(const obd::UserParameter& parameter) const {
  return parameter.service() == 0x01 && parameter.header().isEmpty();
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
  applyOwn();
  std::vector<int> polled;
  for (int pid : parameters_)
    if (isPolled(pid) && due(pid)) polled.push_back(pid);
  // The user's service 01 parameters every round, a PID asked once for all who read it.
  ownRound_.clear();
  for (std::size_t i = 0; i < own_.size(); ++i) {
    if (!isOwnPolled(i)) continue;
    if (!inRound(own_[i])) {
      ownRound_.push_back(i);
    } else if (std::find(polled.begin(), polled.end(), own_[i].pid()) == polled.end()) {
      polled.push_back(own_[i].pid());
    }
  }
  // Those with no header first, then one ATSH for each header in turn.
  std::stable_sort(ownRound_.begin(), ownRound_.end(),
                   [this](std::size_t a, std::size_t b) { return own_[a].header() < own_[b].header(); });
  std::vector<int> together;
  for (int pid : polled)
    if (manyPerRequest() && !alone_.contains(pid) && obd::findPid(pid)) together.push_back(pid);
  onceDue_ = false;
  round_ = obd::splitRequests(together, mostPerRequest_);
  for (int pid : polled)
    if (std::find(together.begin(), together.end(), pid) == together.end()) round_.push_back({pid});
  if (logPath_ && !log_.isOpen()) openLog();
  next_ = 0;
  nextOwn_ = 0;
  roundValues_.clear();
  if (!round_.empty() || !ownRound_.empty()) nextRequest();
}

void StandardPoller::openLog() {
  std::vector<LogColumn> columns;
  for (int pid : parameters_) {
    const obd::Pid* row = obd::findPid(pid);
    if (isPolled(pid) && !row->unit.empty())
      columns.push_back({QString::fromUtf8(row->column), QString::fromUtf8(row->unit), obd::pidStep(*row)});
  }
  for (std::size_t i = 0; i < own_.size(); ++i)
    if (isOwnPolled(i)) columns.push_back({ownChannels_[i], own_[i].unit(), own_[i].step()});
  if (tripRuns()) {
    columns.push_back({QString::fromLatin1(kEconomyChannel), QStringLiteral("L/100 km"), kEconomyStep});
    columns.push_back({QString::fromLatin1(kFuelUsedChannel), QStringLiteral("L"), kFuelStep});
  }
  logFrom_ = clock_.now();
  if (Status opened = log_.open(*logPath_, std::move(columns), units_, now_()); !opened) {
    told(opened.failure());
    logPath_.reset();
  }
}

void StandardPoller::nextRequest() {
  if (next_ >= round_.size()) {
    if (nextOwn_ < ownRound_.size()) return askOwn(ownRound_[nextOwn_]);
    if (header_) return setHeader(std::nullopt, [this] { endRound(); });
    return endRound();
  }
  const std::vector<int> asked = round_[next_];
  car_.ask(Request{obd::requestText(asked), answersFor(asked), kPollPatience, 0, std::nullopt, false},
           [this, asked](const Result<CarAnswer>& answer) { takePoll(asked, answer); });
}

void StandardPoller::takePoll(const std::vector<int>& asked, const Result<CarAnswer>& answer) {
  if (!answer && portFailed(answer.failure())) return fail(answer.failure());
  const Micros now = clock_.now();
  int got = 0;
  std::vector<int> missing;
  std::set<int> taken;
  if (answer) {
    const obd::MultiAnswer parsed = readPids(asked, answer->messages);
    std::set<QString> sources;
    for (const obd::PidAnswer& a : parsed.answers) {
      sources.insert(a.source);
      // Where two controllers give the same parameter, the first is shown.
      if (!taken.insert(a.pid).second) continue;
      if (polledStandard(a.pid)) takeValue(a, now);
      for (std::size_t i = 0; i < own_.size(); ++i)
        if (isOwnPolled(i) && inRound(own_[i]) && own_[i].pid() == a.pid)
          takeOwn(i, own_[i].decode(a.data), a.source, now);
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
  // The user's parameters asked here that did not come: not answered, never a value.
  for (std::size_t i = 0; i < own_.size(); ++i)
    if (isOwnPolled(i) && inRound(own_[i]) && !taken.contains(own_[i].pid()) &&
        std::find(asked.begin(), asked.end(), own_[i].pid()) != asked.end())
      takeOwn(i, std::nullopt, {}, now);
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
    const QString column = QString::fromUtf8(row->column);
    const int channel = readings_.channel(column, QString::fromUtf8(row->name), QString::fromUtf8(row->unit));
    readings_.add(channel, at, first);
    roundValues_[column] = first;
    switch (answer.pid) {
      case 0x0C:
        if (gauges_ && gauges_->gaugesVisible()) gauges_->UpdateTach(needleValue(first));
        break;
      case 0x0D:
        trip_.addSpeed(at, first);
        if (gauges_ && gauges_->gaugesVisible()) gauges_->UpdateSpeed(needleValue(first));
        break;
      case 0x10:
        trip_.addAirFlow(at, first);
        break;
      case 0x5E:
        trip_.addFuelRate(at, first);
        break;
      default:
        break;
    }
  }
  if (answer.pid == 0x01) {
    readiness_ = obd::readReadiness(answer.data);
    if (handlers_.onIdentity) handlers_.onIdentity();
  }
  values_.insert_or_assign(answer.pid, answer);
  decoded_.insert_or_assign(answer.pid, std::move(*decoded));
  if (handlers_.onValue) handlers_.onValue(answer.pid);
}

// Each alone, its header set first where it has one of its own.
void StandardPoller::askOwn(std::size_t index) {
  const obd::UserParameter& p = own_[index];
  const std::optional<QString> wanted = p.header().isEmpty() ? std::nullopt : std::optional(p.header());
  if (wanted != header_)
    return setHeader(wanted, [this, index, wanted] {
      if (wanted != header_) {  // the adapter refused the header: nobody to ask
        takeOwn(index, std::nullopt, {}, clock_.now());
        ++nextOwn_;
        return nextRequest();
      }
      askOwn(index);
    });
  car_.ask(Request{p.requestText(), wanted ? 1 : 0, kPollPatience, 0, std::nullopt, false},
           [this, index](const Result<CarAnswer>& answer) {
             if (!answer && portFailed(answer.failure())) return fail(answer.failure());
             const obd::UserParameter& q = own_[index];
             std::optional<double> value;
             QString source;
             for (const obd::Message& m : answer ? answer->messages : std::vector<obd::Message>{}) {
               if (const std::optional<obd::Bytes> data = q.dataOf(m.data))
                 if ((value = q.decode(*data))) {
                   source = m.source;
                   break;
                 }
             }
             const Micros now = clock_.now();
             takeOwn(index, value, source, now);
             exchanges_.push_back({now, value ? 1 : 0});
             ++nextOwn_;
             nextRequest();
           });
}

// ATSH to a user's header, or back to the functional one (nothing).
void StandardPoller::setHeader(const std::optional<QString>& header, std::function<void()> then) {
  const QString to = header ? *header : functionalHeader(*protocol());
  session().send(Request{QStringLiteral("ATSH ") + to, 0, kPollPatience, 0, std::nullopt, false},
                 [this, header, then = std::move(then)](const Result<Reply>& reply) {
                   if (!reply && portFailed(reply.failure())) return fail(reply.failure());
                   if (reply) header_ = header;
                   then();
                 });
}

void StandardPoller::takeOwn(std::size_t index, std::optional<double> value, const QString& source,
                             Micros at) {
  ownValues_.insert_or_assign(index, OwnValue{value, source});
  if (value) {
    const obd::UserParameter& p = own_[index];
    readings_.add(readings_.channel(ownChannels_[index], p.name(), p.unit()), at, *value);
    roundValues_[ownChannels_[index]] = *value;
  }
  if (handlers_.onOwnValue) handlers_.onOwnValue(index);
}

void StandardPoller::endRound() {
  ++rounds_;
  if (tripRuns()) {
    const Micros now = clock_.now();
    const QString economy = QString::fromLatin1(kEconomyChannel),
                  used = QString::fromLatin1(kFuelUsedChannel);
    if (const std::optional<double> e = trip_.litresPer100Km()) {
      readings_.add(readings_.channel(economy, QStringLiteral("Fuel economy (trip computer)"),
                                      QStringLiteral("L/100 km")),
                    now, *e);
      roundValues_[economy] = *e;
    }
    readings_.add(readings_.channel(used, QStringLiteral("Fuel used on the trip"), QStringLiteral("L")), now,
                  trip_.fuelLitres());
    roundValues_[used] = trip_.fuelLitres();
  }
  if (log_.isOpen()) {
    std::vector<std::optional<double>> values;
    for (const LogColumn& c : log_.columns()) {
      const auto it = roundValues_.find(c.name);
      values.push_back(it == roundValues_.end() ? std::nullopt : std::optional(it->second));
    }
    if (Status written = log_.write(seconds(clock_.now() - logFrom_), values); !written) {
      told(written.failure());
      logPath_.reset();
    }
  }
  if (handlers_.onRound) handlers_.onRound();
  startRound();
}

}  // namespace tarvex
