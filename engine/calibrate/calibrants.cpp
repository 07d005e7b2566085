#include "engine/calibrate/calibrants.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <filesystem>
#include <functional>
#include <optional>
#include <sstream>

#include "engine/base/error.h"
#include "engine/base/text.h"
#include "engine/formats/files.h"
#include "engine/geometry/units.h"

namespace vokip {

namespace {

using ReflectionCondition = std::function<bool(int h, int k, int l)>;

bool all_even(int h, int k, int l) {
  return h % 2 == 0 && k % 2 == 0 && l % 2 == 0;
}
bool all_odd(int h, int k, int l) {
  return h % 2 == 1 && k % 2 == 1 && l % 2 == 1;
}

// The distinct d-spacings a / sqrt(h^2 + k^2 + l^2) of a cubic lattice down
// to d_min, for the reflections its condition allows; reflections sharing
// h^2 + k^2 + l^2 make one ring.
std::vector<double> cubic_d_spacings(double a, const ReflectionCondition& allowed, double d_min) {
  const int largest_sum = static_cast<int>(std::floor((a / d_min) * (a / d_min)));
  const int largest_index = static_cast<int>(std::floor(std::sqrt(double(largest_sum))));
  std::vector<bool> present(static_cast<std::size_t>(largest_sum) + 1, false);
  for (int h = 1; h <= largest_index; ++h) {
    for (int k = 0; k <= h; ++k) {
      for (int l = 0; l <= k; ++l) {
        const int sum = h * h + k * k + l * l;
        if (sum <= largest_sum && allowed(h, k, l)) present[sum] = true;
      }
    }
  }
  std::vector<double> d;
  for (int sum = 1; sum <= largest_sum; ++sum) {
    if (present[sum]) d.push_back(a / std::sqrt(double(sum)));
  }
  return d;
}

// Orders n = 1, 2, ... of a lamellar spacing.
std::vector<double> lamellar_d_spacings(double d001, double d_min) {
  std::vector<double> d;
  for (int n = 1; d001 / n >= d_min; ++n) d.push_back(d001 / n);
  return d;
}

struct Builtin {
  const char* name;
  std::function<std::vector<double>(double d_min)> d_spacings;
};

// Lattice constants certified for the NIST standard reference materials
// (LaB6 SRM 660c, CeO2 SRM 674b, Si SRM 640e) and silver behenate's long
// spacing.
const std::vector<Builtin>& builtins() {
  static const std::vector<Builtin> list = {
      {"LaB6",
       [](double d_min) {
         // Primitive cubic: every reflection.
         return cubic_d_spacings(
             4.156826, [](int, int, int) { return true; }, d_min);
       }},
      {"CeO2",
       [](double d_min) {
         // Face-centred cubic: h, k, l unmixed.
         return cubic_d_spacings(
             5.411651, [](int h, int k, int l) { return all_even(h, k, l) || all_odd(h, k, l); },
             d_min);
       }},
      {"Si",
       [](double d_min) {
         // Diamond: all odd, or all even with h + k + l a multiple of 4.
         return cubic_d_spacings(
             5.431179,
             [](int h, int k, int l) {
               return all_odd(h, k, l) || (all_even(h, k, l) && (h + k + l) % 4 == 0);
             },
             d_min);
       }},
      {"AgBh", [](double d_min) { return lamellar_d_spacings(58.380, d_min); }},
  };
  return list;
}

std::string lower_case(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

}  // namespace

std::vector<std::string> builtin_calibrant_names() {
  std::vector<std::string> names;
  for (const Builtin& b : builtins()) names.push_back(b.name);
  return names;
}

Calibrant builtin_calibrant(const std::string& name, double d_min_angstrom) {
  for (const Builtin& b : builtins()) {
    if (lower_case(name) == lower_case(b.name)) return {b.name, b.d_spacings(d_min_angstrom)};
  }
  std::string known;
  for (const std::string& n : builtin_calibrant_names()) known += (known.empty() ? "" : ", ") + n;
  throw Error("unknown calibrant '" + name + "'; built in: " + known, Setting::calibrant);
}

Calibrant parse_calibrant(const std::string& name, const std::string& text) {
  Calibrant c;
  c.name = name;
  std::istringstream lines(text);
  int line_number = 0;
  for (std::string line; std::getline(lines, line);) {
    ++line_number;
    line = line.substr(0, line.find('#'));
    std::istringstream words(line);
    std::string first;
    if (!(words >> first)) continue;
    const std::optional<double> d = number_in(first);
    if (!d || !(*d > 0)) {
      throw Error("line " + std::to_string(line_number) + " of the calibrant list: '" + first +
                  "' is not a d-spacing (a positive number of angstrom)");
    }
    c.d_spacings_angstrom.push_back(*d);
  }
  if (c.d_spacings_angstrom.empty()) throw Error("the calibrant list holds no d-spacing");
  std::vector<double>& d = c.d_spacings_angstrom;
  std::sort(d.begin(), d.end(), std::greater<double>());
  d.erase(std::unique(d.begin(), d.end()), d.end());
  return c;
}

Calibrant read_calibrant(const std::string& path) {
  const std::vector<std::uint8_t> bytes = read_file(path);
  return parse_calibrant(std::filesystem::path(path).stem().string(),
                         std::string(bytes.begin(), bytes.end()));
}

}  // namespace vokip
