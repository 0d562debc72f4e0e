#pragma once

namespace tarvex {

// Road distances: the drag strip times the quarter mile with these, and the
// simulated car's own figures are worked out with the same ones.
inline constexpr double kMilesPerKm = 0.62137;
// A quarter mile in kilometres at that rate (0.25 / 0.62137), to 15 digits.
inline constexpr double kQuarterMileKm = 0.402336771971611;

}  // namespace tarvex
