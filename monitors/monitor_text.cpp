#include "monitors/monitor_text.h"

#include <algorithm>
#include <cmath>

#include "core/text.h"
#include "ui/failure_text.h"

namespace tarvex {
namespace {

constexpr int kFirstCylinder = 0xA2;  // misfire cylinder 1

QString who(const QString& source) {
  return source.isEmpty() ? QStringLiteral("the car") : obd::controllerName(source);
}

// "misfire cylinder 3 (A4)"; a name that already is the number stays as it is.
QString named(const QString& name, int id) {
  return name.contains(QLatin1String("0x")) ? name : QString::asprintf("%s (%02X)", qPrintable(name), id);
}

// As many decimals as one step of the value needs, at most four.
int decimalsFor(double step) {
  step = std::abs(step);
  if (!(step > 0)) return 0;
  int d = std::max(0, int(std::ceil(-std::log10(step) - 1e-9)));
  const double scaled = step * std::pow(10.0, d);
  if (std::abs(scaled - std::round(scaled)) > 1e-6) ++d;
  return std::min(d, 4);
}

QString number(double value, int decimals) {
  // No "-0.00" for a value that rounds to nothing.
  const double unit = std::pow(10.0, decimals);
  return QString::number(std::round(value * unit) == 0 ? 0.0 : value, 'f', decimals);
}

Verdict verdictOf(const obd::TestResult& r) {
  return !r.completed ? Verdict::kNotRun : r.passed ? Verdict::kPassed : Verdict::kFailed;
}

TestRow canRow(const obd::TestResult& r, const UnitChoice& units) {
  TestRow row;
  row.controller = who(r.source);
  row.monitor = named(obd::monitorName(r.mid), r.mid);
  row.test = named(obd::testName(r.tid), r.tid);
  row.verdict = verdictOf(r);
  if (row.verdict == Verdict::kNotRun) {
    // Zeros that stand for no run are no values.
    row.value = row.minimum = row.maximum = QStringLiteral("-");
    if (const obd::Scaling* known = obd::findScaling(r.scalingId))
      row.unit = convert(0.0, known->unit, units).label;
    return row;
  }
  const obd::Scaling* scaling = obd::findScaling(r.scalingId);
  if (!r.value.known || !scaling) {
    // Not guessed: the word as it came (signed for the signed IDs).
    row.value = QString::number(std::lround(r.value.value));
    row.minimum = QString::number(std::lround(r.min.value));
    row.maximum = QString::number(std::lround(r.max.value));
    row.unit = QString::asprintf("raw (scaling 0x%02X unknown)", r.scalingId);
    return row;
  }
  const Converted value = convert(r.value.value, r.value.unit, units);
  const double step =
      convert(scaling->factor, r.value.unit, units).value - convert(0.0, r.value.unit, units).value;
  const int decimals = decimalsFor(step);
  row.value = number(value.value, decimals);
  row.minimum = number(convert(r.min.value, r.min.unit, units).value, decimals);
  row.maximum = number(convert(r.max.value, r.max.unit, units).value, decimals);
  row.unit = value.label;
  return row;
}

TestRow legacyRow(const obd::LegacyTestResult& r) {
  TestRow row;
  row.controller = who(r.source);
  row.monitor = QString::asprintf("test 0x%02X", r.tid);
  row.test = QString::asprintf("component 0x%02X", r.component);
  row.value = QString::number(r.value);
  (r.limitIsMinimum ? row.minimum : row.maximum) = QString::number(r.limit);
  row.unit = QStringLiteral("raw (maker's scaling)");
  row.verdict = r.passed ? Verdict::kPassed : Verdict::kFailed;
  return row;
}

QString limitsText(const TestRow& row) {
  if (!row.minimum.isEmpty() && !row.maximum.isEmpty())
    return QStringLiteral("limits %1 to %2").arg(row.minimum, row.maximum);
  if (!row.minimum.isEmpty()) return QStringLiteral("at least %1").arg(row.minimum);
  return QStringLiteral("at most %1").arg(row.maximum);
}

QString valueText(const TestRow& row) {
  const bool raw = row.unit.startsWith(QLatin1String("raw"));
  QString text = row.value;
  if (!row.unit.isEmpty() && !raw) text += QLatin1Char(' ') + row.unit;
  text += QStringLiteral(" (%1)").arg(limitsText(row));
  if (raw) text += QLatin1Char(' ') + row.unit;
  return text;
}

}  // namespace

QString verdictText(Verdict verdict) {
  switch (verdict) {
    case Verdict::kPassed:
      return QStringLiteral("passed");
    case Verdict::kFailed:
      return QStringLiteral("FAILED");
    case Verdict::kNotRun:
      return QStringLiteral("not run");
  }
  return {};
}

std::vector<TestRow> testRows(const MonitorReport& report, const UnitChoice& units) {
  std::vector<TestRow> rows;
  for (const obd::TestResult& r : report.tests) rows.push_back(canRow(r, units));
  for (const obd::LegacyTestResult& r : report.legacyTests) rows.push_back(legacyRow(r));
  return rows;
}

std::vector<TestRow> failuresFirst(std::vector<TestRow> rows) {
  std::stable_partition(rows.begin(), rows.end(),
                        [](const TestRow& r) { return r.verdict == Verdict::kFailed; });
  return rows;
}

std::vector<MisfireRow> misfireRows(const MonitorReport& report) {
  std::vector<MisfireRow> rows;
  for (const obd::ControllerMisfires& c : obd::misfireCounts(report.tests)) {
    for (const obd::CylinderMisfires& cylinder : c.cylinders) {
      const int mid = kFirstCylinder + cylinder.cylinder - 1;
      bool failed = false, ran = false;
      for (const obd::TestResult& r : report.tests) {
        if (r.source != c.source || r.mid != mid) continue;
        failed = failed || verdictOf(r) == Verdict::kFailed;
        ran = ran || r.completed;
      }
      const auto count = [ran](const std::optional<double>& v) {
        return v && ran ? QString::number(std::lround(*v)) : QStringLiteral("-");
      };
      rows.push_back({who(c.source), cylinder.cylinder, count(cylinder.current), count(cylinder.recent),
                      failed ? Verdict::kFailed
                      : ran  ? Verdict::kPassed
                             : Verdict::kNotRun});
    }
  }
  return rows;
}

QString monitorSummary(const MonitorReport& report) {
  const QString title = report.legacy ? QStringLiteral("On-board tests (the older form, by test ID)")
                                      : QStringLiteral("On-board tests");
  if (report.unsupported)
    return QStringLiteral("%1: not supported by this car. %2").arg(title, failureText(*report.unsupported));
  if (!report.supported) return QStringLiteral("%1: not read (see \"Not read\")").arg(title);
  const std::vector<TestRow> rows = testRows(report);
  const auto count = [&](Verdict v) {
    return std::count_if(rows.begin(), rows.end(), [v](const TestRow& r) { return r.verdict == v; });
  };
  QStringList from;
  for (const QString& source : report.withTests) from << who(source);
  if (rows.empty()) return QStringLiteral("%1: %2 named no test").arg(title, from.join(QStringLiteral(", ")));
  return QStringLiteral("%1: %2 results from %3: %4 failed, %5 not run, %6 passed")
      .arg(title)
      .arg(rows.size())
      .arg(from.join(QStringLiteral(", ")))
      .arg(count(Verdict::kFailed))
      .arg(count(Verdict::kNotRun))
      .arg(count(Verdict::kPassed));
}

QStringList controllersWithout(const MonitorReport& report) {
  QStringList lines;
  if (!report.supported) return lines;
  for (const QString& source : report.controllers)
    if (!source.isEmpty() && !report.withTests.contains(source))
      lines << QStringLiteral("%1: no on-board test results").arg(who(source));
  return lines;
}

QString monitorReportText(const MonitorReport& report, const UnitChoice& units) {
  QString out = QStringLiteral("Protocol: %1\n")
                    .arg(report.protocol ? toQString(report.protocol->name) : QStringLiteral("unknown"));
  out += monitorSummary(report) + QLatin1Char('\n');
  for (const QString& line : controllersWithout(report)) out += line + QLatin1Char('\n');
  const std::vector<TestRow> rows = testRows(report, units);
  if (std::any_of(rows.begin(), rows.end(), [](const TestRow& r) { return r.verdict == Verdict::kFailed; })) {
    out += QStringLiteral("\nFailed:\n");
    for (const TestRow& r : rows)
      if (r.verdict == Verdict::kFailed)
        out += QStringLiteral("  %1, %2, %3: %4  %5\n")
                   .arg(r.controller, r.monitor, r.test, valueText(r), verdictText(r.verdict));
  }
  QString controller, monitor;
  for (const TestRow& r : rows) {
    if (r.controller != controller) {
      controller = r.controller;
      monitor.clear();
      out += QStringLiteral("\n%1:\n").arg(controller);
    }
    if (r.monitor != monitor) {
      monitor = r.monitor;
      out += QStringLiteral("  %1\n").arg(monitor);
    }
    out += QStringLiteral("    %1: %2  %3\n").arg(r.test, valueText(r), verdictText(r.verdict));
  }
  const std::vector<MisfireRow> misfires = misfireRows(report);
  controller.clear();
  for (const MisfireRow& m : misfires) {
    if (m.controller != controller) {
      controller = m.controller;
      out += QStringLiteral("\nMisfire counts of %1:\n  cylinder  this/last cycle  average of 10  result\n")
                 .arg(controller);
    }
    out += QStringLiteral("  %1  %2  %3  %4\n")
               .arg(m.cylinder, 8)
               .arg(m.current, 15)
               .arg(m.recent, 13)
               .arg(verdictText(m.verdict));
  }
  if (!report.failed.empty()) {
    out += QStringLiteral("\nNot read:\n");
    for (const Failure& f : report.failed) out += QStringLiteral("  %1\n").arg(failureText(f));
  }
  return out;
}

}  // namespace tarvex
