#pragma once

#include <QLocale>
#include <QString>
#include <optional>
#include <vector>

#include "scan/catalogue.h"

namespace tarvex {

// What one answer changes on the window.
struct Decoded {
  enum class Needle { kNone, kSpeed, kTach };
  std::vector<std::pair<Box, QString>> writes;  // in the order they are written
  std::optional<std::uint32_t> milColour;
  Needle needle = Needle::kNone;  // read back from the written box and moved while the gauges show
};

// The fuel-system status text of a code, empty for codes that have none.
QString fuelStatusText(int code);

// Decodes the data text of an answer to the request whose reply prefix is
// given. Nothing for a prefix that names no parameter, and nothing for a data
// text that is not a blank and two upper-case hex digits per expected byte: a
// short or garbled answer must not show a made-up value.
std::optional<Decoded> decodeReply(QStringView replyPrefix, const QString& out,
                                   const QLocale& locale = QLocale());

}  // namespace tarvex
