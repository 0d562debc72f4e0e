#include "codes/command_line.h"

#include <unistd.h>

#include <QCommandLineParser>
#include <QEventLoop>
#include <cstdio>

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

CommandRun::CommandRun(CodesCommand command, SerialPort& port, Clock& clock, Confirm& confirm,
                       QTextStream& out, QTextStream& err)
    : command_(command),
      port_(port),
      confirm_(confirm),
      out_(out),
      err_(err),
      timer_(clock.createTimer()),
      reader_(port, *timer_, clock) {
  port_.setNotify([this](PortEvent event) { reader_.onPortEvent(event); });
  timer_->setCallback([this] { reader_.onReplyTimeout(); });
  reader_.setDone([this](const CodesReport& report) { done(report); });
  reader_.setFailure([this](const PortFailure& failure) { failed(failure); });
}

CommandRun::~CommandRun() {
  reader_.stop();
  port_.setNotify({});
  timer_->setCallback({});
}

void CommandRun::start() {
  std::optional<PortFailure> failure;
  switch (command_) {
    case CodesCommand::kCodes:
      failure = reader_.read();
      break;
    case CodesCommand::kVin:
      failure = reader_.readVin();
      break;
    case CodesCommand::kClearCodes: {
      bool agreed = false;
      failure = reader_.clear(confirm_, &agreed);
      if (!failure && !agreed) {
        const auto* terminal = dynamic_cast<const TerminalConfirm*>(&confirm_);
        err_ << "tarvex: trouble codes not cleared"
             << (terminal && !terminal->refusal().isEmpty() ? QStringLiteral(": ") + terminal->refusal()
                                                            : QString())
             << "\n"
             << Qt::flush;
        return finish(1);
      }
      break;
    }
  }
  if (failure) failed(*failure);
}

void CommandRun::failed(const PortFailure& failure) {
  err_ << "tarvex: " << failure.message() << "\n" << Qt::flush;
  finish(1);
}

void CommandRun::done(const CodesReport& report) {
  if (command_ == CodesCommand::kVin && !report.vin) {
    err_ << "tarvex: the car gave no VIN (" << report.unanswered.join(QStringLiteral("; ")) << ")\n"
         << Qt::flush;
    return finish(1);
  }
  if (!report.answered) {
    err_ << "tarvex: no answer from the car on " << port_.deviceName()
         << " (is the ignition on, and the adapter in the car's socket?)\n"
         << Qt::flush;
    return finish(1);
  }
  switch (command_) {
    case CodesCommand::kVin:
      out_ << "Protocol: "
           << (report.protocol ? QString::fromUtf8(report.protocol->name.data(),
                                                   static_cast<qsizetype>(report.protocol->name.size()))
                               : QStringLiteral("unknown"))
           << "\nVIN: " << *report.vin << "\n"
           << Qt::flush;
      return finish(0);
    case CodesCommand::kClearCodes:
      if (!report.cleared) {
        err_ << "tarvex: the car did not acknowledge clearing the trouble codes\n" << Qt::flush;
        out_ << reportText(report) << Qt::flush;
        return finish(1);
      }
      out_ << "Trouble codes and freeze frames cleared.\n";
      [[fallthrough]];
    case CodesCommand::kCodes:
      out_ << reportText(report) << Qt::flush;
      return finish(0);
  }
}

void CommandRun::finish(int status) {
  if (status_) return;
  status_ = status;
  reader_.stop();
  if (finished_) finished_(status);
}

CodesOptions::CodesOptions(QCommandLineParser& parser)
    : parser_(parser),
      codes_(
          QStringLiteral("codes"),
          QStringLiteral("Prints the protocol, the MIL, every trouble code with its status and description, "
                         "and readiness, then exits (no display needed).")),
      vin_(QStringLiteral("vin"), QStringLiteral("Prints the vehicle identification number, then exits.")),
      clear_(QStringLiteral("clear-codes"),
             QStringLiteral("Clears the trouble codes and freeze frames after asking on the terminal, then "
                            "prints the codes read again.")),
      yes_(QStringLiteral("yes"), QStringLiteral("With --clear-codes: clear without asking.")) {
  parser_.addOptions({codes_, vin_, clear_, yes_});
}

std::optional<CodesCommand> CodesOptions::command() const {
  if (parser_.isSet(clear_)) return CodesCommand::kClearCodes;
  if (parser_.isSet(codes_)) return CodesCommand::kCodes;
  if (parser_.isSet(vin_)) return CodesCommand::kVin;
  return std::nullopt;
}

bool CodesOptions::yes() const {
  return parser_.isSet(yes_);
}

int runCodesCommand(CodesCommand command, PortFactory& ports, Clock& clock, bool yes) {
  QTextStream in(stdin), out(stdout), err(stderr);
  TerminalConfirm terminal(in, err, ::isatty(STDIN_FILENO) == 1);
  AlwaysYes always;
  std::unique_ptr<SerialPort> port = ports.createPort(PortUse{QStringLiteral("the command line"), true});
  CommandRun run(command, *port, clock, yes ? static_cast<Confirm&>(always) : terminal, out, err);
  QEventLoop loop;
  run.setFinished([&loop](int) { loop.quit(); });
  run.start();
  if (!run.status()) loop.exec();
  return run.status().value_or(1);
}

}  // namespace tarvex
