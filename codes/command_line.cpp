#include "codes/command_line.h"

#include <cstdio>

#include "codes/report_text.h"
#include "core/text.h"
#include "ui/failure_text.h"

namespace tarvex {

bool TerminalConfirm::ask(const QString& question) {
  refusal_.clear();
  if (!terminal_) {
    refusal_ = QStringLiteral("there is no terminal to ask on; add --yes to clear without asking");
    return false;
  }
  out_ << question << " [y/N] " << Qt::flush;
  const QString answer = in_.readLine().trimmed().toLower();
  return answer == QLatin1String("y") || answer == QLatin1String("yes");
}

CommandRun::CommandRun(CodesCommand command, SerialPort& port, Clock& clock, AdapterTraits& traits,
                       Confirm& confirm, QTextStream& out, QTextStream& err)
    : command_(command),
      port_(port),
      confirm_(confirm),
      out_(out),
      err_(err),
      timer_(clock.createTimer()),
      reader_(port, *timer_, clock, traits) {
  port_.setNotify([this](PortEvent event) { reader_.onPortEvent(event); });
  timer_->setCallback([this] { reader_.onReplyTimeout(); });
  reader_.setDone([this](const CodesReport& report) { done(report); });
  reader_.setFailureHandler([this](const Failure& failure) { failed(failure); });
}

CommandRun::~CommandRun() {
  reader_.stop();
  port_.setNotify({});
  timer_->setCallback({});
}

void CommandRun::start() {
  Status started;
  switch (command_) {
    case CodesCommand::kCodes:
      started = reader_.read();
      break;
    case CodesCommand::kVin:
      started = reader_.readVin();
      break;
    case CodesCommand::kClearCodes: {
      const Result<bool> agreed = reader_.clear(confirm_);
      if (agreed && !*agreed) {
        const QString why = confirm_.refusal();
        err_ << "tarvex: trouble codes not cleared"
             << (why.isEmpty() ? QString() : QStringLiteral(": ") + why) << "\n"
             << Qt::flush;
        return finish(1);
      }
      if (!agreed) started = agreed.failure();
      break;
    }
  }
  if (!started) failed(started.failure());
}

void CommandRun::failed(const Failure& failure) {
  err_ << "tarvex: " << failureText(failure) << "\n" << Qt::flush;
  finish(1);
}

void CommandRun::done(const CodesReport& report) {
  if (command_ == CodesCommand::kVin) {
    if (!report.vin) {
      const Failure* f = report.failure(QStringLiteral("0902"));
      err_ << "tarvex: " << (f ? failureText(*f) : QStringLiteral("The car answered 0902 without a VIN."))
           << "\n"
           << Qt::flush;
      return finish(1);
    }
    out_ << "Protocol: " << (report.protocol ? toQString(report.protocol->name) : QStringLiteral("unknown"))
         << "\nVIN: " << *report.vin << "\n"
         << Qt::flush;
    return finish(0);
  }
  if (command_ == CodesCommand::kClearCodes) {
    if (!report.cleared) {
      const Failure* f = report.failure(QStringLiteral("04"));
      err_ << "tarvex: the car did not acknowledge clearing the trouble codes"
           << (f ? QStringLiteral(": ") + failureText(*f) : QString()) << "\n"
           << Qt::flush;
      out_ << reportText(report, units_) << Qt::flush;
      return finish(1);
    }
    out_ << "Trouble codes and freeze frames cleared.\n";
  }
  out_ << reportText(report, units_) << Qt::flush;
  if (report.incomplete()) {
    err_ << "tarvex: not everything could be read (see \"Not read\")\n" << Qt::flush;
    return finish(1);
  }
  finish(0);
}

void CommandRun::finish(int status) {
  if (status_) return;
  status_ = status;
  reader_.stop();
  if (finished_) finished_(status);
}

}  // namespace tarvex
