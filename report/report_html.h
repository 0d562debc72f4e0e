#pragma once

#include <QString>

#include "core/units.h"
#include "report/car_report.h"

namespace tarvex {

// The report as one HTML page that reads well on screen and on paper: simple
// styles, tables with their headings repeated on every page, the on-board
// tests on a page of their own with the failed ones first. Values in the units
// chosen. Needs no display: a PDF is printed from this same text.
QString reportHtml(const CarReport& report, const UnitChoice& units = {});

}  // namespace tarvex
