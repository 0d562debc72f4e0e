#pragma once

#include <QByteArray>
#include <span>
#include <vector>

#include "core/clock.h"
#include "sim/vehicle.h"

namespace tarvex::sim {

// One controller's message in answer to a request, from its service byte on.
struct EcuMessage {
  Ecu ecu;
  QByteArray data;
};

// What the addressed controllers send back for a standard OBD-II request (services 01, 02, 03,
// 04, 06, 07, 09 and 0A; on CAN also 22, of which the transmission knows 1940) at a moment of
// the drive, in the car's own bus form: on CAN one message a controller, however long (the
// adapter frames it); on J1850 one message a line, items split over lines of four bytes, codes
// three a line and on-board tests a component a line. Empty when nobody answers. Service 04
// clears the codes.
std::vector<EcuMessage> standardAnswers(Vehicle& car, const QByteArray& request, Millis at,
                                        std::span<const Ecu> addressed);

}  // namespace tarvex::sim
