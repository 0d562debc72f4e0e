#include "drag/drag_run.h"

#include <cmath>

#include "core/number_text.h"
#include "core/units.h"

namespace tarvex {

namespace {
constexpr std::array<const char*, kDragBoxCount> kBoxNames = {
    "Speed", "ET", "LastET", "Distance", "QET", "TrapSpeed", "Weight", "ETHP", "TSHP"};
}

QString dragBoxName(DragBox box) {
  return QString::fromLatin1(kBoxNames[std::size_t(box)]);
}

DragRun::DragRun(DragBoxes& boxes, Clock& clock, QLocale locale)
    : boxes_(boxes), clock_(clock), locale_(std::move(locale)) {}

std::optional<double> DragRun::read(DragBox box) const {
  return readNumber(boxes_.text(box), locale_);
}

// Tick counts wrap at 2^32 and pass the sign boundary at 2^31; the difference
// in unsigned arithmetic is the elapsed time either way.
QString DragRun::seconds(std::uint32_t from, std::uint32_t to) const {
  return decimalText(double(to - from) / kMillisPerSecond, locale_);
}

void DragRun::Display(const QString& out) {
  addSample(static_cast<std::int16_t>(HexToDec(out)), clock_.tickCount());
}

void DragRun::addSample(std::int16_t speed, std::uint32_t ticks) {
  const std::optional<double> previous = read(DragBox::kSpeed);

  if (previous && *previous == 0) {
    if (quarterDone_) completed_ = std::move(run_);
    runDistance_ = 0;
    startTicks_ = ticks;
    lastTicks_ = ticks;
    hit100_ = false;
    quarterDone_ = false;
    run_ = Run{};
    run_.speed.setOrigin(Micros{0});
  }
  const Micros sinceStart = Millis{std::int64_t(std::uint32_t(ticks - startTicks_))};
  run_.speed.add(
      run_.speed.channel(QStringLiteral("Speed"), QStringLiteral("Vehicle speed"), QStringLiteral("km/h")),
      sinceStart, speed);

  if (speed >= 1 && speed < kHundred && !hit100_) {
    boxes_.setText(DragBox::kET, seconds(startTicks_, ticks));
  }
  if (speed >= kHundred && !hit100_) {
    hit100_ = true;
    run_.hundredAt = sinceStart;
    boxes_.setText(DragBox::kLastET, boxes_.text(DragBox::kET));
    boxes_.setText(DragBox::kET, seconds(startTicks_, ticks));
  }

  if (runDistance_ < kQuarterMileKm && !quarterDone_) {
    // Without a previous speed (the box was edited into something else) the
    // step cannot be integrated; it is left out rather than guessed.
    if (previous) {
      runDistance_ += (*previous + speed) * (double(ticks - lastTicks_) / kMillisPerHour * 0.5);
    }
    lastTicks_ = ticks;
  }

  if (runDistance_ > kQuarterMileKm && !quarterDone_) {
    quarterDone_ = true;
    run_.quarterAt = sinceStart;
    boxes_.setText(DragBox::kTrapSpeed, wholeText(speed));
    boxes_.setText(DragBox::kQET, seconds(startTicks_, ticks));
    estimatePower(double(ticks - startTicks_) / kMillisPerSecond, speed);
  }

  boxes_.setText(DragBox::kSpeed, wholeText(speed));
  boxes_.setText(DragBox::kDistance, decimalText(runDistance_, locale_));
}

void DragRun::estimatePower(double quarterTime, double trapSpeed) {
  // A weight that is not a number, or not above zero, gives no estimate rather
  // than a wrong one.
  std::optional<double> weight = read(DragBox::kWeight);
  if (weight && *weight <= 0) weight.reset();
  auto show = [&](DragBox box, std::optional<double> value) {
    boxes_.setText(box, value && std::isfinite(*value) ? decimalText(*value, locale_) : QString());
  };
  show(DragBox::kETHP, weight && quarterTime > 0
                           ? std::optional(*weight / std::pow(quarterTime / kEtDivisor, 3))
                           : std::nullopt);
  show(DragBox::kTSHP,
       weight ? std::optional(*weight * std::pow(trapSpeed * kMilesPerKm / kTrapDivisor, 3)) : std::nullopt);
}

}  // namespace tarvex
