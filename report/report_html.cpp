#include "report/report_html.h"

#include <QStringList>
#include <algorithm>
#include <cstdlib>

#include "codes/report_text.h"
#include "core/text.h"
#include "monitors/monitor_text.h"
#include "ui/failure_text.h"

namespace tarvex {
namespace {

QString esc(const QString& text) {
  return text.toHtmlEscaped();
}

QString who(const QString& source) {
  return source.isEmpty() ? QStringLiteral("the car") : obd::controllerName(source);
}

// Inline styles, so that Qt's own rich text (which prints the PDF) and a
// browser draw the same.
constexpr char kFailedCell[] = "background-color:#ffd6d6;font-weight:bold";
constexpr char kNotRunCell[] = "color:#666666";

QString cell(const QString& text, const char* style = nullptr, bool number = false) {
  QString css = style ? QString::fromLatin1(style) : QString();
  if (number) css += css.isEmpty() ? QStringLiteral("text-align:right") : QStringLiteral(";text-align:right");
  return css.isEmpty() ? QStringLiteral("<td>%1</td>").arg(esc(text))
                       : QStringLiteral("<td style=\"%1\">%2</td>").arg(css, esc(text));
}

// A table under its caption and headings, which repeat on every page it runs
// over; the caption in the table's head cannot be parted from it by a page
// break as a heading above it could.
QString table(const QString& caption, const QStringList& headings, const QString& rows,
              const QList<int>& widths = {}) {
  QString head;
  for (qsizetype i = 0; i < headings.size(); ++i)
    head += widths.size() == headings.size()
                ? QStringLiteral("<th width=\"%1%\">%2</th>").arg(widths[i]).arg(esc(headings[i]))
                : QStringLiteral("<th>%1</th>").arg(esc(headings[i]));
  const QString captionRow =
      caption.isEmpty()
          ? QString()
          : QStringLiteral(
                "<tr><th colspan=\"%1\" style=\"background-color:#c8d4e0;font-size:11pt\">%2</th></tr>")
                .arg(headings.size())
                .arg(esc(caption));
  return QStringLiteral(
             "<table width=\"100%\" border=\"1\" cellspacing=\"0\" cellpadding=\"3\">"
             "<thead>%1<tr>%2</tr></thead><tbody>%3</tbody></table>\n")
      .arg(captionRow, head, rows);
}

QString fact(const QString& name, const QString& valueHtml) {
  return QStringLiteral("<tr><th align=\"left\" width=\"22%\">%1</th><td>%2</td></tr>")
      .arg(esc(name), valueHtml);
}

QString itemsHtml(const std::vector<obd::InfoItems>& items, const QString& request, const CarReport& report) {
  for (const Failure& f : report.failed)
    if (f.request == request) return esc(QStringLiteral("not read: %1").arg(failureText(f)));
  QStringList lines;
  std::vector<obd::InfoItems> sorted = items;  // the engine first, whoever answered first
  std::stable_sort(sorted.begin(), sorted.end(),
                   [](const obd::InfoItems& a, const obd::InfoItems& b) { return a.source < b.source; });
  for (const obd::InfoItems& i : sorted)
    lines << esc(QStringLiteral("%1: %2").arg(who(i.source), i.items.join(QStringLiteral(", "))));
  return lines.isEmpty() ? esc(QStringLiteral("none given")) : lines.join(QStringLiteral("<br>"));
}

QString vinHtml(const CarReport& report) {
  QStringList vins;
  for (const obd::InfoItems& i : report.vin)
    for (const QString& v : i.items)
      if (!vins.contains(v)) vins << v;
  if (vins.size() == 1) return esc(vins.first());
  return itemsHtml(report.vin, QStringLiteral("0902"), report);
}

QString header(const CarReport& report) {
  QString adapter = report.adapter.isEmpty() ? QStringLiteral("not identified") : report.adapter;
  adapter += QStringLiteral(" on ") + report.device;
  QString mil = milText(report.codes).trimmed();
  if (mil.startsWith(QLatin1String("MIL: "))) mil = mil.mid(5);
  QString rows;
  // The offset from UTC too: a report may be read far from where it was made.
  const int offset = report.date.offsetFromUtc() / 60;
  const QString zone = QString::asprintf("UTC%c%02d:%02d", offset < 0 ? '-' : '+', std::abs(offset) / 60,
                                         std::abs(offset) % 60);
  rows += fact(QStringLiteral("Date"),
               esc(report.date.toString(QStringLiteral("yyyy-MM-dd HH:mm")) + QLatin1Char(' ') + zone));
  rows += fact(QStringLiteral("Adapter"), esc(adapter));
  rows += fact(QStringLiteral("Protocol"),
               esc(report.protocol ? toQString(report.protocol->name) : QStringLiteral("unknown")));
  rows += fact(QStringLiteral("VIN"), vinHtml(report));
  rows += fact(QStringLiteral("Calibration IDs"),
               itemsHtml(report.calibrationIds, QStringLiteral("0904"), report));
  rows += fact(QStringLiteral("MIL"), esc(mil).replace(QLatin1Char('\n'), QStringLiteral("<br>")));
  return QStringLiteral("<table width=\"100%\" border=\"1\" cellspacing=\"0\" cellpadding=\"3\">%1</table>\n")
      .arg(rows);
}

QString codesHtml(const CodesReport& codes) {
  QString out = QStringLiteral("<h2>Trouble codes</h2>\n");
  if (codes.codes.empty()) {
    const QString none = codesSummary(codes).trimmed();
    if (!none.isEmpty()) return out + QStringLiteral("<p>%1</p>\n").arg(esc(none));
    return out + QStringLiteral("<p>Not read (see \"Not read\").</p>\n");
  }
  QStringList sources;
  for (const CodeEntry& c : codes.codes)
    if (!sources.contains(c.source)) sources << c.source;
  for (const ControllerReadiness& r : codes.readiness)
    if (!sources.contains(r.source)) sources << r.source;
  for (const QString& source : sources) {
    QString rows;
    for (const CodeEntry& c : codes.codes)
      if (c.source == source)
        rows += QStringLiteral("<tr>%1%2%3</tr>").arg(cell(c.code), cell(c.status()), cell(c.description));
    if (rows.isEmpty()) rows = QStringLiteral("<tr><td colspan=\"3\">none</td></tr>");
    out += table(who(source),
                 {QStringLiteral("Code"), QStringLiteral("Status"), QStringLiteral("Description")}, rows);
  }
  if (codes.freezeFrame) {
    const FreezeFrame& f = *codes.freezeFrame;
    QString rows;
    for (const auto& [name, value] : freezeFrameRows(f))
      rows += QStringLiteral("<tr>%1%2</tr>").arg(cell(name), cell(value));
    out += table(QStringLiteral("Freeze frame of %1 (%2)").arg(f.code, who(f.source)),
                 {QStringLiteral("Parameter"), QStringLiteral("Value")}, rows);
  }
  return out;
}

QString readinessHtml(const CodesReport& codes) {
  if (codes.readiness.empty()) return {};
  QString out = QStringLiteral("<h2 style=\"page-break-before:always\">Readiness</h2>\n");
  for (const ControllerReadiness& r : codes.readiness) {
    const QString caption = QStringLiteral("%1, %2 ignition")
                                .arg(who(r.source), r.readiness.ignition == obd::Ignition::kSpark
                                                        ? QStringLiteral("spark")
                                                        : QStringLiteral("compression"));
    QString rows;
    for (const obd::Monitor& m : r.readiness.monitors) {
      const QString state = !m.supported ? QStringLiteral("not supported")
                            : m.complete ? QStringLiteral("complete")
                                         : QStringLiteral("not complete");
      rows +=
          QStringLiteral("<tr>%1%2</tr>")
              .arg(cell(toQString(m.name)), cell(state, m.supported && !m.complete ? kNotRunCell : nullptr));
    }
    out += table(caption, {QStringLiteral("Monitor"), QStringLiteral("State")}, rows);
  }
  return out;
}

QString monitorsHtml(const MonitorReport& monitors, const UnitChoice& units) {
  const std::vector<TestRow> rows = failuresFirst(testRows(monitors, units));
  // A long table starts on a page of its own; a short note does not need one.
  QString out = rows.empty() ? QStringLiteral("<h2>On-board tests</h2>\n")
                             : QStringLiteral("<h2 style=\"page-break-before:always\">On-board tests</h2>\n");
  out += QStringLiteral("<p>%1</p>\n").arg(esc(monitorSummary(monitors)));
  for (const QString& line : controllersWithout(monitors))
    out += QStringLiteral("<p>%1</p>\n").arg(esc(line));
  QStringList controllers;
  for (const TestRow& r : rows)
    if (!controllers.contains(r.controller)) controllers << r.controller;
  for (const QString& controller : controllers) {
    QString body;
    for (const TestRow& r : rows) {
      if (r.controller != controller) continue;
      const char* style = r.verdict == Verdict::kFailed   ? kFailedCell
                          : r.verdict == Verdict::kNotRun ? kNotRunCell
                                                          : nullptr;
      body += QStringLiteral("<tr>%1%2%3%4%5%6%7</tr>")
                  .arg(cell(r.monitor, style), cell(r.test, style), cell(r.value, style, true),
                       cell(r.minimum, style, true), cell(r.maximum, style, true), cell(r.unit, style),
                       cell(verdictText(r.verdict), style));
    }
    out += table(controller,
                 {QStringLiteral("Monitor"), QStringLiteral("Test"), QStringLiteral("Value"),
                  QStringLiteral("Minimum"), QStringLiteral("Maximum"), QStringLiteral("Unit"),
                  QStringLiteral("Result")},
                 body, {18, 23, 9, 12, 12, 16, 10});
  }
  const std::vector<MisfireRow> misfires = misfireRows(monitors);
  if (!misfires.empty()) {
    QString body;
    for (const MisfireRow& m : misfires) {
      const char* style = m.verdict == Verdict::kFailed   ? kFailedCell
                          : m.verdict == Verdict::kNotRun ? kNotRunCell
                                                          : nullptr;
      body += QStringLiteral("<tr>%1%2%3%4%5</tr>")
                  .arg(cell(m.controller, style), cell(QString::number(m.cylinder), style, true),
                       cell(m.current, style, true), cell(m.recent, style, true),
                       cell(verdictText(m.verdict), style));
    }
    out +=
        table(QStringLiteral("Misfire counts"),
              {QStringLiteral("Controller"), QStringLiteral("Cylinder"), QStringLiteral("This or last cycle"),
               QStringLiteral("Average of 10 cycles"), QStringLiteral("Result")},
              body);
  }
  return out;
}

QString failuresHtml(const CarReport& report) {
  const std::vector<Failure> failures = report.allFailures();
  if (failures.empty()) return {};
  QString out = QStringLiteral("<h2>Not read</h2>\n<ul>\n");
  for (const Failure& f : failures) out += QStringLiteral("<li>%1</li>\n").arg(esc(failureText(f)));
  return out + QStringLiteral("</ul>\n");
}

}  // namespace

QString reportHtml(const CarReport& report, const UnitChoice& units) {
  QStringList vins;
  for (const obd::InfoItems& i : report.vin) vins << i.items;
  const QString title = vins.isEmpty() ? QStringLiteral("Vehicle report")
                                       : QStringLiteral("Vehicle report: %1").arg(vins.first());
  QString html = QStringLiteral(
                     "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\">\n<title>%1</title>\n<style>\n"
                     "body { font-family: sans-serif; font-size: 10pt; }\n"
                     "h1 { font-size: 16pt; }\n"
                     "h2 { font-size: 13pt; margin-top: 14pt; page-break-after: avoid; }\n"
                     "h3 { font-size: 11pt; margin-top: 8pt; page-break-after: avoid; }\n"
                     "table { border-collapse: collapse; margin-bottom: 6pt; }\n"
                     "th, td { border: 1px solid #999999; padding: 2px 4px; vertical-align: top; }\n"
                     "th { background-color: #e8e8e8; text-align: left; }\n"
                     "tr { page-break-inside: avoid; }\n"
                     "</style></head><body>\n<h1>%2</h1>\n")
                     .arg(esc(title), esc(title));
  html += header(report);
  html += codesHtml(report.codes);
  html += readinessHtml(report.codes);
  html += monitorsHtml(report.monitors, units);
  html += failuresHtml(report);
  html += QStringLiteral("<p style=\"color:#666666;font-size:8pt\">Read by Tarvex.</p>\n</body></html>\n");
  return html;
}

}  // namespace tarvex
