// The radial units a profile can be binned in (pyFAI's names), a pixel's
// position on each, and the conversions between 2-theta, q and d.
#pragma once

#include <optional>
#include <string>

namespace vokip {

enum class Unit {
  two_theta_deg,   // 2th_deg: scattering angle, degrees
  q_inv_nm,        // q_nm^-1: 4 pi sin(theta) / wavelength
  q_inv_angstrom,  // q_A^-1
  r_mm,            // r_mm: the pixel's distance from the beam, mm
  d_angstrom,      // d_A: lattice spacing 2 pi / q; binned uniformly in q (1/A)
};

// The unit of a name: 2th_deg, q_nm^-1, q_A^-1, r_mm, d_A, or the older
// names 2theta and q (q_A^-1). Nothing for another name.
std::optional<Unit> unit_named(const std::string& name);
// The unit's name, as above.
const char* unit_name(Unit unit);
// The names unit_named takes first, for messages: "2th_deg, q_nm^-1, ...".
const char* unit_names();
// The axis's description, e.g. "q (1/A)".
const char* unit_label(Unit unit);

// Whether values in the unit need the wavelength.
bool needs_wavelength(Unit unit);
// Whether the unit's position grows with 2-theta (all but r_mm, which
// depends on where on a tilted plate the pixel lies).
bool follows_two_theta(Unit unit);

// The key a pixel of polar angle two_theta_deg is binned by: the unit's
// value, except d_A, which is binned by q in 1/A.
double key_of_two_theta(Unit unit, double two_theta_deg, std::optional<double> wavelength_angstrom);

// A key's position on the unit's axis (for d_A: the spacing 2 pi / q).
double axis_value(Unit unit, double key);
// The polar angle in degrees at a key (not for r_mm).
double two_theta_of_key(Unit unit, double key, std::optional<double> wavelength_angstrom);

// Momentum transfer q = 4 pi sin(2theta / 2) / wavelength in 1/A, and back.
double q_of_two_theta(double two_theta_deg, double wavelength_angstrom);
double two_theta_of_q(double q_inverse_angstrom, double wavelength_angstrom);
// Lattice spacing d = wavelength / (2 sin(2theta / 2)) in A, and back: NaN
// for a spacing beyond the wavelength's reach.
double d_of_two_theta(double two_theta_deg, double wavelength_angstrom);
double two_theta_of_d(double d_angstrom, double wavelength_angstrom);

}  // namespace vokip
