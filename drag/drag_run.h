#pragma once

#include <QLocale>
#include <QString>
#include <cstdint>
#include <optional>

#include "core/clock.h"
#include "core/readings.h"

namespace tarvex {

// The drag strip window's result boxes. Their texts are the run's output and,
// for Speed (the previous sample) and Weight, also its input: they are read back.
enum class DragBox { kSpeed, kET, kLastET, kDistance, kQET, kTrapSpeed, kWeight, kETHP, kTSHP };
inline constexpr int kDragBoxCount = 9;

// The control name of a box in the window's layout.
QString dragBoxName(DragBox box);

class DragBoxes {
 public:
  virtual ~DragBoxes() = default;
  virtual QString text(DragBox box) const = 0;
  virtual void setText(DragBox box, const QString& text) = 0;
};

// A timed run from standstill, fed one road-speed sample at a time: the 0-100
// km/h time, the distance by the trapezoid rule, the quarter-mile time and trap
// speed, and the two power estimates from the weight.
class DragRun {
 public:
  static constexpr int kHundred = 100;  // km/h
  static constexpr double kMillisPerSecond = 1000;
  static constexpr double kMillisPerHour = 3600000;
  static constexpr double kEtDivisor = 5.825;
  static constexpr double kTrapDivisor = 234;

  DragRun(DragBoxes& boxes, Clock& clock, QLocale locale = QLocale());

  // A speed reply's data text (a blank and two hex digits), timed now.
  void Display(const QString& out);
  // One sample: the speed in km/h and the tick count it was taken at.
  void addSample(std::int16_t speed, std::uint32_t ticks);

  // The last run that reached the quarter mile, from standstill to standstill,
  // as speed over time from its start (channel "Speed", km/h), and when it
  // passed 100 km/h and the quarter mile: what the charts show of it. A run
  // given up before the quarter mile does not replace it; until a run reached
  // it, the run since the car last stood still.
  const Readings& lastRun() const { return shown().speed; }
  std::optional<Micros> hundredAt() const { return shown().hundredAt; }
  std::optional<Micros> quarterAt() const { return shown().quarterAt; }

 private:
  std::optional<double> read(DragBox box) const;
  QString seconds(std::uint32_t from, std::uint32_t to) const;
  // From the quarter-mile time (s) and trap speed (km/h) just measured, and the weight box.
  void estimatePower(double quarterTime, double trapSpeed);

  struct Run {
    Readings speed;
    std::optional<Micros> hundredAt, quarterAt;
  };
  const Run& shown() const { return quarterDone_ || !completed_ ? run_ : *completed_; }

  DragBoxes& boxes_;
  Clock& clock_;
  QLocale locale_;
  std::uint32_t startTicks_ = 0;
  std::uint32_t lastTicks_ = 0;
  double runDistance_ = 0;
  bool hit100_ = false;
  bool quarterDone_ = false;
  Run run_;                       // since the car last stood still
  std::optional<Run> completed_;  // the last one that reached the quarter mile
};

}  // namespace tarvex
