#include "scan/scan_cycle.h"

#include "core/number_text.h"
#include "core/text.h"
#include "scan/decode.h"

namespace tarvex {

ScanCycle::ScanCycle(SerialPort& port, Timer& replyTimer, Clock& clock, AdapterTraits& traits,
                     ValueBoxes& boxes, QString initialBuffer)
    : clock_(clock), boxes_(boxes), session_(port, replyTimer, clock, traits, std::move(initialBuffer)) {
  session_.setFailureHandler([this](const Failure& failure) { lost(failure); });
}

ScanCycle::~ScanCycle() {
  session_.setFailureHandler({});
}

// Until the first request the expected reply is empty, so the answers to the
// first set-up lead straight to the first request; later set-ups still expect
// the last request's reply, which they never bring.
ReplyShape ScanCycle::expected() const {
  if (!asked_) return ReplyShape{};
  return ReplyShape{toQString(asked_->prefix), 8, asked_->bytes};
}

Status ScanCycle::start(bool logToFile, const QString& logPath) {
  SerialPort& port = session_.port();
  const bool openedHere = !port.isOpen();
  if (openedHere && !port.open()) return openFailure(port);
  if (logToFile) {
    if (Status opened = log_.open(logPath); !opened) {
      if (openedHere) session_.stop();
      return opened;
    }
  }
  logToFile_ = logToFile;
  answeredThisRound_ = false;
  refusal_.clear();
  silenceTold_ = false;
  silence_ = Silence::kNone;
  scanStep_ = 1;
  logWasOpen_ = false;
  setUp();
  return {};
}

void ScanCycle::setUp() {
  const Status started = session_.startPaced(setupCommands(Setup::kEnhanced), expected(),
                                             [this](const Result<Reply>& reply) { answered(reply); });
  if (!started) lost(started.failure());
}

void ScanCycle::lost(const Failure& failure) {
  logWasOpen_ = logging();
  stop();
  fail(failure);
}

void ScanCycle::stop() {
  releasePort();
  logToFile_ = false;
  if (Status closed = log_.close(); !closed) fail(closed.failure());
}

void ScanCycle::releasePort() {
  session_.stop();
}

void ScanCycle::fail(const Failure& failure) {
  if (onFailure_) onFailure_(failure);
}

// The echo of the question, then its answer: "ATDPN", CR, "A2".
bool ScanCycle::askProtocol() {
  if (silence_ != Silence::kToAsk) return false;
  silence_ = Silence::kAsked;
  const QString question = QString::fromLatin1(kProtocolQuestion);
  session_.send(Request{question, 0, kReplyTimeout, 0, ReplyShape{question, 5, 1}, false},
                [this](const Result<Reply>& reply) {
                  if (!reply && portFailed(reply.failure())) return lost(reply.failure());
                  if (reply) return tellSilence(reply->out.trimmed());
                  tellSilence(reply.failure());
                });
  return true;
}

void ScanCycle::tellSilence(const Result<QString>& protocol) {
  silence_ = Silence::kNone;
  if (onSilence_) onSilence_(protocol);
  if (!session_.active()) return;
  // Not even the adapter answered: on a line speed that was only a guess, the
  // adapter may run at another one. Once found, it is set up again there.
  if (!protocol && protocol.failure().is(Failure::Kind::kSilent) && session_.port().searchSpeed()) {
    session_.port().whenReady([this](bool ready) {
      if (!session_.active()) return;
      if (!ready) return lost(lostFailure(session_.port()));
      setUp();
    });
    return;
  }
  SendNext();
}

void ScanCycle::SendNext() {
  if (askProtocol()) return;
  int passed = 0;
  for (;;) {
    const bool ask =
        scanStep_ >= 1 && scanStep_ <= kParameterCount && boxes_.isEnabled(parameterAt(scanStep_).box);
    const Parameter* row = ask ? &parameterAt(scanStep_) : nullptr;
    // Everything moves on before the write: a reply the write brings at once
    // runs the next step from a finished state. The round's row is written
    // before its last reply can change a box, as if that reply were still out.
    if (++scanStep_ > kParameterCount) {
      scanStep_ = 1;
      endOfRound();
      if (!session_.active()) return;  // the log failed and the scan stopped
    }
    if (row) {
      asked_ = row;
      session_.send(Request{toQString(row->request), 0, kReplyTimeout, 0, expected(), false},
                    [this](const Result<Reply>& reply) { answered(reply); });
      return;
    }
    // With nothing selected the cycle selects engine speed itself.
    if (++passed > kParameterCount) boxes_.setEnabled(Box::kRPM, true);
  }
}

void ScanCycle::endOfRound() {
  if (!answeredThisRound_ && !silenceTold_ && onSilence_) {
    silenceTold_ = true;
    silence_ = Silence::kToAsk;
  }
  answeredThisRound_ = false;
  if (!logToFile_) return;
  if (Status written = log_.writeRow(boxes_, now_(), locale_); !written) {
    logWasOpen_ = true;
    stop();
    return fail(written.failure());
  }
  if (onLine_) onLine_();
}

// A reply timer that ran out is no failure: the next request goes out.
void ScanCycle::answered(const Result<Reply>& reply) {
  if (!reply && portFailed(reply.failure())) return lost(reply.failure());
  if (reply) {
    if (asked_) {
      answeredThisRound_ = true;
      silenceTold_ = false;
      refusal_.clear();
    }
    Display(reply->out);
  } else if (const qsizetype at = session_.link().buffer().indexOf(QLatin1String("7F 22")); at >= 0) {
    // The controller refused the request ("7F 22 12"): a reason of its own for the silence.
    refusal_ = session_.link().buffer().mid(at, 8).trimmed();
  }
  SendNext();
}

void ScanCycle::Display(const QString& out) {
  if (!asked_) return;
  const std::optional<Decoded> decoded = decode(*asked_, out, locale_);
  if (!decoded) return;
  for (const auto& [box, text] : decoded->writes) boxes_.setText(box, text);
  if (decoded->milColour) boxes_.setMilColour(*decoded->milColour);
  if (readings_) {
    const Micros at = clock_.now();
    for (const auto& [box, value] : decoded->values) {
      const BoxChannel c = boxChannel(box);
      readings_->add(readings_->channel(toQString(c.name), toQString(c.title),
                                        QString::fromUtf8(c.unit.data(), qsizetype(c.unit.size()))),
                     at, value);
    }
  }
  showOnNeedles(gauges_, asked_->box, boxes_.text(asked_->box), locale_);
}

void showOnNeedles(GaugeSink* gauges, Box box, const QString& shown, const QLocale& locale) {
  if ((box != Box::kSpeed && box != Box::kRPM) || !gauges || !gauges->gaugesVisible()) return;
  const std::optional<std::int16_t> value = readInt16(shown, locale);
  if (!value) return;
  if (box == Box::kSpeed) {
    gauges->UpdateSpeed(*value);
  } else {
    gauges->UpdateTach(*value);
  }
}

}  // namespace tarvex
