#pragma once

#include "gauges/needle.h"

namespace tarvex {

// Where a dial picture sits and how its printed scale lines up with its
// needle, in pixels of the picture. The marks are placed with the needle's
// own formula, so a needle pointing at a value always covers its mark.
struct DialFace {
  int width, height;  // pixels
  NeedleGeometry needle;
  double markInner, markOuter;  // radii of the main scale's marks, pixels
  int pictureLeft, pictureTop;  // twips: where the window shows the picture

  // The needle's centre in picture pixels.
  double centreX() const;
  double centreY() const;
  // A point at `radius` pixels from the centre in the direction of `value`.
  double pointX(double value, double radius) const;
  double pointY(double value, double radius) const;
};

inline constexpr double kKmPerMile = 1.609344;

// The two faces, for pictures shown with their top left corner at the given
// place of the gauge window (twips).
DialFace speedoFace(int pictureLeft, int pictureTop);
DialFace tachFace(int pictureLeft, int pictureTop);

}  // namespace tarvex
