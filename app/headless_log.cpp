#include "app/headless_log.h"

#include <QDateTime>
#include <QStringList>
#include <QTimer>
#include <algorithm>

#include "app/scan_messages.h"
#include "core/text.h"
#include "scan/csv_log.h"
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

HeadlessLog::HeadlessLog(PortFactory& ports, Clock& clock, Options options, Output output)
    : clock_(clock),
      options_(std::move(options)),
      output_(std::move(output)),
      port_(ports.createPort({QStringLiteral("the log"), /*dataTerminalReady=*/true})),
      timer_(clock.createTimer()),
      progressTimer_(clock.createTimer()) {
  setUpBoxes(boxes_, options_.chosen);
  const ControlSpec* buffer = tarvexLayout().control("RxText");
  scan_ = std::make_unique<ScanCycle>(*port_, *timer_, clock_, ports.traits(), boxes_,
                                      buffer ? toQString(buffer->text) : QString());
  port_->setNotify([this](PortEvent event) { scan_->session().onPortEvent(event); });
  timer_->setCallback([this] { scan_->session().onReplyTimeout(); });
  // The log's time column is read once a line, as the line is written: the
  // count of lines comes from there, and the check waits until the line is
  // whole on disk (or failed).
  scan_->setDateTimeSource([this] {
    ++lines_;
    QTimer::singleShot(0, this, [this] { afterEvent(); });
    return QDateTime::currentDateTime();
  });
  scan_->setFailureHandler([this](const Failure& failure) { fail(failure); });
  scan_->setSilenceHandler([this](const Result<QString>& protocol) {
    output_.error(QStringLiteral("tarvex: ") + silenceNotice(port_->deviceName(), protocol));
  });
  scan_->link().hooks().onCommandSent = [this](const QString&) { ++requests_; };
  progressTimer_->setInterval(kProgressEvery);
  progressTimer_->setCallback([this] { showProgress(); });
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
  if (options_.progress) progressTimer_->start();
  return true;
}

void HeadlessLog::finish() {
  if (ended_) return;
  stopping_ = true;
  scan_->stop();  // a log that fails to close comes back through fail()
  end(0);
}

void HeadlessLog::afterEvent() {
  if (!ended_ && options_.rounds && lines_ >= *options_.rounds) finish();
}

void HeadlessLog::fail(const Failure& failure) {
  if (failure.is(Failure::Kind::kWrite) && !stopping_) --lines_;  // the line being written did not make it
  const QString message = scanFailureText(failure, scan_->logWasOpen());
  if (options_.progress && output_.progress) output_.progress(QString());
  output_.error(QStringLiteral("tarvex: ") + message);
  end(1);
}

void HeadlessLog::end(int status) {
  if (ended_) return;
  ended_ = true;
  progressTimer_->stop();
  if (options_.progress && output_.progress) {
    showProgress();
    output_.progress(QString());
  }
  emit finished(status);
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

}  // namespace tarvex
