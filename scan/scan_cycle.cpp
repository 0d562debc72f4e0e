#include "scan/scan_cycle.h"

#include "link/number_text.h"
#include "link/text.h"
#include "scan/decode.h"

namespace tarvex {

ScanCycle::ScanCycle(SerialPort& port, Timer& replyTimer, Clock& clock, ValueBoxes& boxes,
                     QString initialBuffer)
    : port_(port),
      clock_(clock),
      boxes_(boxes),
      // Until the first request the expected reply is empty, so the answers to
      // the first set-up lead straight to the first request.
      link_(port, replyTimer, ReplyShape{}, std::move(initialBuffer)) {
  link_.hooks().onReply = [this](const QString& out) { onReply(out); };
  link_.hooks().onTimeout = [this] { SendNext(); };
  link_.hooks().onSetUpAgain = [this] { SendNext(); };
  link_.hooks().onPortError = [this](const QString& reason) {
    stop();
    if (!starting_) fail({ScanFailure::What::kPortLost, port_.deviceName(), reason});
  };
}

std::optional<ScanFailure> ScanCycle::start(bool logToFile, const QString& logPath) {
  const bool openedHere = !port_.isOpen();
  if (openedHere && !port_.open()) {
    return ScanFailure{ScanFailure::What::kPortOpen, port_.deviceName(), port_.errorString()};
  }
  if (logToFile) {
    if (auto reason = log_.open(logPath)) {
      if (openedHere) port_.close();
      return ScanFailure{ScanFailure::What::kLogCreate, logPath, *reason};
    }
  }
  logToFile_ = logToFile;
  answeredThisRound_ = false;
  silenceTold_ = false;
  scanStep_ = 1;
  starting_ = true;
  const bool ok = link_.setUp(setupCommands(Setup::kEnhanced), clock_);
  starting_ = false;
  if (!ok) return ScanFailure{ScanFailure::What::kPortLost, port_.deviceName(), port_.errorString()};
  return std::nullopt;
}

void ScanCycle::stop() {
  releasePort();
  logToFile_ = false;
  if (auto reason = log_.close()) fail({ScanFailure::What::kLogWrite, log_.path(), *reason});
}

void ScanCycle::releasePort() {
  if (port_.isOpen()) port_.close();
  link_.stop();
}

void ScanCycle::fail(ScanFailure failure) {
  if (onFailure_) onFailure_(failure);
}

void ScanCycle::SendNext() {
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
      if (!port_.isOpen()) return;  // the log failed and the scan stopped
    }
    if (row) {
      asked_ = row;
      link_.SendCom(toQString(row->request), ReplyShape{toQString(row->prefix), 8, row->bytes});
      return;
    }
    // With nothing selected the cycle selects engine speed itself.
    if (++passed > kParameterCount) boxes_.setEnabled(Box::kRPM, true);
  }
}

void ScanCycle::endOfRound() {
  if (!answeredThisRound_ && !silenceTold_ && onSilence_) {
    silenceTold_ = true;
    onSilence_();
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
  // The needles follow what the speed and engine-speed boxes show.
  const Box box = asked_->box;
  if ((box != Box::kSpeed && box != Box::kRPM) || !gauges_ || !gauges_->gaugesVisible()) return;
  const std::optional<std::int16_t> value = readInt16(boxes_.text(box), locale_);
  if (!value) return;
  if (box == Box::kSpeed) {
    gauges_->UpdateSpeed(*value);
  } else {
    gauges_->UpdateTach(*value);
  }
}

}  // namespace tarvex
