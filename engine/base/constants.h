// The engine's mathematical constants.
#pragma once

namespace vokip {

constexpr double kPi = 3.141592653589793238462643383279502884;
// Radians per degree.
constexpr double kDegree = kPi / 180;
// Degrees per radian.
constexpr double kDegreesPerRadian = 180 / kPi;

}  // namespace vokip
