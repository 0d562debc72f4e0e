#pragma once

#include <QByteArray>
#include <QWidget>
#include <cstdint>

#include "scan/gauge_sink.h"
#include "ui/window_builder.h"

namespace tarvex {

enum class Dial { kSpeedometer, kTachometer };

// The dial picture as compiled into the program: a 24-bit BMP file.
QByteArray dialBitmap(Dial dial);

// A needle's end points in twips of the window's client area; (x1, y1) is the
// pivot, (x2, y2) the tip.
struct NeedleLine {
  float x1, y1, x2, y2;
  constexpr bool operator==(const NeedleLine&) const = default;
};

// The gauge window: a speedometer and a tachometer dial, each with a red
// needle drawn over it. The scan moves the needles through the GaugeSink
// operations while the window is visible.
class Gauges : public QWidget, public GaugeSink {
  Q_OBJECT
 public:
  explicit Gauges(QWidget* parent = nullptr);
  ~Gauges() override;

  // A window the user has closed is hidden and so counts as not visible.
  bool gaugesVisible() const override { return isVisible(); }
  void UpdateSpeed(std::int16_t speed) override;
  void UpdateTach(std::int16_t rpm) override;

  NeedleLine speedoNeedle() const { return speedo_; }
  NeedleLine tachNeedle() const { return tach_; }
  const ControlMap& controls() const { return controls_; }

 private:
  class NeedleOverlay;

  ControlMap controls_;
  NeedleLine speedo_;
  NeedleLine tach_;
  NeedleOverlay* overlay_ = nullptr;
};

}  // namespace tarvex
