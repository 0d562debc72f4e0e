#include "app/scan_messages.h"

#include <QCoreApplication>

#include "core/text.h"
#include "obd/answer.h"
#include "ui/failure_text.h"

namespace tarvex {

namespace {

QString tr(const char* text) {
  return QCoreApplication::translate("Tarvex", text);
}

// What the adapter's answer to ATDPN says of the car.
enum class Heard {
  kVpw,      // it is on J1850 VPW (protocol 2), where the GM scan asks
  kOther,    // it is on another protocol
  kNone,     // the automatic search found nothing that answers the GM scan (0)
  kUnknown,  // an answer that names no protocol
};

Heard heard(const QString& protocolAnswer, std::optional<obd::Protocol>& protocol) {
  const QString number = protocolAnswer.trimmed().toUpper();
  if (number == QLatin1String("0") || number == QLatin1String("A0")) return Heard::kNone;
  protocol = obd::protocolFromDpn(protocolAnswer);
  if (!protocol) return Heard::kUnknown;
  return protocol->number == '2' ? Heard::kVpw : Heard::kOther;
}

QString refusedText(const QString& refusal) {
  return tr("the engine controller refused every enhanced request (it answered %1). A controller that is no "
            "GM engine controller refuses them; so does any when the adapter cuts a request to two bytes, "
            "as some clones do.")
      .arg(refusal);
}

}  // namespace

QString silenceNotice(const QString& device, const Result<QString>& protocolAnswer, const QString& refusal) {
  if (!protocolAnswer) return failureText(protocolAnswer.failure()) + tr(" The scan goes on.");
  if (!refusal.isEmpty())
    return tr("Through the adapter on %1, ").arg(device) + refusedText(refusal) +
           tr(" View > Standard data reads any OBD-II car. The scan goes on.");
  std::optional<obd::Protocol> protocol;
  const Heard what = heard(*protocolAnswer, protocol);
  QString text = tr("No answer from the car through the adapter on %1").arg(device);
  switch (what) {
    case Heard::kOther:
      return text +
             tr(" (protocol: %1). The enhanced parameters need a GM engine controller on J1850 VPW; this "
                "car speaks another protocol. View > Standard data reads any OBD-II car. The scan goes on.")
                 .arg(toQString(protocol->name));
    case Heard::kNone:
      return text +
             tr(": it found no car that answers the GM scan on any protocol. Is the ignition on? A car "
                "that is no GM on J1850 VPW answers only standard requests: View > Standard data reads "
                "any OBD-II car. The scan goes on.");
    case Heard::kVpw:
      text += tr(" (protocol: %1)").arg(toQString(protocol->name));
      break;
    case Heard::kUnknown:
      break;
  }
  return text + tr(". Is it plugged into the car, and is the ignition on? The scan goes on.");
}

bool offersStandardData(const Result<QString>& protocolAnswer) {
  std::optional<obd::Protocol> protocol;
  if (!protocolAnswer) return false;
  const Heard what = heard(*protocolAnswer, protocol);
  return what == Heard::kOther || what == Heard::kNone;
}

QString silentLogText(const QString& device, const std::optional<QString>& protocolAnswer, int rounds,
                      const QString& refusal) {
  QString text =
      tr("the GM scan heard no value from the car in its first %1 rounds through the adapter on %2")
          .arg(rounds)
          .arg(device);
  std::optional<obd::Protocol> protocol;
  const Heard what = protocolAnswer ? heard(*protocolAnswer, protocol) : Heard::kUnknown;
  if (!refusal.isEmpty()) {
    text += QStringLiteral(": ") + refusedText(refusal);
  } else {
    switch (what) {
      case Heard::kOther:
        text += tr(" (protocol: %1): its enhanced parameters need a GM engine controller on J1850 VPW.")
                    .arg(toQString(protocol->name));
        break;
      case Heard::kNone:
        text += tr(": the adapter found no car that answers it on any protocol. Is the ignition on?");
        break;
      case Heard::kVpw:
        text += tr(" (protocol: %1). Is the ignition on?").arg(toQString(protocol->name));
        break;
      case Heard::kUnknown:
        text += tr(". Is the ignition on?");
        break;
    }
  }
  return text + tr(" With --standard it logs the standard OBD-II data of any car. Nothing was logged.");
}

QString scanFailureText(const Failure& failure, bool logWasOpen) {
  switch (failure.kind) {
    case Failure::Kind::kCreate:
      return tr("Cannot create the log file %1: %2").arg(failure.subject, failure.reason);
    case Failure::Kind::kWrite:
      return tr("Cannot write to the log file %1: %2. The file holds every complete line written before.")
          .arg(failure.subject, failure.reason);
    default:
      return failureText(failure) + (logWasOpen ? tr(" The log holds every complete round.") : QString());
  }
}

}  // namespace tarvex
