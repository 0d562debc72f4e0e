#pragma once

#include <QString>

#include "core/failure.h"

namespace tarvex {

// Writes the report's HTML to `path`: as it is, or printed to a PDF (A4) when
// the name ends in ".pdf", with page numbers. The file appears whole or not at
// all. The PDF needs a QGuiApplication (fonts), though no display.
Status writeReport(const QString& html, const QString& path);
bool isPdfPath(const QString& path);

}  // namespace tarvex
