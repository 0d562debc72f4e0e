#pragma once

#include <QLocale>
#include <QString>
#include <cstdint>

#include "scan/catalogue.h"

namespace tarvex {

// What the reply decoding needs of the gauge window: whether it is visible,
// and the two needle moves.
class GaugeSink {
 public:
  virtual ~GaugeSink() = default;
  virtual bool gaugesVisible() const = 0;
  virtual void UpdateSpeed(std::int16_t speed) = 0;
  virtual void UpdateTach(std::int16_t rpm) = 0;
};

// The needles follow what the speed and engine-speed boxes show: `shown` is
// the box's text, read back as a whole number as the gauges take it. Other
// boxes, a hidden gauge window or a text that is no number move nothing.
void showOnNeedles(GaugeSink* gauges, Box box, const QString& shown, const QLocale& locale);

}  // namespace tarvex
