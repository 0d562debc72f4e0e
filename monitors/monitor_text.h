#pragma once

#include <QString>
#include <QStringList>
#include <vector>

#include "core/units.h"
#include "monitors/monitor_reader.h"

namespace tarvex {

// A test's outcome. A test whose value and limits are all zero has not run
// since the codes were cleared: no verdict, never "passed".
enum class Verdict { kPassed, kFailed, kNotRun };
QString verdictText(Verdict verdict);  // "passed", "FAILED", "not run"

// One test result as people read it, in the units chosen. An ID the standard
// does not name is shown as its number; a value whose unit-and-scaling ID the
// table lacks is the word itself, marked raw. On the older buses every value
// is raw (the maker's own scaling) and a test has one limit, a minimum or a
// maximum.
struct TestRow {
  QString controller;  // "engine (7E8)"
  QString monitor;     // "misfire cylinder 3 (A4)"; older buses: "test 0x02"
  QString test;        // "misfire counts, last or current driving cycle (0C)"; older buses: "component 0x11"
  QString value;
  QString minimum;  // empty: no lower limit
  QString maximum;  // empty: no upper limit
  QString unit;     // "V", "°F", "raw (scaling 0x3A unknown)"
  Verdict verdict = Verdict::kNotRun;
};
std::vector<TestRow> testRows(const MonitorReport& report, const UnitChoice& units = {});
// The same with the failed tests first, then the rest in their order.
std::vector<TestRow> failuresFirst(std::vector<TestRow> rows);

// Misfire counts of one cylinder at a glance; "-" for a count not reported or
// not counted since the codes were cleared.
struct MisfireRow {
  QString controller;
  int cylinder;
  QString current;  // this or the last completed driving cycle
  QString recent;   // averaged over the last ten driving cycles
  Verdict verdict;  // of the cylinder's tests together: failed if any failed
};
std::vector<MisfireRow> misfireRows(const MonitorReport& report);

// "On-board tests: 24 results from engine (7E8): 1 failed, 1 not run, 22
// passed", or why there are none.
QString monitorSummary(const MonitorReport& report);
// A line for each controller that answered the search but gave no results.
QStringList controllersWithout(const MonitorReport& report);

// The whole report as plain text: the protocol, the summary, the failed tests,
// every test by controller and monitor, the misfire counts and every read that
// failed with why.
QString monitorReportText(const MonitorReport& report, const UnitChoice& units = {});

}  // namespace tarvex
