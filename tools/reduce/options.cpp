#include "reduce/options.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <map>

namespace {

bool parse_number(const std::string& text, double* value) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  const double v = std::strtod(text.c_str(), &end);
  if (errno != 0 || *end != '\0' || !std::isfinite(v)) return false;
  *value = v;
  return true;
}

// "A,B" (or "A:B" when colon) into two numbers; an end may be left empty when allowed.
bool parse_pair(const std::string& text, char separator, bool ends_optional,
                std::optional<double>* a, std::optional<double>* b) {
  const std::size_t at = text.find(separator);
  if (at == std::string::npos) return false;
  const std::string first = text.substr(0, at), second = text.substr(at + 1);
  double v = 0;
  if (first.empty() && ends_optional) {
    a->reset();
  } else if (parse_number(first, &v)) {
    *a = v;
  } else {
    return false;
  }
  if (second.empty() && ends_optional) {
    b->reset();
  } else if (parse_number(second, &v)) {
    *b = v;
  } else {
    return false;
  }
  return true;
}

using Handler = std::function<bool(Options*, const std::string& value)>;

struct OptionRule {
  bool takes_value;
  Handler apply;
  const char* expects;  // for the error message
};

Handler number_into(std::optional<double> GeometryOverrides::*field) {
  return [field](Options* o, const std::string& v) {
    double x = 0;
    if (!parse_number(v, &x)) return false;
    o->request.geometry.*field = x;
    return true;
  };
}

const std::map<std::string, OptionRule>& option_table() {
  static const std::map<std::string, OptionRule> table = {
      {"output-dir",
       {true,
        [](Options* o, const std::string& v) {
          o->output_dir = v;
          return !v.empty();
        },
        "a folder"}},
      {"chi", {false, [](Options* o, const std::string&) { return o->write_chi = true; }, ""}},
      {"csv", {false, [](Options* o, const std::string&) { return o->write_csv = true; }, ""}},
      {"svg", {false, [](Options* o, const std::string&) { return o->write_svg = true; }, ""}},
      {"all",
       {false,
        [](Options* o, const std::string&) {
          return o->write_chi = o->write_csv = o->write_svg = true;
        },
        ""}},
      {"distance", {true, number_into(&GeometryOverrides::distance_mm), "a distance in mm"}},
      {"wavelength",
       {true, number_into(&GeometryOverrides::wavelength_angstrom), "a wavelength in angstrom"}},
      {"tilt", {true, number_into(&GeometryOverrides::tilt_deg), "an angle in degrees"}},
      {"tilt-direction",
       {true, number_into(&GeometryOverrides::tilt_direction_deg), "an angle in degrees"}},
      {"center",
       {true,
        [](Options* o, const std::string& v) {
          GeometryOverrides& g = o->request.geometry;
          return parse_pair(v, ',', false, &g.center_x_px, &g.center_y_px);
        },
        "X,Y in pixels"}},
      {"pixel-size",
       {true,
        [](Options* o, const std::string& v) {
          GeometryOverrides& g = o->request.geometry;
          double size = 0;
          if (v.find(',') != std::string::npos) {
            return parse_pair(v, ',', false, &g.pixel_x_um, &g.pixel_y_um);
          }
          if (!parse_number(v, &size)) return false;
          g.pixel_x_um = g.pixel_y_um = size;
          return true;
        },
        "UM or UM_X,UM_Y in micrometres"}},
      {"bins",
       {true,
        [](Options* o, const std::string& v) {
          double n = 0;
          if (!parse_number(v, &n) || n < 1 || n != std::floor(n) || n > 1e7) return false;
          o->request.bins.count = static_cast<std::int64_t>(n);
          return true;
        },
        "a whole number of bins, 1 to 10000000"}},
      {"bin-width",
       {true,
        [](Options* o, const std::string& v) {
          double w = 0;
          if (!parse_number(v, &w) || !(w > 0)) return false;
          o->request.bins.width = w;
          return true;
        },
        "a positive width"}},
      {"range",
       {true,
        [](Options* o, const std::string& v) {
          return parse_pair(v, ':', true, &o->request.bins.low, &o->request.bins.high);
        },
        "LOW:HIGH (either may be left out)"}},
      {"unit",
       {true,
        [](Options* o, const std::string& v) {
          if (v == "2theta")
            o->request.axis = Axis::two_theta;
          else if (v == "q")
            o->request.axis = Axis::q;
          else
            return false;
          return true;
        },
        "2theta or q"}},
      {"median",
       {false,
        [](Options* o, const std::string&) {
          o->request.statistic = Statistic::median;
          return true;
        },
        ""}},
      {"mask",
       {true,
        [](Options* o, const std::string& v) {
          o->mask_path = v;
          return !v.empty();
        },
        "a PGM file"}},
      {"azimuth",
       {true,
        [](Options* o, const std::string& v) {
          std::optional<double> from, to;
          if (!parse_pair(v, ':', false, &from, &to) || !(*to > *from)) return false;
          o->request.sector = AzimuthSector{*from, *to};
          return true;
        },
        "FROM:TO in degrees, FROM below TO"}},
      {"module-dir",
       {true,
        [](Options* o, const std::string& v) {
          o->request.module_dir = v;
          return !v.empty();
        },
        "a folder"}},
      {"times", {false, [](Options* o, const std::string&) { return o->show_times = true; }, ""}},
      {"quiet", {false, [](Options* o, const std::string&) { return o->quiet = true; }, ""}},
      {"verbose",
       {false,
        [](Options* o, const std::string&) { return o->request.echo_module_messages = true; }, ""}},
  };
  return table;
}

const std::map<char, std::string>& short_names() {
  static const std::map<char, std::string> names = {
      {'o', "output-dir"}, {'q', "quiet"}, {'v', "verbose"}};
  return names;
}

}  // namespace

ParsedOptions parse_options(const std::vector<std::string>& args) {
  ParsedOptions parsed;
  Options& o = parsed.options;
  auto fail = [&](const std::string& message) {
    parsed.outcome = OptionsOutcome::error;
    parsed.error = message;
    return parsed;
  };
  bool only_files = false;
  for (std::size_t k = 0; k < args.size(); ++k) {
    const std::string& arg = args[k];
    if (only_files || arg.size() < 2 || arg[0] != '-') {
      o.inputs.push_back(arg);
      continue;
    }
    if (arg == "--") {
      only_files = true;
      continue;
    }
    if (arg == "-h" || arg == "--help") {
      parsed.outcome = OptionsOutcome::help;
      return parsed;
    }
    if (arg == "--version") {
      parsed.outcome = OptionsOutcome::version;
      return parsed;
    }
    std::string name, value;
    bool has_value = false;
    if (arg[1] == '-') {
      name = arg.substr(2);
      const std::size_t eq = name.find('=');
      if (eq != std::string::npos) {
        value = name.substr(eq + 1);
        name.erase(eq);
        has_value = true;
      }
    } else {
      const auto found = short_names().find(arg[1]);
      if (found == short_names().end()) return fail("unknown option " + arg);
      name = found->second;
      if (arg.size() > 2) {
        value = arg.substr(2);
        has_value = true;
      }
    }
    const auto rule = option_table().find(name);
    if (rule == option_table().end()) return fail("unknown option " + arg);
    if (rule->second.takes_value && !has_value) {
      if (k + 1 >= args.size()) return fail("option --" + name + " needs " + rule->second.expects);
      value = args[++k];
    } else if (!rule->second.takes_value && has_value) {
      return fail("option --" + name + " takes no value");
    }
    if (!rule->second.apply(&o, value)) {
      return fail("option --" + name + " needs " + rule->second.expects + ", not '" + value + "'");
    }
  }
  if (o.request.bins.count && o.request.bins.width) {
    return fail("give either --bins or --bin-width, not both");
  }
  if (o.request.bins.low && o.request.bins.high && !(*o.request.bins.high > *o.request.bins.low)) {
    return fail("--range needs LOW below HIGH");
  }
  if (o.inputs.empty()) return fail("no image files given (try --help)");
  return parsed;
}

std::vector<std::string> option_names() {
  std::vector<std::string> names = {"help", "version"};
  for (const auto& [name, rule] : option_table()) names.push_back(name);
  return names;
}

std::string help_text() {
  return R"(Usage: vokip-reduce [OPTIONS] IMAGE...

Reduces MAR345 image-plate files (.mar1200 ... .mar3450) to 1-D diffraction
profiles. Each IMAGE is decoded, every pixel's polar angle 2-theta computed for
the plate's geometry, the pixels sorted by angle and binned; the profile goes
to IMAGE's name with .xy (two columns, commented header) beside the image or
in --output-dir. Pixels of value 0 (no data) and pixels flagged by --mask are
left out. Quoted patterns such as 'scans/*.mar2300' are expanded too. A file
that cannot be reduced gets one error line; the others are still reduced.

Output:
  -o, --output-dir DIR   write profiles into DIR (default: beside each image)
      --chi              also write a FIT2D-style .chi file
      --csv              also write a .csv with every statistic of every bin
      --svg              also write an .svg plot of the profile
      --all              all of .chi, .csv and .svg

Geometry (default: the image's header; each option overrides it):
      --distance MM      sample-to-plate distance in mm
      --center X,Y       beam centre in pixels; pixel (column c, row r) has its
                         centre at (c + 0.5, r + 0.5), columns along x
      --pixel-size UM    pixel size in micrometres, or UM_X,UM_Y
      --tilt DEG         plate tilt in degrees (default 0)
      --tilt-direction DEG
                         direction, from +x towards +y, in which the tilted
                         plate moves away from the sample (default 0)
      --wavelength A     X-ray wavelength in angstrom (needed for --unit q)

Binning:
      --unit 2theta|q    profile against 2-theta in degrees (default) or
                         q = 4 pi sin(theta) / wavelength in 1/angstrom
      --bins N           N bins over the range (default: one per pixel of
                         radius from the beam centre to the farthest corner)
      --bin-width W      bins of width W in the unit (instead of --bins)
      --range LOW:HIGH   bin only this range (default: all pixels); either
                         end may be left out, e.g. --range 5:
      --median           per-bin median instead of the mean
      --mask FILE        PGM image (P2 or P5) of the image's size; pixels
                         that are not 0 in it are left out
      --azimuth FROM:TO  keep only pixels with azimuth FROM <= a < TO degrees,
                         counted from +x towards +y (taken modulo 360)

Running:
      --module-dir DIR   folder holding vokip.dlm and vokip.so (default:
                         $VOKIP_MODULE_DIR, else the build's module folder,
                         else ../lib/vokip beside this program)
      --times            print each file's time per stage on stderr
  -q, --quiet            no progress line and no summary
  -v, --verbose          also print the module's own messages
  -h, --help             this text
      --version          the program's version

Exit status: 0 all files reduced; 1 some file could not be reduced; 2 bad
command line; 3 the module could not be loaded.

Examples:
  vokip-reduce samples/rings.mar1200 --svg -o out
      profile and plot of the shipped sample in out/rings.xy, out/rings.svg
  vokip-reduce scans/*.mar2300 --unit q --bin-width 0.005 --median --all
  vokip-reduce run1.mar3450 --distance 250 --center 1725.5,1719 --tilt 0.4 \
      --tilt-direction 95 --mask beamstop.pgm --range 2:35 --bins 3300
)";
}
