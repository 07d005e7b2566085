#include "engine/formats/profile_writers.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <sstream>
#include <vector>

namespace vokip {

namespace {

std::string printf_string(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string printf_string(const char* fmt, ...) {
  char text[512];
  va_list args;
  va_start(args, fmt);
  std::vsnprintf(text, sizeof text, fmt, args);
  va_end(args);
  return text;
}

const char* axis_name(Unit unit) {
  return unit == Unit::q_inv_angstrom ? "q_inv_angstrom" : "2theta_deg";
}
const char* statistic_name(Statistic s) {
  return s == Statistic::median ? "median" : "mean";
}

double two_theta_of(double x, const Profile& p, const Geometry& g) {
  if (p.unit == Unit::two_theta_deg) return x;
  const double pi = 2 * std::asin(1.0);
  return 2 * std::asin(x * *g.wavelength_angstrom / (4 * pi)) * 180 / pi;
}

std::string header_comments(const Profile& p, const Geometry& g, const ProfileOrigin& o) {
  const PixelTally& t = p.pixels;
  std::string s;
  s += "# " + o.program + ": 1-D profile of " + o.input_name + "\n";
  s += "# geometry: " + describe(g) + "\n";
  s += printf_string("# bins: %zu of width %g %s, statistic: %s\n", p.centre.size(), p.bin_width,
                     p.unit == Unit::q_inv_angstrom ? "1/A in q" : "deg in 2-theta",
                     statistic_name(p.statistic));
  s += printf_string(
      "# pixels: %lld of %lld used; left out: %lld zero, %lld masked, %lld outside the sector, "
      "%lld outside the bins\n",
      static_cast<long long>(t.used), static_cast<long long>(t.total),
      static_cast<long long>(t.zero), static_cast<long long>(t.masked),
      static_cast<long long>(t.off_sector), static_cast<long long>(t.off_range));
  return s;
}

std::string xml_escaped(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

// Round tick positions covering [low, high].
std::vector<double> ticks(double low, double high) {
  const double span = high - low;
  if (!(span > 0) || !std::isfinite(span)) return {low};
  const double rough = span / 6;
  const double magnitude = std::pow(10.0, std::floor(std::log10(rough)));
  double step = magnitude;
  for (double factor : {1.0, 2.0, 5.0, 10.0}) {
    step = factor * magnitude;
    if (step >= rough) break;
  }
  std::vector<double> out;
  for (double t = std::ceil(low / step) * step; t <= high + step * 1e-9; t += step) {
    out.push_back(std::fabs(t) < step * 1e-9 ? 0.0 : t);
  }
  return out;
}

}  // namespace

std::string format_xy(const Profile& p, const Geometry& g, const ProfileOrigin& o) {
  std::string s = header_comments(p, g, o);
  s += std::string("# columns: ") + axis_name(p.unit) + " " + statistic_name(p.statistic) +
       "_intensity\n";
  for (std::size_t i = 0; i < p.centre.size(); ++i) {
    if (p.count[i] == 0) continue;
    s += printf_string("%.6f %.8g\n", p.centre[i], p.value[i]);
  }
  return s;
}

std::string format_chi(const Profile& p, const Geometry&, const ProfileOrigin& o) {
  std::size_t points = 0;
  for (std::int64_t c : p.count) points += c > 0;
  std::string s =
      o.input_name + ": " + statistic_name(p.statistic) + " profile, " + o.program + "\n";
  s += p.unit == Unit::q_inv_angstrom ? "Q (Inverse Angstroms)\n" : "2-Theta Angle (Degrees)\n";
  s += "Intensity\n";
  s += printf_string("%11zu\n", points);
  for (std::size_t i = 0; i < p.centre.size(); ++i) {
    if (p.count[i] == 0) continue;
    s += printf_string("%14.6E%14.6E\n", p.centre[i], p.value[i]);
  }
  return s;
}

std::string format_csv(const Profile& p, const Geometry& g) {
  const bool median = p.statistic == Statistic::median;
  const std::optional<double> wavelength = g.wavelength_angstrom;
  std::string s = "bin,two_theta_deg";
  if (wavelength) s += ",q_inv_angstrom,d_angstrom";
  s += median ? ",count,median,variance_about_median,mean_absolute_deviation\n"
              : ",count,mean,variance,dispersion,standard_error\n";
  const double pi = 2 * std::asin(1.0);
  for (std::size_t i = 0; i < p.centre.size(); ++i) {
    const double two_theta = two_theta_of(p.centre[i], p, g);
    s += printf_string("%zu,%.8g", i, two_theta);
    if (wavelength) {
      const double sin_theta = std::sin(two_theta * pi / 360);
      s += printf_string(",%.8g,%.8g", 4 * pi * sin_theta / *wavelength,
                         *wavelength / (2 * sin_theta));
    }
    s += printf_string(",%lld", static_cast<long long>(p.count[i]));
    if (p.count[i] == 0) {
      s += median ? ",,," : ",,,,";
    } else {
      s += printf_string(",%.10g,%.10g,%.10g", p.value[i], p.variance[i], p.spread[i]);
      if (!median) s += printf_string(",%.10g", std::sqrt(p.variance[i] / p.count[i]));
    }
    s += "\n";
  }
  return s;
}

std::string format_svg(const Profile& p, const Geometry& g, const ProfileOrigin& o) {
  const double width = 900, height = 540, left = 90, right = 30, top = 60, bottom = 70;
  const double plot_w = width - left - right, plot_h = height - top - bottom;
  double x_low = p.centre.front() - p.bin_width / 2, x_high = p.centre.back() + p.bin_width / 2;
  double y_low = 0, y_high = 0;
  for (std::size_t i = 0; i < p.centre.size(); ++i) {
    if (p.count[i] == 0 || !std::isfinite(p.value[i])) continue;
    y_low = std::min(y_low, p.value[i]);
    y_high = std::max(y_high, p.value[i]);
  }
  if (!(y_high > y_low)) y_high = y_low + 1;
  y_high += (y_high - y_low) * 0.05;
  auto sx = [&](double x) { return left + (x - x_low) / (x_high - x_low) * plot_w; };
  auto sy = [&](double y) { return top + plot_h - (y - y_low) / (y_high - y_low) * plot_h; };

  std::ostringstream s;
  s << printf_string(
      "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%.0f\" height=\"%.0f\" viewBox=\"0 0 "
      "%.0f %.0f\" font-family=\"sans-serif\" font-size=\"13\">\n",
      width, height, width, height);
  s << "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
  s << printf_string("<text x=\"%.0f\" y=\"24\" font-size=\"16\">", left)
    << xml_escaped(o.input_name) << " — " << statistic_name(p.statistic) << " profile</text>\n";
  s << printf_string("<text x=\"%.0f\" y=\"44\" font-size=\"11\" fill=\"#555\">", left)
    << xml_escaped(describe(g)) << "</text>\n";
  s << printf_string(
      "<rect x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"%.1f\" fill=\"none\" "
      "stroke=\"black\"/>\n",
      left, top, plot_w, plot_h);
  for (double t : ticks(x_low, x_high)) {
    const double x = sx(t);
    s << printf_string(
        "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"black\"/>"
        "<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"middle\">%g</text>\n",
        x, top + plot_h, x, top + plot_h + 6, x, top + plot_h + 22, t);
  }
  for (double t : ticks(y_low, y_high)) {
    const double y = sy(t);
    s << printf_string(
        "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"black\"/>"
        "<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"end\">%g</text>\n",
        left - 6, y, left, y, left - 10, y + 4, t);
  }
  s << printf_string("<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"middle\">%s</text>\n",
                     left + plot_w / 2, height - 20,
                     p.unit == Unit::q_inv_angstrom ? "q (1/Å)" : "2θ (degrees)");
  s << printf_string(
      "<text transform=\"translate(22 %.1f) rotate(-90)\" text-anchor=\"middle\">%s "
      "intensity</text>\n",
      top + plot_h / 2, p.statistic == Statistic::median ? "Median" : "Mean");
  // One line per run of bins with pixels: an empty bin breaks the line.
  std::string points;
  auto flush = [&] {
    if (!points.empty()) {
      s << "<polyline fill=\"none\" stroke=\"#1f5fbf\" stroke-width=\"1.2\" points=\"" << points
        << "\"/>\n";
    }
    points.clear();
  };
  for (std::size_t i = 0; i < p.centre.size(); ++i) {
    if (p.count[i] == 0 || !std::isfinite(p.value[i])) {
      flush();
      continue;
    }
    points += printf_string("%.2f,%.2f ", sx(p.centre[i]), sy(p.value[i]));
  }
  flush();
  s << "</svg>\n";
  return s.str();
}

}  // namespace vokip
