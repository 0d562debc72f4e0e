#pragma once

#include <QLocale>
#include <QString>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "scan/catalogue.h"

namespace tarvex {

// What one answer changes on the window.
struct Decoded {
  std::vector<std::pair<Box, QString>> writes;  // in the order they are written
  std::vector<std::pair<Box, double>> values;   // the numbers behind them (not the status texts)
  std::optional<std::uint32_t> milColour;
};

// Puts the value obd/ reads from the data text of an answer to a row's request
// on the row's boxes, numbers in the locale's number text. Nothing for a data
// text that is not a blank and two upper-case hex digits per expected byte: a
// short or garbled answer must not show a made-up value.
std::optional<Decoded> decode(const Parameter& row, const QString& out, const QLocale& locale = QLocale());

}  // namespace tarvex
