#include "engine/formats/profile_writers.h"

#include <cmath>
#include <vector>

#include "engine/base/text.h"

namespace vokip {

namespace {

// What the bins are binned in: for d, the bins are even in q.
std::string bin_unit(Unit unit) {
  return unit == Unit::d_angstrom ? "q_A^-1 (written against d_A)" : unit_name(unit);
}

std::string header_comments(const Profile& p, const Geometry& g, const ProfileOrigin& o) {
  const PixelTally& t = p.pixels;
  std::string s;
  s += "# " + o.program + ": 1-D profile of " + o.input_name + "\n";
  s += "# geometry: " + describe(g) + "\n";
  if (!o.geometry_sources.empty()) s += "# geometry from: " + o.geometry_sources + "\n";
  std::size_t with_pixels = 0;
  for (const double n : p.count) with_pixels += n > 0;
  s += printf_string(
      "# bins: %zu of width %g in %s, %zu with pixels written below (bins without pixels are "
      "left out; the .csv keeps every bin), statistic: %s, error model: %s",
      p.centre.size(), p.bin_width, bin_unit(p.unit).c_str(), with_pixels,
      statistic_name(p.statistic), error_model_name(p.error_model));
  s += p.split == Split::none ? "\n" : std::string(", pixels split: ") + split_name(p.split) + "\n";
  s += "# corrections: " + (o.corrections.empty() ? std::string("none") : o.corrections) + "\n";
  s += printf_string(
      "# pixels: %lld of %lld used; left out: %lld zero, %lld masked, %lld outside the sector, "
      "%lld outside the bins",
      static_cast<long long>(t.used), static_cast<long long>(t.total),
      static_cast<long long>(t.zero), static_cast<long long>(t.masked),
      static_cast<long long>(t.off_sector), static_cast<long long>(t.off_range));
  if (t.outside_limits > 0) {
    s += printf_string(", %lld outside the limits", static_cast<long long>(t.outside_limits));
  }
  s += "\n";
  return s;
}

bool has_sigma(const Profile& p) {
  return !p.sigma.empty();
}

}  // namespace

std::string format_xy(const Profile& p, const Geometry& g, const ProfileOrigin& o) {
  std::string s = header_comments(p, g, o);
  if (!o.settings.empty()) s += kSettingsLine + o.settings + "\n";
  s += std::string("# columns: ") + unit_name(p.unit) + " " + statistic_name(p.statistic) +
       "_intensity" + (has_sigma(p) ? " sigma" : "") + "\n";
  for (std::size_t i = 0; i < p.centre.size(); ++i) {
    if (p.count[i] == 0) continue;
    s += printf_string("%.6f %.8g", axis_value(p.unit, p.centre[i]), p.value[i]);
    if (has_sigma(p)) s += printf_string(" %.8g", p.sigma[i]);
    s += "\n";
  }
  return s;
}

std::string format_xye(const Profile& p) {
  std::string s;
  for (std::size_t i = 0; i < p.centre.size(); ++i) {
    if (p.count[i] == 0) continue;
    s += printf_string("%.6f %.8g %.8g\n", axis_value(p.unit, p.centre[i]), p.value[i], p.sigma[i]);
  }
  return s;
}

std::string format_chi(const Profile& p, const Geometry& g, const ProfileOrigin& o) {
  std::size_t points = 0;
  for (double c : p.count) points += c > 0;
  // FIT2D's axis lines: 2-theta, or Q in 1/A with the wavelength after the
  // word Q, as GSAS-II reads it; the radius has no angle and stays in mm.
  const bool in_q =
      p.unit == Unit::q_inv_angstrom || p.unit == Unit::q_inv_nm || p.unit == Unit::d_angstrom;
  const double to_inverse_angstrom = p.unit == Unit::q_inv_nm ? 0.1 : 1.0;
  std::string s = o.input_name + ": " + statistic_name(p.statistic) + " profile, " + o.program +
                  (in_q ? ", Q in 1/A" : "") + "\n";
  if (in_q) {
    s += printf_string("Q %.6f\n", *g.wavelength_angstrom);
  } else if (p.unit == Unit::r_mm) {
    s += "Radial distance (mm)\n";
  } else {
    s += "2-Theta Angle (Degrees)\n";
  }
  s += "Intensity\n";
  s += printf_string("%11zu\n", points);
  for (std::size_t i = 0; i < p.centre.size(); ++i) {
    if (p.count[i] == 0) continue;
    const double x = in_q ? p.centre[i] * to_inverse_angstrom : p.centre[i];
    s += printf_string("%14.6E%14.6E", x, p.value[i]);
    if (has_sigma(p)) s += printf_string("%14.6E", p.sigma[i]);
    s += "\n";
  }
  return s;
}

std::string format_csv(const Profile& p, const Geometry& g) {
  const bool median = p.statistic == Statistic::median;
  const bool angles = follows_two_theta(p.unit);
  const std::optional<double> wavelength = g.wavelength_angstrom;
  std::string s = angles ? "bin,two_theta_deg" : "bin,r_mm";
  if (angles && wavelength) s += ",q_inv_angstrom,d_angstrom";
  s += p.split == Split::none ? ",count" : ",pixel_shares";
  s += median ? ",median,variance_about_median,mean_absolute_deviation"
              : ",mean,variance,dispersion,standard_error";
  s += has_sigma(p) ? ",sigma\n" : "\n";
  for (std::size_t i = 0; i < p.centre.size(); ++i) {
    if (angles) {
      const double two_theta = two_theta_of_key(p.unit, p.centre[i], wavelength);
      s += printf_string("%zu,%.8g", i, two_theta);
      if (wavelength) {
        s += printf_string(",%.8g,%.8g", q_of_two_theta(two_theta, *wavelength),
                           d_of_two_theta(two_theta, *wavelength));
      }
    } else {
      s += printf_string("%zu,%.8g", i, p.centre[i]);
    }
    s += printf_string(",%.10g", p.count[i]);
    if (p.count[i] == 0) {
      s += median ? ",,," : ",,,,";
      if (has_sigma(p)) s += ",";
    } else {
      s += printf_string(",%.10g,%.10g,%.10g", p.value[i], p.variance[i], p.spread[i]);
      if (!median) s += printf_string(",%.10g", p.standard_error[i]);
      if (has_sigma(p)) s += printf_string(",%.10g", p.sigma[i]);
    }
    s += "\n";
  }
  return s;
}

}  // namespace vokip
