#include "obd/trouble_codes.h"

#include <QHash>
#include <QStringList>
#include <algorithm>

namespace tarvex::obd {

// obd/codes.txt, compiled in (code_table.cpp.in).
extern const char kCodeTable[];

namespace {

const QHash<QString, QString>& descriptions() {
  static const QHash<QString, QString> table = [] {
    QHash<QString, QString> out;
    for (const QString& line : QString::fromUtf8(kCodeTable).split(QLatin1Char('\n'))) {
      if (line.size() < 7 || line.startsWith(QLatin1Char('#'))) continue;
      out.insert(line.left(5), line.mid(6).trimmed());
    }
    return out;
  }();
  return table;
}

// What the third character of a powertrain code says about the system.
QString powertrainSystem(QChar group, QChar system) {
  switch (system.unicode()) {
    case u'0':
      return QStringLiteral("fuel and air metering and auxiliary emission controls");
    case u'1':
      return QStringLiteral("fuel and air metering");
    case u'2':
      return QStringLiteral("fuel and air metering (injector circuit)");
    case u'3':
      return QStringLiteral("ignition system or misfire");
    case u'4':
      return QStringLiteral("auxiliary emission controls");
    case u'5':
      return group == QLatin1Char('2')
                 ? QStringLiteral("auxiliary inputs")
                 : QStringLiteral("vehicle speed control, idle control and auxiliary inputs");
    case u'6':
      return QStringLiteral("computer and output circuits");
    case u'7':
    case u'8':
    case u'9':
      return QStringLiteral("transmission");
    case u'A':
      if (group == QLatin1Char('2'))
        return QStringLiteral("fuel and air metering and auxiliary emission controls");
      return group == QLatin1Char('0') ? QStringLiteral("hybrid propulsion") : QString();
    case u'B':
    case u'C':
      return group == QLatin1Char('0') ? QStringLiteral("hybrid propulsion") : QString();
    default:
      return {};
  }
}

QString networkSystem(QChar system) {
  switch (system.unicode()) {
    case u'0':
      return QStringLiteral("network electrical");
    case u'1':
    case u'2':
      return QStringLiteral("network communication");
    case u'3':
      return QStringLiteral("network software");
    case u'4':
      return QStringLiteral("network data");
    default:
      return {};
  }
}

QString describeByDigits(const QString& code) {
  const QChar letter = code[0], group = code[1], system = code[2];
  bool generic = group == QLatin1Char('0') || group == QLatin1Char('2') || group == QLatin1Char('3');
  QString area, part;
  switch (letter.unicode()) {
    case u'P':
      area = QStringLiteral("powertrain");
      // P30-P33 belong to the makers, P34-P39 are generic.
      if (group == QLatin1Char('3')) {
        generic = system >= QLatin1Char('4');
        if (system == QLatin1Char('4')) part = QStringLiteral("cylinder deactivation");
      } else {
        part = powertrainSystem(group, system);
      }
      break;
    case u'C':
      area = QStringLiteral("chassis");
      break;
    case u'B':
      area = QStringLiteral("body");
      break;
    default:
      area = QStringLiteral("network");
      if (generic) part = networkSystem(system);
      break;
  }
  QString text = generic ? QStringLiteral("Generic %1 code, not described here").arg(area)
                         : QStringLiteral("Manufacturer-specific %1 code").arg(area);
  if (!part.isEmpty()) text += QStringLiteral(": ") + part;
  return text;
}

}  // namespace

QString codeText(std::uint8_t a, std::uint8_t b) {
  static constexpr char kLetters[] = {'P', 'C', 'B', 'U'};
  return QString::asprintf("%c%X%X%02X", kLetters[a >> 6], (a >> 4) & 0x3, a & 0x0F, b);
}

std::vector<TroubleCode> troubleCodes(const std::vector<Message>& messages, CodeService service, Bus bus) {
  std::vector<TroubleCode> out;
  const int answer = static_cast<int>(service) + 0x40;
  for (const Message& m : messages) {
    const auto& d = m.data;
    if (d.empty() || d[0] != answer) continue;
    std::size_t at = 1, end = d.size();
    if (bus != Bus::kLegacy) {
      if (d.size() < 2) continue;
      at = 2;
      end = std::min(end, at + 2 * std::size_t{d[1]});
    }
    for (; at + 1 < end; at += 2)
      if (d[at] != 0 || d[at + 1] != 0) out.push_back({codeText(d[at], d[at + 1]), m.source});
  }
  return out;
}

QString describeCode(const QString& code) {
  if (code.size() != 5) return {};
  const auto known = descriptions().find(code);
  return known != descriptions().end() ? *known : describeByDigits(code);
}

}  // namespace tarvex::obd
