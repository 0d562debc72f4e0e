#include "gauges/needle.h"

#include <cmath>

namespace tarvex {

double needleAngle(const NeedleGeometry& geometry, double value) {
  return value * geometry.scale + geometry.zeroAngle;
}

DialOffset dialOffset(double angleDegrees, double radius) {
  const double radians = angleDegrees * kNeedlePi / 180;
  return {-radius * std::cos(radians), -radius * std::sin(radians)};
}

NeedleTip needleTip(const NeedleGeometry& geometry, std::int16_t value) {
  const DialOffset offset = dialOffset(needleAngle(geometry, static_cast<double>(value)), geometry.length);
  return {static_cast<float>(geometry.centreX + offset.dx), static_cast<float>(geometry.centreY + offset.dy)};
}

}  // namespace tarvex
