#include "app/silence_notice.h"

#include <QCoreApplication>

#include "link/text.h"
#include "obd/answer.h"

namespace tarvex {

QString silenceNotice(const QString& device, const QString& protocolAnswer) {
  const std::optional<obd::Protocol> protocol = obd::protocolFromDpn(protocolAnswer);
  QString text = QCoreApplication::translate("Tarvex", "No answer from the adapter on %1").arg(device);
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

}  // namespace tarvex
