#include "scan/scan_cycle.h"

#include "core/number_text.h"
#include "core/text.h"
#include "scan/decode.h"

namespace tarvex {

ScanFailure ScanFailure::fromPort(const PortFailure& failure, bool logWasOpen) {
  return {failure.what == PortFailure::What::kOpen ? What::kPortOpen : What::kPortLost, failure.device,
          failure.reason, logWasOpen};
}

ScanCycle::ScanCycle(SerialPort& port, Timer& replyTimer, Clock& clock, ValueBoxes& boxes,
                     QString initialBuffer)
    : clock_(clock), boxes_(boxes), session_(port, replyTimer, clock, std::move(initialBuffer)) {
  AdapterLink::Hooks& hooks = session_.hooks();
  hooks.onReply = [this](const QString& out) { onReply(out); };
  hooks.onTimeout = [this] {
    if (silence_ == Silence::kAsked) return tellSilence(QString());
    SendNext();
  };
  hooks.onSetUpAgain = [this] { SendNext(); };
  hooks.onFault = [this](const PortFailure& failure) {
    const bool logWasOpen = logging();
    stop();
    fail(ScanFailure::fromPort(failure, logWasOpen));
  };
}

ScanCycle::~ScanCycle() {
  session_.hooks() = {};
}

// Until the first request the expected reply is empty, so the answers to the
// first set-up lead straight to the first request; later set-ups still expect
// the last request's reply, which they never bring.
ReplyShape ScanCycle::expected() const {
  if (!asked_) return ReplyShape{};
  return ReplyShape{toQString(asked_->prefix), 8, asked_->bytes};
}

std::optional<ScanFailure> ScanCycle::start(bool logToFile, const QString& logPath) {
  SerialPort& port = session_.port();
  const bool openedHere = !port.isOpen();
  if (openedHere && !port.open()) return ScanFailure::fromPort(PortFailure::openFailed(port));
  if (logToFile) {
    if (auto reason = log_.open(logPath)) {
      if (openedHere) session_.stop();
      return ScanFailure{ScanFailure::What::kLogCreate, logPath, *reason};
    }
  }
  logToFile_ = logToFile;
  answeredThisRound_ = false;
  silenceTold_ = false;
  silence_ = Silence::kNone;
  scanStep_ = 1;
  if (std::optional<PortFailure> failure = session_.start(setupCommands(Setup::kEnhanced), expected())) {
    const bool logWasOpen = logging();
    stop();
    return ScanFailure::fromPort(*failure, logWasOpen);
  }
  return std::nullopt;
}

void ScanCycle::stop() {
  releasePort();
  logToFile_ = false;
  if (auto reason = log_.close()) fail({ScanFailure::What::kLogWrite, log_.path(), *reason});
}

void ScanCycle::releasePort() {
  session_.stop();
}

void ScanCycle::fail(ScanFailure failure) {
  if (onFailure_) onFailure_(failure);
}

// The echo of the question, then its answer: "ATDPN", CR, "A2".
bool ScanCycle::askProtocol() {
  if (silence_ != Silence::kToAsk) return false;
  silence_ = Silence::kAsked;
  if (std::optional<PortFailure> failure = session_.SendCom(
          QString::fromLatin1(kProtocolQuestion), ReplyShape{QString::fromLatin1(kProtocolQuestion), 5, 1})) {
    const bool logWasOpen = logging();
    stop();
    fail(ScanFailure::fromPort(*failure, logWasOpen));
  }
  return true;
}

void ScanCycle::tellSilence(const QString& protocol) {
  silence_ = Silence::kNone;
  if (onSilence_) onSilence_(protocol);
  if (session_.active()) SendNext();
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
      if (std::optional<PortFailure> failure = session_.SendCom(toQString(row->request), expected())) {
        const bool logWasOpen = logging();
        stop();
        fail(ScanFailure::fromPort(*failure, logWasOpen));
      }
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
  if (const std::optional<QString> reason = log_.writeRow(boxes_, now_(), locale_)) {
    const QString path = log_.path();
    stop();
    fail({ScanFailure::What::kLogWrite, path, *reason});
  }
}

void ScanCycle::onReply(const QString& out) {
  if (silence_ == Silence::kAsked) return tellSilence(out.trimmed());
  if (asked_) {
    answeredThisRound_ = true;
    silenceTold_ = false;
  }
  Display(out);
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
