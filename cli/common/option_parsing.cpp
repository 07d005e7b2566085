#include "cli/common/option_parsing.h"

#include <cstdio>

#include "engine/base/text.h"
#include "vokip_version.h"

namespace vokip {

OptionsOutcome parse_command_line(CLI::App& app, const std::vector<std::string>& args,
                                  std::string* error) {
  // CLI11 takes the arguments last first.
  std::vector<std::string> reversed(args.rbegin(), args.rend());
  try {
    app.parse(reversed);
  } catch (const CLI::CallForHelp&) {
    return OptionsOutcome::help;
  } catch (const CLI::ParseError& e) {
    *error = e.what();
    return OptionsOutcome::error;
  }
  return app.count("--version") > 0 ? OptionsOutcome::version : OptionsOutcome::run;
}

std::optional<int> answer_without_running(const char* program, OptionsOutcome outcome,
                                          const std::string& error, const std::string& help) {
  switch (outcome) {
    case OptionsOutcome::help:
      std::fputs(help.c_str(), stdout);
      return kExitOk;
    case OptionsOutcome::version:
      std::printf("%s %s\n", program, kVokipVersion);
      return kExitOk;
    case OptionsOutcome::error:
      std::fprintf(stderr, "%s: %s\n", program, error.c_str());
      return kExitUsage;
    case OptionsOutcome::run:
      break;
  }
  return std::nullopt;
}

bool parse_pair(const std::string& text, char separator, bool ends_optional,
                std::optional<double>* a, std::optional<double>* b) {
  const std::size_t at = text.find(separator);
  if (at == std::string::npos) return false;
  const std::string parts[2] = {text.substr(0, at), text.substr(at + 1)};
  std::optional<double>* into[2] = {a, b};
  for (int k = 0; k < 2; ++k) {
    if (parts[k].empty() && ends_optional) {
      into[k]->reset();
    } else if (const std::optional<double> v = number_in(parts[k])) {
      *into[k] = v;
    } else {
      return false;
    }
  }
  return true;
}

CLI::Option* add_parsed(CLI::App& app, const std::string& names, const std::string& expects,
                        const std::string& help, std::function<bool(const std::string&)> parse) {
  const std::string name = names.substr(names.rfind(',') + 1);
  return app
      .add_option_function<std::string>(
          names,
          [name, expects, parse](const std::string& v) {
            bool parsed = false;
            try {
              parsed = parse(v);
            } catch (const Error& e) {
              throw CLI::ValidationError(name, e.what());
            }
            if (!parsed) throw CLI::ValidationError(name, "needs " + expects + ", not '" + v + "'");
          },
          help)
      ->type_name(expects.substr(0, expects.find(' ')));
}

CLI::Option* add_number(CLI::App& app, const std::string& names, const std::string& expects,
                        const std::string& help, std::optional<double>* into) {
  return add_parsed(app, names, expects, help, [into](const std::string& v) {
    *into = number_in(v);
    return into->has_value();
  });
}

CLI::Option* add_whole(CLI::App& app, const std::string& names, const std::string& expects,
                       const std::string& help, std::function<void(long)> into) {
  return add_parsed(app, names, expects, help, [into](const std::string& v) {
    const std::optional<long> n = whole_number_in(v);
    if (n) into(*n);
    return n.has_value();
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
               g->pixel_x_um = g->pixel_y_um = number_in(v);
               return g->pixel_x_um.has_value();
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

std::string with_option(const Error& error) {
  // The options that set what a message names.
  static const std::pair<Setting, const char*> kOptions[] = {
      {Setting::geometry, "--poni FILE, or --distance, --center and --pixel-size"},
      {Setting::distance, "--distance MM"},
      {Setting::center, "--center X,Y"},
      {Setting::pixel_size, "--pixel-size UM"},
      {Setting::tilt, "--tilt DEG, --tilt-direction DEG"},
      {Setting::wavelength, "--wavelength A"},
      {Setting::bins, "--bins N"},
      {Setting::bin_width, "--bin-width W"},
      {Setting::range, "--range LOW:HIGH"},
      {Setting::unit, "--unit UNIT"},
      {Setting::error_model, "--error-model MODEL"},
      {Setting::limits, "--low V, --high V"},
      {Setting::azimuth, "--azimuth FROM:TO"},
      {Setting::cake, "--cake N"},
      {Setting::cake_bins, "--cake-bins M"},
      {Setting::split, "--split none|bbox|full"},
      {Setting::polarization, "--polarization P"},
      {Setting::plate_absorption, "--plate-absorption MU_T"},
      {Setting::calibrant, "--calibrant NAME or --calibrant-file FILE"},
  };
  for (const auto& [setting, option] : kOptions) {
    if (setting == error.setting()) return std::string(error.what()) + " [" + option + "]";
  }
  return error.what();
}

}  // namespace vokip
