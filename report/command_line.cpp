#include "report/command_line.h"

#include "report/report_html.h"
#include "ui/failure_text.h"

namespace tarvex {

ReportRun::ReportRun(SerialPort& port, Clock& clock, AdapterTraits& traits, QString path, ReportWriter write,
                     QTextStream& out, QTextStream& err, UnitChoice units)
    : port_(port),
      path_(std::move(path)),
      write_(std::move(write)),
      out_(out),
      err_(err),
      units_(units),
      timer_(clock.createTimer()),
      reader_(port, *timer_, clock, traits) {
  port_.setNotify([this](PortEvent event) { reader_.onPortEvent(event); });
  timer_->setCallback([this] { reader_.onReplyTimeout(); });
  reader_.setDone([this](const CarReport& report) { done(report); });
  reader_.setFailureHandler([this](const Failure& failure) { failed(failure); });
}

ReportRun::~ReportRun() {
  reader_.stop();
  port_.setNotify({});
  timer_->setCallback({});
}

void ReportRun::start(const QDateTime& date) {
  if (const Status started = reader_.read(date); !started) failed(started.failure());
}

void ReportRun::failed(const Failure& failure) {
  err_ << "tarvex: " << failureText(failure) << "\n" << Qt::flush;
  finish(1);
}

void ReportRun::done(const CarReport& report) {
  reader_.stop();  // the port is free before the file is written
  if (const Status written = write_(reportHtml(report, units_), path_); !written)
    return failed(written.failure());
  out_ << "Report written to " << path_ << "\n" << Qt::flush;
  if (report.incomplete()) {
    err_ << "tarvex: not everything could be read (see \"Not read\" in the report)\n" << Qt::flush;
    return finish(1);
  }
  finish(0);
}

void ReportRun::finish(int status) {
  if (status_) return;
  status_ = status;
  reader_.stop();
  if (finished_) finished_(status);
}

}  // namespace tarvex
