#include "app/headless_log.h"

#include <QDateTime>
#include <QFile>
#include <QStringList>
#include <QTimer>
#include <algorithm>

#include "app/scan_messages.h"
#include "core/text.h"
#include "scan/csv_log.h"
#include "ui/failure_text.h"
#include "ui/layouts.h"

namespace tarvex {

namespace {

using namespace std::chrono_literals;

constexpr Millis kProgressEvery = 500ms;

// The parameter whose answer fills a logged box: its own, or the one that
// fills it as a second target (the bank 2 fuel status).
const Parameter* askedFor(Box box) {
  for (const Parameter& p : catalogue())
    if (p.box == box || p.second == box) return &p;
  return nullptr;
}

QString columnNames() {
  QStringList names;
  for (const CsvColumn& c : csvColumns()) names << toQString(c.name);
  return names.join(QLatin1Char(','));
}

}  // namespace

ParamChoice parseParams(const QString& list) {
  ParamChoice choice;
  if (list.trimmed().isEmpty()) {
    choice.error = QStringLiteral("give at least one of the log's columns: %1").arg(columnNames());
    return choice;
  }
  QStringList unknown;
  for (const QString& raw : list.split(QLatin1Char(','))) {
    const QString name = raw.trimmed();
    const auto* column = std::ranges::find_if(csvColumns(), [&](const CsvColumn& c) {
      return toQString(c.name).compare(name, Qt::CaseInsensitive) == 0;
    });
    if (column == csvColumns().end()) {
      unknown << (name.isEmpty() ? QStringLiteral("(an empty name)") : name);
    } else if (std::ranges::find(choice.boxes, column->box) == choice.boxes.end()) {
      choice.boxes.push_back(column->box);
    }
  }
  if (!unknown.isEmpty()) {
    choice.boxes.clear();
    choice.error = QStringLiteral("unknown parameter %1; the log's columns are: %2")
                       .arg(unknown.join(QStringLiteral(", ")), columnNames());
  }
  return choice;
}

PidChoice parsePids(const QString& list, const std::vector<obd::UserParameter>& own) {
  PidChoice choice;
  QStringList names;
  for (const obd::Pid& p : obd::service01())
    if (!p.unit.empty()) names << QString::fromUtf8(p.column);
  for (const obd::UserParameter& p : own) names << p.shortName();
  const QString known = names.join(QLatin1Char(','));
  if (list.trimmed().isEmpty()) {
    choice.error = QStringLiteral("give at least one parameter: %1").arg(known);
    return choice;
  }
  QStringList unknown;
  for (const QString& raw : list.split(QLatin1Char(','))) {
    const QString name = raw.trimmed();
    bool found = false;
    for (std::size_t i = 0; i < own.size() && !found; ++i)
      if ((found = own[i].shortName().compare(name, Qt::CaseInsensitive) == 0) &&
          std::ranges::find(choice.own, i) == choice.own.end())
        choice.own.push_back(i);
    for (const obd::Pid& p : obd::service01()) {
      if (found || p.unit.empty()) continue;
      if ((found = QString::fromUtf8(p.column).compare(name, Qt::CaseInsensitive) == 0) &&
          std::ranges::find(choice.pids, int(p.pid)) == choice.pids.end())
        choice.pids.push_back(p.pid);
    }
    if (!found) unknown << (name.isEmpty() ? QStringLiteral("(an empty name)") : name);
  }
  if (!unknown.isEmpty()) {
    choice = {};
    choice.error = QStringLiteral("unknown parameter %1; the parameters are: %2")
                       .arg(unknown.join(QStringLiteral(", ")), known);
  }
  return choice;
}

void setUpBoxes(MemoryBoxes& boxes, const std::vector<Box>& chosen) {
  for (int i = 0; i < kBoxCount; ++i) {
    const Box box = static_cast<Box>(i);
    const ControlSpec* layout = tarvexLayout().control(boxName(box));
    if (!layout) continue;
    boxes.setText(box, toQString(layout->text));
    boxes.setEnabled(box, chosen.empty() ? layout->style.enabled : false);
  }
  for (const Box box : chosen) {
    const Parameter* p = askedFor(box);
    if (!p) continue;
    boxes.setEnabled(p->box, true);
    if (p->second) boxes.setEnabled(*p->second, true);
  }
}

HeadlessEnding::HeadlessEnding(Clock& clock, const HeadlessOutput& output, bool shown,
                               std::function<void()> show)
    : output_(output), shown_(shown), show_(std::move(show)), timer_(clock.createTimer()) {
  timer_->setInterval(kProgressEvery);
  timer_->setCallback([this] { show_(); });
}

void HeadlessEnding::start() {
  if (shown_) timer_->start();
}

void HeadlessEnding::breakLine() const {
  if (shown_ && output_.progress) output_.progress(QString());
}

void HeadlessEnding::end(int status) {
  if (ended_) return;
  ended_ = true;
  timer_->stop();
  if (shown_ && output_.progress) {
    show_();
    output_.progress(QString());
  }
  if (finished_) finished_(status);
}

HeadlessLog::HeadlessLog(PortFactory& ports, Clock& clock, Options options, Output output)
    : clock_(clock),
      options_(std::move(options)),
      output_(std::move(output)),
      port_(ports.createPort({QStringLiteral("the log"), /*dataTerminalReady=*/true})),
      timer_(clock.createTimer()),
      ending_(clock, output_, options_.progress, [this] { showProgress(); }) {
  setUpBoxes(boxes_, options_.chosen);
  for (int i = 0; i < kBoxCount; ++i) fresh_[std::size_t(i)] = boxes_.text(Box(i));
  const ControlSpec* buffer = tarvexLayout().control("RxText");
  scan_ = std::make_unique<ScanCycle>(*port_, *timer_, clock_, ports.traits(), boxes_,
                                      buffer ? toQString(buffer->text) : QString());
  port_->setNotify([this](PortEvent event) { scan_->session().onPortEvent(event); });
  timer_->setCallback([this] { scan_->session().onReplyTimeout(); });
  // Whether to end is decided once the scan's own handler has run to its end.
  scan_->setLineHandler([this] {
    ++lines_;
    QTimer::singleShot(0, this, [this] { afterEvent(); });
  });
  scan_->setFailureHandler([this](const Failure& failure) { fail(failure); });
  scan_->setSilenceHandler([this](const Result<QString>& protocol) {
    if (protocol) protocol_ = *protocol;
    // A car the scan will never hear is told once its first rounds are over.
    if (!offersStandardData(protocol) && scan_->refusal().isEmpty())
      output_.error(QStringLiteral("tarvex: ") + silenceNotice(port_->deviceName(), protocol));
  });
  scan_->link().hooks().onCommandSent = [this](const QString&) { ++requests_; };
}

HeadlessLog::~HeadlessLog() {
  scan_->setFailureHandler({});
  scan_->stop();
  port_->setNotify({});
  timer_->setCallback({});
}

bool HeadlessLog::start() {
  if (const Status started = scan_->start(/*logToFile=*/true, options_.logPath); !started) {
    fail(started.failure());
    return false;
  }
  lastShow_ = clock_.now();
  ending_.start();
  return true;
}

void HeadlessLog::finish() {
  if (ending_.ended()) return;
  stopping_ = true;
  scan_->stop();  // a log that fails to close comes back through fail()
  ending_.end(0);
}

bool HeadlessLog::heardAnything() const {
  for (int i = 0; i < kBoxCount; ++i)
    if (boxes_.text(Box(i)) != fresh_[std::size_t(i)]) return true;
  return false;
}

void HeadlessLog::afterEvent() {
  if (ending_.ended()) return;
  if (lines_ >= std::min(kSilentRounds, options_.rounds.value_or(kSilentRounds)) && !heardAnything()) {
    stopping_ = true;
    scan_->stop();
    QFile::remove(options_.logPath);  // made by this run, and holding nothing but placeholders
    ending_.breakLine();
    output_.error(QStringLiteral("tarvex: ") +
                  silentLogText(port_->deviceName(), protocol_, int(lines_), scan_->refusal()));
    return ending_.end(1);
  }
  if (options_.rounds && lines_ >= *options_.rounds) finish();
}

void HeadlessLog::fail(const Failure& failure) {
  const QString message = scanFailureText(failure, scan_->logWasOpen());
  ending_.breakLine();
  output_.error(QStringLiteral("tarvex: ") + message);
  ending_.end(1);
}

void HeadlessLog::showProgress() {
  if (!output_.progress) return;
  const Micros now = clock_.now();
  const double seconds = std::chrono::duration<double>(now - lastShow_).count();
  if (seconds >= 0.25) {
    rate_ = double(requests_ - requestsAtLastShow_) / seconds;
    requestsAtLastShow_ = requests_;
    lastShow_ = now;
  }
  QStringList values;
  for (const CsvColumn& c : csvColumns())
    if (const Parameter* p = askedFor(c.box); p && boxes_.isEnabled(p->box))
      values << toQString(c.name) + QLatin1Char(' ') + boxes_.text(c.box);
  output_.progress(QStringLiteral("%1 lines, %2 requests/s | %3")
                       .arg(lines_)
                       .arg(rate_, 0, 'f', 1)
                       .arg(values.join(QStringLiteral(", "))));
}

HeadlessStandardLog::HeadlessStandardLog(PortFactory& ports, Clock& clock, Options options,
                                         HeadlessOutput output)
    : clock_(clock),
      options_(std::move(options)),
      output_(std::move(output)),
      port_(ports.createPort({QStringLiteral("the log"), /*dataTerminalReady=*/true})),
      timer_(clock.createTimer()),
      poller_(std::make_unique<StandardPoller>(*port_, *timer_, clock, ports.traits(), readings_)),
      ending_(clock, output_, options_.progress, [this] { showProgress(); }) {
  port_->setNotify([this](PortEvent event) { poller_->session().onPortEvent(event); });
  timer_->setCallback([this] { poller_->session().onReplyTimeout(); });
  poller_->setUnits(options_.units);
  poller_->setOwnParameters(options_.own);
  poller_->trip().setFuel(options_.fuel);
  poller_->trip().setCalibration(options_.calibration);
  if (options_.chosen) {
    for (const obd::Pid& p : obd::service01())
      poller_->setPolled(p.pid,
                         std::ranges::find(options_.chosen->pids, int(p.pid)) != options_.chosen->pids.end());
    for (std::size_t i = 0; i < options_.own.size(); ++i)
      poller_->setOwnPolled(i, std::ranges::find(options_.chosen->own, i) != options_.chosen->own.end());
  }
  poller_->setLogPath(options_.logPath);
  StandardPoller::Handlers& h = poller_->handlers();
  h.onSupported = [this] { supported(); };
  h.onRound = [this] { roundEnded(); };
  poller_->setFailureHandler([this](const Failure& failure) { fail(failure); });
}

HeadlessStandardLog::~HeadlessStandardLog() {
  poller_->handlers() = {};
  poller_->setFailureHandler({});
  poller_->stop();
  port_->setNotify({});
  timer_->setCallback({});
}

bool HeadlessStandardLog::start() {
  // The log is written from the first round on, once the car said what it
  // has; a log that cannot be made is told now, before the car is asked.
  QFile probe(options_.logPath);
  if (!probe.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
    fail(Failure{Failure::Kind::kCreate, options_.logPath, probe.errorString(), {}});
    return false;
  }
  probe.close();
  if (const Status started = poller_->start(); !started) {
    fail(started.failure());
    return false;
  }
  ending_.start();
  return true;
}

void HeadlessStandardLog::finish() {
  if (ending_.ended()) return;
  poller_->stop();
  ending_.end(0);
}

void HeadlessStandardLog::fail(const Failure& failure) {
  if (ending_.ended()) return;
  // Told from inside the poller, which may go on with its round: it stops
  // once that call is over, and writes nothing meanwhile.
  poller_->setLogPath(std::nullopt);
  QTimer::singleShot(0, this, [this] { poller_->stop(); });
  ending_.breakLine();
  QString text;
  if (failure.is(Failure::Kind::kInvalid)) {
    text = failure.reason;
    QFile::remove(options_.logPath);  // made empty by start(), and nothing will go in
  } else if (failure.is(Failure::Kind::kCreate) || failure.is(Failure::Kind::kWrite)) {
    text = scanFailureText(failure, false);
  } else if (poller_->stage() == StandardStage::kNoCar) {
    text = QStringLiteral("no car answered through the adapter on %1: %2. Is the ignition on?")
               .arg(port_->deviceName(), failureText(failure));
  } else {
    text = scanFailureText(failure, lines_ > 0);
  }
  output_.error(QStringLiteral("tarvex: ") + text);
  ending_.end(1);
}

// Parameters named that the car does not report have no column: told once.
void HeadlessStandardLog::supported() {
  if (!options_.chosen) return;
  QStringList missing;
  for (const int pid : options_.chosen->pids)
    if (!std::ranges::binary_search(poller_->parameters(), pid))
      missing << QString::fromUtf8(obd::findPid(pid)->column);
  if (missing.isEmpty()) return;
  if (options_.chosen->own.empty() && missing.size() == qsizetype(options_.chosen->pids.size()))
    return fail(Failure{
        Failure::Kind::kInvalid,
        port_->deviceName(),
        QStringLiteral("the car reports none of %1: nothing to log.").arg(missing.join(QStringLiteral(", "))),
        {}});
  output_.error(QStringLiteral("tarvex: the car does not report %1; left out of the log.")
                    .arg(missing.join(QStringLiteral(", "))));
}

void HeadlessStandardLog::roundEnded() {
  if (!poller_->log().isOpen()) return;
  ++lines_;
  if (options_.rounds && lines_ >= *options_.rounds)
    QTimer::singleShot(0, this, [this] { finish(); });  // after the poller is done with the round
}

void HeadlessStandardLog::showProgress() {
  if (!output_.progress) return;
  const UnitChoice& units = options_.units;
  QStringList values;
  for (const int pid : poller_->parameters()) {
    const obd::Value* v = poller_->value(pid);
    if (!poller_->isPolled(pid) || !v || v->readings.empty()) continue;
    const Converted c = convert(v->readings.front().value, v->readings.front().unit, units);
    values << QStringLiteral("%1 %2 %3")
                  .arg(QString::fromUtf8(obd::findPid(pid)->column))
                  .arg(c.value, 0, 'f', decimalsForStep(obd::pidStep(*obd::findPid(pid))).value_or(2))
                  .arg(c.label)
                  .trimmed();
  }
  for (std::size_t i = 0; i < poller_->ownParameters().size(); ++i) {
    const OwnValue* v = poller_->ownValue(i);
    if (!poller_->isOwnPolled(i) || !v) continue;
    const obd::UserParameter& p = poller_->ownParameters()[i];
    if (!v->value) {
      values << poller_->ownChannel(i) + QStringLiteral(" not answered");
      continue;
    }
    const Converted c = convert(*v->value, p.unit(), units);
    values << QStringLiteral("%1 %2 %3")
                  .arg(poller_->ownChannel(i))
                  .arg(c.value, 0, 'f', decimalsForStep(p.step()).value_or(2))
                  .arg(c.label)
                  .trimmed();
  }
  output_.progress(QStringLiteral("%1 lines, %2 requests/s | %3")
                       .arg(lines_)
                       .arg(poller_->rates().requestsPerSecond, 0, 'f', 1)
                       .arg(values.join(QStringLiteral(", ")).trimmed()));
}

}  // namespace tarvex
