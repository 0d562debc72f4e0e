#include "codes/report_text.h"

#include "core/text.h"
#include "ui/failure_text.h"

namespace tarvex {
namespace {

QString numberText(double value) {
  QString text = QString::number(value, 'f', 2);
  while (text.endsWith(QLatin1Char('0'))) text.chop(1);
  if (text.endsWith(QLatin1Char('.'))) text.chop(1);
  return text == QLatin1String("-0") ? QStringLiteral("0") : text;
}

}  // namespace

QString milText(const CodesReport& report) {
  if (report.readiness.empty()) {
    if (report.failure(QStringLiteral("0101"))) return QStringLiteral("MIL: not read (see below)\n");
    return QStringLiteral("MIL: not reported by any controller\n");
  }
  QStringList each;
  bool on = false;
  for (const ControllerReadiness& r : report.readiness) {
    on = on || r.readiness.milOn;
    each << QStringLiteral("%1: %2 stored %3")
                .arg(obd::controllerName(r.source))
                .arg(r.readiness.storedCodes)
                .arg(r.readiness.storedCodes == 1 ? QStringLiteral("code") : QStringLiteral("codes"));
  }
  QString text = QStringLiteral("MIL: %1 (%2)\n")
                     .arg(on ? QStringLiteral("on") : QStringLiteral("off"), each.join(QStringLiteral("; ")));
  for (const QString& source : report.countMismatches()) {
    for (const ControllerReadiness& r : report.readiness) {
      if (r.source != source) continue;
      const auto listed = std::count_if(report.codes.begin(), report.codes.end(),
                                        [&](const CodeEntry& c) { return c.stored && c.source == source; });
      text += QStringLiteral("  Note: %1 counts %2 stored codes but listed %3.\n")
                  .arg(obd::controllerName(source))
                  .arg(r.readiness.storedCodes)
                  .arg(listed);
    }
  }
  return text;
}

QString codesSummary(const CodesReport& report) {
  if (!report.codes.empty()) return {};
  // "none" is what the controllers said, for the services they answered.
  const QStringList services{QStringLiteral("03"), QStringLiteral("07"), QStringLiteral("0A")};
  QStringList answered;
  for (const QString& s : services)
    if (report.wasRead(s)) answered << s;
  if (answered.size() == services.size()) return QStringLiteral("Trouble codes: none\n");
  if (report.wasRead(QStringLiteral("03")))
    return QStringLiteral("Trouble codes: none (asked: %1)\n").arg(answered.join(QStringLiteral(", ")));
  return {};
}

namespace {

QString codesText(const CodesReport& report) {
  if (report.codes.empty()) return codesSummary(report);
  QString out = QStringLiteral("Trouble codes:\n");
  for (const CodeEntry& c : report.codes)
    out += QStringLiteral("  %1  %2  %3: %4\n")
               .arg(c.code, c.status(), obd::controllerName(c.source), c.description);
  return out;
}

// A value of a freeze frame with its unit: "35.5 °C", "95.9 °F".
QString frozenText(const obd::Value& value, const UnitChoice& units) {
  QStringList parts;
  for (const obd::Reading& r : value.readings) {
    const Converted c = convert(r.value, r.unit, units);
    parts << (numberText(c.value) + (c.label.isEmpty() ? QString() : QLatin1Char(' ') + c.label));
  }
  if (!value.text.isEmpty()) parts << value.text;
  return parts.join(QStringLiteral(", "));
}

}  // namespace

QList<std::pair<QString, QString>> freezeFrameRows(const FreezeFrame& frame, const UnitChoice& units) {
  QList<std::pair<QString, QString>> rows;
  for (const obd::FrozenValue& v : frame.values) {
    const obd::Pid* pid = obd::findPid(v.pid);
    rows.append({pid ? toQString(pid->name) : QString::number(v.pid, 16), frozenText(v.value, units)});
  }
  return rows;
}

QString readinessText(const ControllerReadiness& r) {
  QString out = QStringLiteral("Readiness of %1 (%2 ignition):\n")
                    .arg(obd::controllerName(r.source), r.readiness.ignition == obd::Ignition::kSpark
                                                            ? QStringLiteral("spark")
                                                            : QStringLiteral("compression"));
  for (const obd::Monitor& m : r.readiness.monitors)
    out += QStringLiteral("  %1: %2\n")
               .arg(toQString(m.name), !m.supported ? QStringLiteral("not supported")
                                       : m.complete ? QStringLiteral("complete")
                                                    : QStringLiteral("incomplete"));
  return out;
}

QString failuresText(const CodesReport& report) {
  if (report.failed.empty()) return {};
  QString out = QStringLiteral("Not read:\n");
  for (const Failure& f : report.failed) out += QStringLiteral("  %1\n").arg(failureText(f));
  return out;
}

QString reportText(const CodesReport& report, const UnitChoice& units) {
  QString out;
  out += QStringLiteral("Protocol: %1\n")
             .arg(report.protocol ? toQString(report.protocol->name) : QStringLiteral("unknown"));
  if (report.vin) out += QStringLiteral("VIN: %1\n").arg(*report.vin);
  out += milText(report);
  out += codesText(report);
  if (report.freezeFrame) {
    const FreezeFrame& f = *report.freezeFrame;
    out += QStringLiteral("Freeze frame of %1 (%2):\n").arg(f.code, obd::controllerName(f.source));
    for (const auto& [name, value] : freezeFrameRows(f, units))
      out += QStringLiteral("  %1: %2\n").arg(name, value);
  }
  for (const ControllerReadiness& r : report.readiness) out += readinessText(r);
  return out + failuresText(report);
}

}  // namespace tarvex
