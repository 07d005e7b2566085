#include "engine/geometry/units.h"

#include "engine/geometry/geometry.h"

namespace vokip {

bool needs_wavelength(Unit unit) {
  return unit == Unit::q_inv_angstrom;
}

double radial_value(Unit unit, double two_theta_deg, std::optional<double> wavelength_angstrom) {
  switch (unit) {
    case Unit::q_inv_angstrom:
      return q_from_two_theta(two_theta_deg, *wavelength_angstrom);
    case Unit::two_theta_deg:
      break;
  }
  return two_theta_deg;
}

}  // namespace vokip
