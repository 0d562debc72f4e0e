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
  link_.hooks().onReply = [this](const QString& out) {
    Display(out);
    SendNext();
  };
  link_.hooks().onTimeout = [this] { SendNext(); };
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
  logFailureShown_ = false;
  scanStep_ = 1;
  link_.setUp(setupCommands(Setup::kEnhanced), clock_);
  return std::nullopt;
}

void ScanCycle::stop() {
  releasePort();
  log_.close();
  logToFile_ = false;
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
      if (logToFile_ && log_.isOpen()) writeLogRow();
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

void ScanCycle::writeLogRow() {
  const std::optional<QString> reason = log_.writeRow(boxes_, now_(), locale_);
  // Once a scan: the scan goes on, the user knows the log is incomplete.
  if (!reason || logFailureShown_) return;
  logFailureShown_ = true;
  fail({ScanFailure::What::kLogWrite, log_.path(), *reason});
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
