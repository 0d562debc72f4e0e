#include "gauges/dial_face.h"

#include "app/layouts.h"

namespace tarvex {

static double pictureLeft(const DialFace& face) {
  return gaugesLayout().control(face.picture)->left;
}
static double pictureTop(const DialFace& face) {
  return gaugesLayout().control(face.picture)->top;
}

double DialFace::centreX() const {
  return (needle.centreX - pictureLeft(*this)) / kTwipsPerPixel;
}
double DialFace::centreY() const {
  return (needle.centreY - pictureTop(*this)) / kTwipsPerPixel;
}

double DialFace::pointX(double value, double radius) const {
  return centreX() + dialOffset(needleAngle(needle, value), radius).dx;
}

double DialFace::pointY(double value, double radius) const {
  return centreY() + dialOffset(needleAngle(needle, value), radius).dy;
}

const DialFace& speedoFace() {
  static const DialFace face{"Image1", 196, 199, kSpeedoGeometry, 82, 93};
  return face;
}

const DialFace& tachFace() {
  static const DialFace face{"Image2", 150, 151, kTachGeometry, 54, 69};
  return face;
}

}  // namespace tarvex
