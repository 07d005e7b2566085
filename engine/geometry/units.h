// The radial units a profile can be binned in, and a polar angle's value in
// each.
#pragma once

#include <optional>

namespace vokip {

enum class Unit { two_theta_deg, q_inv_angstrom };

// Whether values in the unit need the wavelength.
bool needs_wavelength(Unit unit);

// The position of polar angle two_theta_deg on the unit's axis.
double radial_value(Unit unit, double two_theta_deg, std::optional<double> wavelength_angstrom);

}  // namespace vokip
