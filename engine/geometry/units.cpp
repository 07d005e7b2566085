#include "engine/geometry/units.h"

#include <cmath>
#include <limits>

#include "engine/base/constants.h"

namespace vokip {

std::optional<Unit> unit_named(const std::string& name) {
  if (name == "2th_deg" || name == "2theta") return Unit::two_theta_deg;
  if (name == "q_nm^-1") return Unit::q_inv_nm;
  if (name == "q_A^-1" || name == "q") return Unit::q_inv_angstrom;
  if (name == "r_mm") return Unit::r_mm;
  if (name == "d_A") return Unit::d_angstrom;
  return std::nullopt;
}

const char* unit_names() {
  return "2th_deg, q_nm^-1, q_A^-1, r_mm or d_A";
}

const char* unit_name(Unit unit) {
  switch (unit) {
    case Unit::q_inv_nm:
      return "q_nm^-1";
    case Unit::q_inv_angstrom:
      return "q_A^-1";
    case Unit::r_mm:
      return "r_mm";
    case Unit::d_angstrom:
      return "d_A";
    case Unit::two_theta_deg:
      break;
  }
  return "2th_deg";
}

const char* unit_label(Unit unit) {
  switch (unit) {
    case Unit::q_inv_nm:
      return "q (1/nm)";
    case Unit::q_inv_angstrom:
      return "q (1/A)";
    case Unit::r_mm:
      return "r (mm)";
    case Unit::d_angstrom:
      return "d (A)";
    case Unit::two_theta_deg:
      break;
  }
  return "2-theta (degrees)";
}

bool needs_wavelength(Unit unit) {
  return unit == Unit::q_inv_nm || unit == Unit::q_inv_angstrom || unit == Unit::d_angstrom;
}

bool follows_two_theta(Unit unit) {
  return unit != Unit::r_mm;
}

double key_of_two_theta(Unit unit, double two_theta_deg,
                        std::optional<double> wavelength_angstrom) {
  switch (unit) {
    case Unit::q_inv_angstrom:
    case Unit::d_angstrom:
      return q_of_two_theta(two_theta_deg, *wavelength_angstrom);
    case Unit::q_inv_nm:
      return q_of_two_theta(two_theta_deg, *wavelength_angstrom) * 10;
    case Unit::two_theta_deg:
    case Unit::r_mm:
      break;
  }
  return two_theta_deg;
}

double axis_value(Unit unit, double key) {
  return unit == Unit::d_angstrom ? 2 * kPi / key : key;
}

double two_theta_of_key(Unit unit, double key, std::optional<double> wavelength_angstrom) {
  switch (unit) {
    case Unit::q_inv_angstrom:
    case Unit::d_angstrom:
      return two_theta_of_q(key, *wavelength_angstrom);
    case Unit::q_inv_nm:
      return two_theta_of_q(key / 10, *wavelength_angstrom);
    case Unit::two_theta_deg:
    case Unit::r_mm:
      break;
  }
  return key;
}

double q_of_two_theta(double two_theta_deg, double wavelength_angstrom) {
  return 4 * kPi * std::sin(two_theta_deg * kPi / 360) / wavelength_angstrom;
}

double two_theta_of_q(double q_inverse_angstrom, double wavelength_angstrom) {
  return 2 * std::asin(q_inverse_angstrom * wavelength_angstrom / (4 * kPi)) * 180 / kPi;
}

double d_of_two_theta(double two_theta_deg, double wavelength_angstrom) {
  return wavelength_angstrom / (2 * std::sin(two_theta_deg * kPi / 360));
}

double two_theta_of_d(double d_angstrom, double wavelength_angstrom) {
  const double sin_theta = wavelength_angstrom / (2 * d_angstrom);
  if (!(sin_theta < 1)) return std::numeric_limits<double>::quiet_NaN();
  return 2 * std::asin(sin_theta) * kDegreesPerRadian;
}

}  // namespace vokip
