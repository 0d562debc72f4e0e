#include "app/scan_messages.h"

#include <QCoreApplication>

#include "core/text.h"
#include "obd/answer.h"
#include "ui/failure_text.h"

namespace tarvex {

QString silenceNotice(const QString& device, const Result<QString>& protocolAnswer) {
  if (!protocolAnswer)
    return failureText(protocolAnswer.failure()) +
           QCoreApplication::translate("Tarvex", " The scan goes on.");
  const std::optional<obd::Protocol> protocol = obd::protocolFromDpn(*protocolAnswer);
  QString text =
      QCoreApplication::translate("Tarvex", "No answer from the car through the adapter on %1").arg(device);
  if (protocol)
    text += QCoreApplication::translate("Tarvex", " (protocol: %1)").arg(toQString(protocol->name));
  text += QLatin1Char('.');
  // J1850 VPW is protocol 2; 0 is the automatic search that found nothing yet.
  if (protocol && protocol->number != '2' && protocol->number != '0') {
    return text + QCoreApplication::translate(
                      "Tarvex",
                      " The enhanced parameters need a GM engine controller on J1850 VPW; this car speaks "
                      "another protocol. View > Standard data reads any OBD-II car. The scan goes on.");
  }
  return text + QCoreApplication::translate(
                    "Tarvex", " Is it plugged into the car, and is the ignition on? The scan goes on.");
}

QString scanFailureText(const Failure& failure, bool logWasOpen) {
  const auto tr = [](const char* text) { return QCoreApplication::translate("Tarvex", text); };
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
