#include "cli/common/option_parsing.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace vokip {

bool parse_number(const std::string& text, double* value) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  const double v = std::strtod(text.c_str(), &end);
  if (errno != 0 || *end != '\0' || !std::isfinite(v)) return false;
  *value = v;
  return true;
}

bool parse_whole(const std::string& text, long* value) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0') return false;
  *value = v;
  return true;
}

// "A,B" (or "A:B") into two numbers; an end may be left empty when allowed.
bool parse_pair(const std::string& text, char separator, bool ends_optional,
                std::optional<double>* a, std::optional<double>* b) {
  const std::size_t at = text.find(separator);
  if (at == std::string::npos) return false;
  const std::string parts[2] = {text.substr(0, at), text.substr(at + 1)};
  std::optional<double>* into[2] = {a, b};
  for (int k = 0; k < 2; ++k) {
    double v = 0;
    if (parts[k].empty() && ends_optional) {
      into[k]->reset();
    } else if (parse_number(parts[k], &v)) {
      *into[k] = v;
    } else {
      return false;
    }
  }
  return true;
}

// An option whose text is parsed by parse; a false return refuses it with
// what the option expects.
CLI::Option* add_parsed(CLI::App& app, const std::string& names, const std::string& expects,
                        const std::string& help, std::function<bool(const std::string&)> parse) {
  const std::string name = names.substr(names.rfind(',') + 1);
  return app
      .add_option_function<std::string>(
          names,
          [name, expects, parse](const std::string& v) {
            if (!parse(v)) {
              throw CLI::ValidationError(name, "needs " + expects + ", not '" + v + "'");
            }
          },
          help)
      ->type_name(expects.substr(0, expects.find(' ')));
}

CLI::Option* add_number(CLI::App& app, const std::string& names, const std::string& expects,
                        const std::string& help, std::optional<double>* into) {
  return add_parsed(app, names, expects, help, [into](const std::string& v) {
    double x = 0;
    if (!parse_number(v, &x)) return false;
    *into = x;
    return true;
  });
}

void add_geometry_options(CLI::App& app, GeometryOverrides* g, const std::string& group) {
  add_number(app, "--distance", "a distance in mm", "sample-to-plate distance in mm",
             &g->distance_mm)
      ->type_name("MM")
      ->group(group);
  add_parsed(app, "--center", "X,Y in pixels",
             "beam centre in pixels; pixel (column c, row r) has its centre at "
             "(c + 0.5, r + 0.5), columns along x",
             [g](const std::string& v) {
               return parse_pair(v, ',', false, &g->center_x_px, &g->center_y_px);
             })
      ->group(group);
  add_parsed(app, "--pixel-size", "UM or UM_X,UM_Y in micrometres",
             "pixel size in micrometres, or UM_X,UM_Y",
             [g](const std::string& v) {
               if (v.find(',') != std::string::npos) {
                 return parse_pair(v, ',', false, &g->pixel_x_um, &g->pixel_y_um);
               }
               double size = 0;
               if (!parse_number(v, &size)) return false;
               g->pixel_x_um = g->pixel_y_um = size;
               return true;
             })
      ->group(group);
  add_number(app, "--tilt", "an angle in degrees", "plate tilt in degrees (default 0)",
             &g->tilt_deg)
      ->type_name("DEG")
      ->group(group);
  add_number(app, "--tilt-direction", "an angle in degrees",
             "direction, from +x towards +y, in which the tilted plate moves away from the "
             "sample (default 0)",
             &g->tilt_direction_deg)
      ->type_name("DEG")
      ->group(group);
}

}  // namespace vokip
