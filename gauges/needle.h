#pragma once

#include <cstdint>

namespace tarvex {

// How one needle turns a value into a tip position. Angles are in degrees:
// 0 points left (nine o'clock), 90 straight up, and a rising angle turns the
// needle clockwise on the screen. Positions are in twips of the gauge window.
struct NeedleGeometry {
  double scale;      // degrees per unit of the value
  double zeroAngle;  // degrees at value 0
  double length;     // twips from the centre to the tip
  double centreX;
  double centreY;
};

// The speedometer is driven in km/h, the tachometer in rpm.
inline constexpr NeedleGeometry kSpeedoGeometry{1.355, -30.4, 1010, 1590, 1640};
inline constexpr NeedleGeometry kTachGeometry{0.034678, -31.37, 720, 4200, 1560};

// Pi to eight decimals: the needle positions are defined with this value, not
// with full precision, and the dial marks follow the same formula.
inline constexpr double kNeedlePi = 3.14159265;

struct NeedleTip {
  float x;
  float y;
  constexpr bool operator==(const NeedleTip&) const = default;
};

// Angle in degrees for a value; not limited, so values beyond the scale turn
// on past its ends.
double needleAngle(const NeedleGeometry& geometry, double value);

// Offset of a point at `radius` along the direction of `angleDegrees`, as
// seen on the screen (y grows downwards).
struct DialOffset {
  double dx;
  double dy;
};
DialOffset dialOffset(double angleDegrees, double radius);

// The tip for a value: computed in double precision, each coordinate then
// rounded to single precision.
NeedleTip needleTip(const NeedleGeometry& geometry, std::int16_t value);

}  // namespace tarvex
