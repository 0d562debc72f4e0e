#include "scan/scan_cycle.h"

#include "scan/decode.h"
#include "scan/number_text.h"

namespace tarvex {

ScanCycle::ScanCycle(SerialPort& port, Clock& clock, ValueBoxes& boxes)
    : port_(port),
      clock_(clock),
      boxes_(boxes),
      // Until the first request the expected reply is empty, so the answers to
      // the first set-up lead straight to the first request.
      link_(port, clock, ReplyShape{QString(), 8, 0}, QStringLiteral("Text2"), /*showsCommands=*/true) {
  link_.hooks().onReply = [this](const QString& out) {
    Display(out);
    SendNext();
  };
  link_.hooks().onTimeout = [this] { SendNext(); };
  port_.setNotify([this](int kind) { link_.Comm1_OnComm(kind); });
}

std::optional<StartFailure> ScanCycle::pb_StartScan_Click(bool logToFile, const QString& logPath) {
  const bool openedHere = !port_.isOpen();
  if (openedHere && !port_.open()) {
    return StartFailure{StartFailure::What::kPort, port_.deviceName(), port_.errorString()};
  }
  if (logToFile) {
    if (auto reason = log_.open(logPath)) {
      if (openedHere) port_.close();
      return StartFailure{StartFailure::What::kLog, logPath, *reason};
    }
  }
  logToFile_ = logToFile;
  scanStep_ = 1;
  for (const char* command : kSetupCommands) {
    link_.writeLine(QString::fromLatin1(command));
    clock_.sleep(kSetupWait);
  }
  link_.SendCom(QString::fromLatin1(kReplyTimeoutCommand));
  return std::nullopt;
}

void ScanCycle::pb_StopScan_Click() {
  if (port_.isOpen()) port_.close();
  link_.stopTimer();
  log_.close();
  logToFile_ = false;
}

void ScanCycle::releasePort() {
  if (port_.isOpen()) port_.close();
  link_.stopTimer();
}

void ScanCycle::SendNext() {
  int passed = 0;
  for (;;) {
    bool sent = false;
    if (scanStep_ >= 1 && scanStep_ <= kParameterCount) {
      const Parameter& row = parameterAt(scanStep_);
      if (boxes_.isEnabled(row.box)) {
        link_.SendCom(QString::fromLatin1(row.request.data(), static_cast<qsizetype>(row.request.size())));
        link_.setExpected(QString::fromLatin1(row.prefix.data(), static_cast<qsizetype>(row.prefix.size())),
                          row.bytes);
        sent = true;
      }
    }
    if (++scanStep_ > kParameterCount) {
      scanStep_ = 1;
      if (logToFile_ && log_.isOpen()) {
        if (auto error = log_.writeRow(boxes_, now_(), locale_); error && onLogError_) onLogError_(*error);
      }
    }
    if (sent) return;
    // With nothing selected the cycle selects engine speed itself.
    if (++passed > kParameterCount) boxes_.setEnabled(Box::kRPM, true);
  }
}

void ScanCycle::Display(const QString& out) {
  const std::optional<Decoded> decoded = decodeReply(link_.expected().prefix, out, locale_);
  if (!decoded) return;
  for (const auto& [box, text] : decoded->writes) boxes_.setText(box, text);
  if (decoded->milColour) boxes_.setMilColour(*decoded->milColour);
  if (decoded->needle == Decoded::Needle::kNone || !gauges_ || !gauges_->gaugesVisible()) return;
  const Box box = decoded->needle == Decoded::Needle::kSpeed ? Box::kSpeed : Box::kRPM;
  const std::optional<std::int16_t> value = readInt16(boxes_.text(box), locale_);
  if (!value) return;
  if (decoded->needle == Decoded::Needle::kSpeed) {
    gauges_->UpdateSpeed(*value);
  } else {
    gauges_->UpdateTach(*value);
  }
}

}  // namespace tarvex
