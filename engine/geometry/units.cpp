#include "engine/geometry/units.h"

#include <cmath>

#include "engine/geometry/geometry.h"

namespace vokip {

namespace {

const double kPi = 2 * std::asin(1.0);

}  // namespace

std::optional<Unit> unit_named(const std::string& name) {
  if (name == "2th_deg" || name == "2theta") return Unit::two_theta_deg;
  if (name == "q_nm^-1") return Unit::q_inv_nm;
  if (name == "q_A^-1" || name == "q") return Unit::q_inv_angstrom;
  if (name == "r_mm") return Unit::r_mm;
  if (name == "d_A") return Unit::d_angstrom;
  return std::nullopt;
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
      return q_from_two_theta(two_theta_deg, *wavelength_angstrom);
    case Unit::q_inv_nm:
      return q_from_two_theta(two_theta_deg, *wavelength_angstrom) * 10;
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
      return 2 * std::asin(key * *wavelength_angstrom / (4 * kPi)) * 180 / kPi;
    case Unit::q_inv_nm:
      return 2 * std::asin(key / 10 * *wavelength_angstrom / (4 * kPi)) * 180 / kPi;
    case Unit::two_theta_deg:
    case Unit::r_mm:
      break;
  }
  return key;
}

}  // namespace vokip
