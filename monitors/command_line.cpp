#include "monitors/command_line.h"

#include "monitors/monitor_text.h"
#include "ui/failure_text.h"

namespace tarvex {

MonitorRun::MonitorRun(SerialPort& port, Clock& clock, AdapterTraits& traits, QTextStream& out,
                       QTextStream& err, UnitChoice units)
    : port_(port),
      out_(out),
      err_(err),
      units_(units),
      timer_(clock.createTimer()),
      car_(port, *timer_, clock, traits),
      reader_(car_) {
  port_.setNotify([this](PortEvent event) { car_.session().onPortEvent(event); });
  timer_->setCallback([this] { car_.session().onReplyTimeout(); });
  reader_.setDone([this](const MonitorReport& report) { done(report); });
  reader_.setFailureHandler([this](const Failure& failure) { failed(failure); });
}

MonitorRun::~MonitorRun() {
  reader_.stop();
  port_.setNotify({});
  timer_->setCallback({});
}

void MonitorRun::start() {
  if (const Status started = reader_.read(); !started) failed(started.failure());
}

void MonitorRun::failed(const Failure& failure) {
  err_ << "tarvex: " << failureText(failure) << "\n" << Qt::flush;
  finish(1);
}

void MonitorRun::done(const MonitorReport& report) {
  out_ << monitorReportText(report, units_) << Qt::flush;
  if (report.incomplete()) {
    err_ << "tarvex: not everything could be read (see \"Not read\")\n" << Qt::flush;
    return finish(1);
  }
  finish(0);
}

void MonitorRun::finish(int status) {
  if (status_) return;
  status_ = status;
  reader_.stop();
  if (finished_) finished_(status);
}

}  // namespace tarvex
