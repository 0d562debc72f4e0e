#include "sim/obd_services.h"

#include <algorithm>
#include <cmath>

namespace tarvex::sim {

namespace {

// On CAN a request carries at most six PIDs (seven data bytes in a single frame).
constexpr int kMostPids = 6;

// The CAN car's transmission has one parameter of its own behind service 22:
// its fluid temperature, A - 40 in degrees Celsius, for users' parameter files.
constexpr std::uint16_t kFluidTemperatureId = 0x1940;

std::uint8_t at(const QByteArray& b, qsizetype i) {
  return std::uint8_t(b[i]);
}

QByteArray codeBytes(std::uint16_t code) {
  QByteArray b;
  b.append(char(code >> 8));
  b.append(char(code & 0xFF));
  return b;
}

// Codes on CAN: the count, then every code in one message.
QByteArray canCodes(std::uint8_t reply, const std::vector<std::uint16_t>& codes) {
  QByteArray b;
  b.append(char(reply));
  b.append(char(std::min<std::size_t>(codes.size(), 255)));
  for (std::uint16_t c : codes) b += codeBytes(c);
  return b;
}

// Codes on J1850: three to a line, the last padded with zero codes; one empty line for none.
std::vector<QByteArray> legacyCodes(std::uint8_t reply, const std::vector<std::uint16_t>& codes) {
  std::vector<QByteArray> lines;
  for (std::size_t i = 0; i == 0 || i < codes.size(); i += 3) {
    QByteArray line(1, char(reply));
    for (std::size_t j = i; j < i + 3; ++j) line += codeBytes(j < codes.size() ? codes[j] : 0);
    lines.push_back(line);
  }
  return lines;
}

// Items on J1850: lines "49 pid n" and four bytes each, numbered from 1; the text is padded
// at its front to whole lines.
std::vector<QByteArray> legacyItems(std::uint8_t pid, QByteArray items) {
  items.prepend(QByteArray((4 - items.size() % 4) % 4, '\0'));
  std::vector<QByteArray> lines;
  for (qsizetype i = 0; i < items.size(); i += 4) {
    QByteArray line;
    line.append(char(0x49));
    line.append(char(pid));
    line.append(char(i / 4 + 1));
    lines.push_back(line + items.mid(i, 4));
  }
  return lines;
}

}  // namespace

std::vector<EcuMessage> standardAnswers(Vehicle& car, const QByteArray& request, Millis time,
                                        std::span<const Ecu> addressed) {
  std::vector<EcuMessage> out;
  if (request.isEmpty()) return out;
  const bool can = car.config().car == Car::Can;
  const std::uint8_t service = at(request, 0);
  const std::uint8_t reply = std::uint8_t(service + 0x40);
  const QByteArray head(1, char(reply));

  for (Ecu ecu : addressed) {
    auto add = [&](const QByteArray& data) { out.push_back({ecu, data}); };
    switch (service) {
      case 0x01: {
        // Each PID the controller serves, in the order asked; the old buses take one a request.
        const qsizetype pids = can ? std::min<qsizetype>(request.size() - 1, kMostPids) : 1;
        QByteArray data = head;
        for (qsizetype i = 1; i <= pids && i < request.size(); ++i) {
          if (auto d = car.serviceOneData(ecu, at(request, i), time)) data += request[i] + *d;
        }
        if (data.size() > 1) add(data);
        break;
      }
      case 0x02: {
        // Pairs of PID and frame; there is one frame, in the engine controller.
        if (ecu != Ecu::Engine) break;
        QByteArray data = head;
        for (qsizetype i = 1; i + 1 < request.size() && (can || i == 1); i += 2) {
          if (at(request, i + 1) != 0) continue;
          if (auto d = car.freezeFrameData(at(request, i))) data += request.mid(i, 2) + *d;
        }
        if (data.size() > 1) add(data);
        break;
      }
      case 0x03:
      case 0x07:
      case 0x0A: {
        const CodeList list = service == 0x03   ? CodeList::Stored
                              : service == 0x07 ? CodeList::Pending
                                                : CodeList::Permanent;
        if (can) {
          add(canCodes(reply, car.codes(ecu, list)));
        } else if (list != CodeList::Permanent) {  // permanent codes came with CAN
          for (const QByteArray& line : legacyCodes(reply, car.codes(ecu, list))) add(line);
        }
        break;
      }
      case 0x04:
        add(head);
        break;
      case 0x22: {
        if (!can) break;
        const bool known = ecu == Ecu::Transmission && request.size() == 3 &&
                           (at(request, 1) << 8 | at(request, 2)) == kFluidTemperatureId;
        if (!known) {
          add(QByteArray::fromHex("7F2231"));  // request out of range
          break;
        }
        // The fluid follows the coolant a little behind it, never below the air around.
        const VehicleState s = car.stateAt(time);
        const double fluid = std::max(s.ambientC, s.coolantC - 6);
        add(head + request.mid(1, 2) + char(std::clamp(int(std::lround(fluid + 40)), 0, 255)));
        break;
      }
      case 0x09: {
        if (request.size() < 2) break;
        const std::uint8_t pid = at(request, 1);
        if (can) {
          const QByteArray items = car.vehicleInfo(ecu, pid);
          if (items.isEmpty()) break;
          QByteArray data = head + char(pid);
          if (pid != 0x00) data.append(char(car.vehicleInfoCount(ecu, pid)));
          add(data + items);
        } else if (pid == 0x01 || pid == 0x03) {
          // The number of lines the VIN or the calibration IDs take.
          const int lines = int((car.vehicleInfo(ecu, std::uint8_t(pid + 1)).size() + 3) / 4);
          if (lines > 0) add(head + char(pid) + char(lines));
        } else {
          for (const QByteArray& line : legacyItems(pid, car.vehicleInfo(ecu, pid))) add(line);
        }
        break;
      }
      case 0x06: {
        if (request.size() < 2) break;
        const std::uint8_t id = at(request, 1);
        if (!can) {
          // The older form: one line a component of the test asked.
          if (ecu == Ecu::Engine)
            for (const QByteArray& line : car.legacyTests(id)) add(head + line);
          break;
        }
        if (auto tests = car.monitorTests(ecu, id, time)) {
          add(head + *tests);
        } else if (addressed.size() == 1) {
          // Asked alone, a controller without the monitor refuses; asked with the others
          // (functionally) it keeps quiet, as ISO 15765-4 wants.
          add(QByteArray::fromHex("7F0612"));
        }
        break;
      }
      default:
        break;
    }
  }
  if (service == 0x04 && !out.empty()) car.clearCodes(time);
  return out;
}

}  // namespace tarvex::sim
