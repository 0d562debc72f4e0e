#include "gauges/dial_face.h"

#include "ui/layouts.h"

namespace tarvex {

double DialFace::centreX() const {
  return (needle.centreX - pictureLeft) / kTwipsPerPixel;
}
double DialFace::centreY() const {
  return (needle.centreY - pictureTop) / kTwipsPerPixel;
}

double DialFace::pointX(double value, double radius) const {
  return centreX() + dialOffset(needleAngle(needle, value), radius).dx;
}

double DialFace::pointY(double value, double radius) const {
  return centreY() + dialOffset(needleAngle(needle, value), radius).dy;
}

DialFace speedoFace(int pictureLeft, int pictureTop) {
  return {196, 199, kSpeedoGeometry, 82, 93, pictureLeft, pictureTop};
}

DialFace tachFace(int pictureLeft, int pictureTop) {
  return {150, 151, kTachGeometry, 54, 69, pictureLeft, pictureTop};
}

}  // namespace tarvex
