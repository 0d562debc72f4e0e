#include "codes/codes_reader.h"

#include <algorithm>
#include <span>

#include "obd/trouble_codes.h"
#include "obd/vehicle_info.h"

namespace tarvex {
namespace {

// Every answer here may run over several lines and controllers: it is
// complete at the adapter's prompt after the echo of its own request, so that
// a prompt left over from before cannot end it early.
ReplyShape wholeAnswer(const QString& command) {
  return ReplyShape{command, 0, 0};
}

// What follows the request's echo, or all that came when the echo did not.
QString afterEcho(const QString& buffer, const QString& command) {
  const qsizetype at = command.isEmpty() ? -1 : buffer.indexOf(command);
  return at < 0 ? buffer : buffer.mid(at + command.size());
}

QString firstLine(const QString& text) {
  QString all = text;
  all.replace(QLatin1Char('\n'), QLatin1Char('\r'));
  all.remove(QLatin1Char('>'));
  for (const QString& line : all.split(QLatin1Char('\r'), Qt::SkipEmptyParts))
    if (!line.trimmed().isEmpty()) return line.trimmed();
  return {};
}

QString unitText(std::string_view unit) {
  return QString::fromUtf8(unit.data(), static_cast<qsizetype>(unit.size()));
}

QString numberText(double value) {
  QString text = QString::number(value, 'f', 2);
  while (text.endsWith(QLatin1Char('0'))) text.chop(1);
  if (text.endsWith(QLatin1Char('.'))) text.chop(1);
  return text == QLatin1String("-0") ? QStringLiteral("0") : text;
}

}  // namespace

QString CodeEntry::status() const {
  QStringList parts;
  if (stored) parts << QStringLiteral("stored");
  if (pending) parts << QStringLiteral("pending");
  if (permanent) parts << QStringLiteral("permanent");
  return parts.join(QStringLiteral(", "));
}

QStringList CodesReader::setupCommands() {
  return {QString::fromLatin1(kResetCommand), QStringLiteral("ATE1"), QStringLiteral("ATH1"),
          QStringLiteral("ATSP0")};
}

CodesReader::CodesReader(SerialPort& port, Timer& replyTimer, Clock& clock)
    : session_(port, replyTimer, clock), timer_(replyTimer) {
  AdapterLink::Hooks& hooks = session_.hooks();
  hooks.onBufferChanged = [this](const QString& buffer) {
    if (!buffer.isEmpty()) lastBuffer_ = buffer;
  };
  hooks.onReply = [this](const QString&) { answered(afterEcho(lastBuffer_, sent_)); };
  // What came before the time ran out is read as far as it goes.
  hooks.onTimeout = [this] { answered(afterEcho(lastBuffer_, sent_)); };
  hooks.onFault = [this](const PortFailure& failure) {
    steps_.clear();
    inFlight_ = false;
    setUp_ = false;
    if (failed_) failed_(failure);
  };
}

CodesReader::~CodesReader() {
  session_.hooks() = {};
}

std::optional<PortFailure> CodesReader::read() {
  return begin(readSteps());
}

std::optional<PortFailure> CodesReader::readVin() {
  // The search runs on 0100, which every car answers: one that does not know
  // 0902 would otherwise make the search itself fail.
  std::deque<Step> steps;
  steps.push_back({QStringLiteral("0100"), [](const QString&) {}});
  steps.push_back({QStringLiteral("0902"),
                   [this](const QString& text) { report_.vin = obd::vin(messages(text), bus()); }});
  return begin(std::move(steps));
}

std::optional<PortFailure> CodesReader::clear(Confirm& confirm, bool* agreed) {
  if (busy()) return std::nullopt;
  const bool yes = confirm.ask(QString::fromLatin1(kClearQuestion));
  if (agreed) *agreed = yes;
  if (!yes) return std::nullopt;
  std::deque<Step> steps = readSteps();
  steps.push_front({QStringLiteral("04"), [this](const QString& text) {
                      for (const obd::Message& m : messages(text))
                        if (!m.data.empty() && m.data[0] == 0x44) report_.cleared = true;
                    }});
  return begin(std::move(steps));
}

void CodesReader::stop() {
  steps_.clear();
  inFlight_ = false;
  setUp_ = false;
  session_.stop();
}

std::deque<CodesReader::Step> CodesReader::readSteps() {
  std::deque<Step> steps;
  steps.push_back({QStringLiteral("0101"), [this](const QString& text) {
                     for (const obd::Message& m : messages(text)) {
                       if (m.data.size() < 6 || m.data[0] != 0x41 || m.data[1] != 0x01) continue;
                       if (auto r = obd::readReadiness(std::span(m.data).subspan(2)))
                         report_.readiness.push_back({m.source, *r});
                     }
                   }});
  steps.push_back({QStringLiteral("03"), [this](const QString& text) { addCodes(text, 0x03); }});
  steps.push_back({QStringLiteral("07"), [this](const QString& text) { addCodes(text, 0x07); }});
  steps.push_back({QStringLiteral("0A"), [this](const QString& text) { addCodes(text, 0x0A); }});
  // Frame 0's PID 02 names the code that made the controller keep it.
  steps.push_back({QStringLiteral("020200"), [this](const QString& text) {
                     for (const obd::Message& m : messages(text)) {
                       const auto& d = m.data;
                       if (d.size() < 5 || d[0] != 0x42 || d[1] != 0x02 || (d[3] == 0 && d[4] == 0)) continue;
                       report_.freezeFrame = FreezeFrame{m.source, obd::codeText(d[3], d[4]), {}};
                       addFreezeFrameSteps(m.source, 0x00);
                       return;
                     }
                   }});
  return steps;
}

// The frame's PIDs from its support bitmap (02 base 00), each asked alone; the
// last bit of a bitmap says the next one is there too.
void CodesReader::addFreezeFrameSteps(const QString& source, int base) {
  steps_.push_back(
      {QStringLiteral("02%1%2").arg(base, 2, 16, QLatin1Char('0')).arg(QStringLiteral("00")).toUpper(),
       [this, source, base](const QString& text) {
         for (const obd::Message& m : messages(text)) {
           const auto& d = m.data;
           if (m.source != source || d.size() < 7 || d[0] != 0x42 || d[1] != base) continue;
           for (int bit = 0; bit < 32; ++bit) {
             if (!(d[3 + static_cast<std::size_t>(bit / 8)] & (0x80 >> (bit % 8)))) continue;
             const int pid = base + bit + 1;
             if (obd::SupportedPids::isBitmap(pid)) {
               if (pid < 0xE0) addFreezeFrameSteps(source, pid);
             } else if (pid != 0x02 && obd::findPid(pid)) {
               steps_.push_back({QStringLiteral("02%1%2")
                                     .arg(pid, 2, 16, QLatin1Char('0'))
                                     .arg(QStringLiteral("00"))
                                     .toUpper(),
                                 [this, source](const QString& value) {
                                   for (const obd::Message& v : messages(value))
                                     if (v.source == source)
                                       if (auto frozen = obd::freezeFrameValue(v.data))
                                         report_.freezeFrame->values.push_back(*frozen);
                                 }});
             }
           }
           return;
         }
       }});
}

void CodesReader::addCodes(const QString& text, int service) {
  const auto found = obd::troubleCodes(messages(text), static_cast<obd::CodeService>(service), bus());
  for (const obd::TroubleCode& c : found) {
    auto it = std::find_if(report_.codes.begin(), report_.codes.end(),
                           [&](const CodeEntry& e) { return e.code == c.code && e.source == c.source; });
    if (it == report_.codes.end()) {
      report_.codes.push_back(CodeEntry{c.code, c.source, false, false, false, obd::describeCode(c.code)});
      it = std::prev(report_.codes.end());
    }
    (service == 0x03 ? it->stored : service == 0x07 ? it->pending : it->permanent) = true;
  }
}

obd::Bus CodesReader::bus() const {
  return report_.protocol ? report_.protocol->bus : obd::Bus::kLegacy;
}

std::vector<obd::Message> CodesReader::messages(const QString& text) const {
  return obd::parseAnswer(text, bus(), true).messages;
}

std::optional<PortFailure> CodesReader::begin(std::deque<Step> steps) {
  if (busy()) return std::nullopt;
  const std::optional<obd::Protocol> protocol = report_.protocol;
  report_ = CodesReport{};
  report_.protocol = protocol;
  steps_ = std::move(steps);
  if (!setUp_) {
    // A fresh set-up searches again: the protocol is asked again too.
    protocolAsked_ = false;
    report_.protocol.reset();
    timer_.setInterval(kAnswerWait);
    inFlight_ = true;
    lastBuffer_.clear();
    sent_.clear();
    std::optional<PortFailure> failure = session_.start(setupCommands(), wholeAnswer(setupCommands().last()));
    if (failure) {
      steps_.clear();
      inFlight_ = false;
    }
    return failure;
  }
  return next();
}

std::optional<PortFailure> CodesReader::next() {
  if (steps_.empty()) {
    std::sort(report_.codes.begin(), report_.codes.end(), [](const CodeEntry& a, const CodeEntry& b) {
      return a.source != b.source ? a.source < b.source : a.code < b.code;
    });
    if (done_) done_(report_);
    return std::nullopt;
  }
  sent_ = steps_.front().command;
  lastBuffer_.clear();
  inFlight_ = true;
  timer_.setInterval(protocolAsked_ ? kAnswerWait : kSearchWait);
  if (progress_) progress_(sent_);
  std::optional<PortFailure> failure = session_.SendCom(sent_, wholeAnswer(sent_));
  if (failure) {
    steps_.clear();
    inFlight_ = false;
    setUp_ = false;
  }
  return failure;
}

void CodesReader::answered(const QString& text) {
  if (!inFlight_) return;
  inFlight_ = false;
  if (sent_.isEmpty()) {
    setUp_ = true;
  } else if (!steps_.empty()) {
    Step step = std::move(steps_.front());
    steps_.pop_front();
    if (!protocolAsked_ && step.command != QLatin1String("ATDPN")) {
      // The search ran on this first request; what the adapter found decides
      // how its answer reads, so it is read once the protocol is known.
      protocolAsked_ = true;
      steps_.push_front({QStringLiteral("ATDPN"), [this, step, text](const QString& dpn) {
                           report_.protocol = obd::protocolFromDpn(firstLine(dpn));
                           noteAnswer(step.command, text);
                           step.then(text);
                         }});
    } else {
      if (step.command != QLatin1String("ATDPN")) noteAnswer(step.command, text);
      step.then(text);
    }
  }
  if (std::optional<PortFailure> failure = next(); failure && failed_) failed_(*failure);
}

void CodesReader::noteAnswer(const QString& command, const QString& text) {
  const obd::Answer answer = obd::parseAnswer(text, bus(), true);
  if (!answer.messages.empty()) {
    report_.answered = true;
    return;
  }
  const QString words = answer.notes.join(QLatin1Char(' '));
  report_.unanswered << command + QStringLiteral(": ") +
                            (words.isEmpty() ? QStringLiteral("no answer") : words);
}

QString reportText(const CodesReport& report) {
  QString out;
  out += QStringLiteral("Protocol: %1\n")
             .arg(report.protocol ? unitText(report.protocol->name) : QStringLiteral("unknown"));
  if (report.readiness.empty()) {
    out += QStringLiteral("MIL: unknown (no controller answered 0101)\n");
  } else {
    QStringList each;
    bool on = false;
    for (const ControllerReadiness& r : report.readiness) {
      on = on || r.readiness.milOn;
      each << QStringLiteral("%1: %2 stored %3")
                  .arg(obd::controllerName(r.source))
                  .arg(r.readiness.storedCodes)
                  .arg(r.readiness.storedCodes == 1 ? QStringLiteral("code") : QStringLiteral("codes"));
    }
    out += QStringLiteral("MIL: %1 (%2)\n")
               .arg(on ? QStringLiteral("on") : QStringLiteral("off"), each.join(QStringLiteral("; ")));
  }
  if (report.codes.empty()) {
    out += QStringLiteral("Trouble codes: none\n");
  } else {
    out += QStringLiteral("Trouble codes:\n");
    for (const CodeEntry& c : report.codes)
      out += QStringLiteral("  %1  %2  %3: %4\n")
                 .arg(c.code, c.status(), obd::controllerName(c.source), c.description);
  }
  if (report.freezeFrame) {
    const FreezeFrame& f = *report.freezeFrame;
    out += QStringLiteral("Freeze frame of %1 (%2):\n").arg(f.code, obd::controllerName(f.source));
    for (const obd::FrozenValue& v : f.values) {
      const obd::Pid* pid = obd::findPid(v.pid);
      QStringList parts;
      for (const obd::Reading& r : v.value.readings)
        parts << (numberText(r.value) + (r.unit.empty() ? QString() : QLatin1Char(' ') + unitText(r.unit)));
      if (!v.value.text.isEmpty()) parts << v.value.text;
      out +=
          QStringLiteral("  %1: %2\n")
              .arg(pid ? unitText(pid->name) : QString::number(v.pid, 16), parts.join(QStringLiteral(", ")));
    }
  }
  for (const ControllerReadiness& r : report.readiness) {
    out += QStringLiteral("Readiness of %1 (%2 ignition):\n")
               .arg(obd::controllerName(r.source), r.readiness.ignition == obd::Ignition::kSpark
                                                       ? QStringLiteral("spark")
                                                       : QStringLiteral("compression"));
    for (const obd::Monitor& m : r.readiness.monitors)
      out += QStringLiteral("  %1: %2\n")
                 .arg(unitText(m.name), !m.supported ? QStringLiteral("not supported")
                                        : m.complete ? QStringLiteral("complete")
                                                     : QStringLiteral("not complete"));
  }
  return out;
}

}  // namespace tarvex
