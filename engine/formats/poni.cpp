#include "engine/formats/poni.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>

#include "engine/base/error.h"
#include "engine/base/text.h"
#include "engine/formats/files.h"
#include "engine/formats/image_files.h"

namespace vokip {

namespace {

// pyFAI's default orientation: the first pixel at the top left, seen from
// the sample, as the image's rows are stored.
constexpr int kDefaultOrientation = 3;

std::string lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

double number(const std::string& key, const std::string& text) {
  const std::optional<double> v = number_in(text);
  if (!v) throw Error("the .poni's " + key + " '" + text + "' is not a number");
  return *v;
}

// The pixel size and the detector's size from a Detector_config's JSON
// object; its orientation must be the default one.
void read_detector_config(const std::string& text, std::optional<double>* pixel1,
                          std::optional<double>* pixel2, PoniGeometry* p) {
  nlohmann::json config;
  try {
    config = nlohmann::json::parse(text);
  } catch (const nlohmann::json::exception&) {
    throw Error("the .poni's Detector_config is not a JSON object: " + text);
  }
  if (!config.is_object()) throw Error("the .poni's Detector_config is not a JSON object: " + text);
  auto value = [&](const char* name) -> std::optional<double> {
    const auto at = config.find(name);
    if (at == config.end() || at->is_null()) return std::nullopt;
    if (!at->is_number()) {
      throw Error(std::string("the .poni's Detector_config ") + name + " is not a number");
    }
    return at->get<double>();
  };
  if (const std::optional<double> orientation = value("orientation")) {
    if (*orientation != kDefaultOrientation) {
      throw Error("the .poni's detector orientation is " + trim(config["orientation"].dump()) +
                  "; only the default orientation 3 is read");
    }
  }
  if (const auto v = value("pixel1")) *pixel1 = v;
  if (const auto v = value("pixel2")) *pixel2 = v;
  const auto shape = config.find("max_shape");
  if (shape != config.end() && !shape->is_null()) {
    auto side = [&](std::size_t k) {
      const nlohmann::json& v = (*shape)[k];
      const double n = v.is_number() ? v.get<double>() : 0;
      if (!(n >= 1 && n <= kLargestImageSide && n == std::floor(n))) {
        throw Error("the .poni's Detector_config max_shape " + shape->dump() +
                    " is not two sizes in pixels");
      }
      return static_cast<int>(n);
    };
    if (!shape->is_array() || shape->size() != 2) {
      throw Error("the .poni's Detector_config max_shape " + shape->dump() +
                  " is not two sizes in pixels");
    }
    p->rows = side(0);
    p->columns = side(1);
  }
}

std::string shortest(double v) {
  return printf_string("%.17g", v);
}

}  // namespace

PoniGeometry parse_poni(const std::string& text) {
  std::map<std::string, std::string> values;  // by lower-case key
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    const std::string content = trim(line);
    if (content.empty() || content[0] == '#') continue;
    const std::size_t colon = content.find(':');
    if (colon == std::string::npos)
      throw Error("the .poni line '" + content + "' is not 'key: value'");
    const std::string key = trim(content.substr(0, colon));
    values[lower(key)] = trim(content.substr(colon + 1));
  }
  if (values.count("poni_version")) {
    const std::string version = values["poni_version"];
    if (version != "1" && version != "2" && version != "2.1") {
      throw Error("poni_version " + version + " is not one this program reads (1, 2 or 2.1)");
    }
  }
  auto required = [&](const char* key) {
    const auto at = values.find(lower(key));
    if (at == values.end()) throw Error(std::string("the .poni has no ") + key);
    return number(key, at->second);
  };
  PoniGeometry p;
  p.distance_m = required("Distance");
  p.poni1_m = required("Poni1");
  p.poni2_m = required("Poni2");
  p.rot1_rad = required("Rot1");
  p.rot2_rad = required("Rot2");
  p.rot3_rad = required("Rot3");
  if (values.count("wavelength")) p.wavelength_m = number("Wavelength", values["wavelength"]);

  std::optional<double> pixel1, pixel2;
  if (values.count("pixelsize1")) pixel1 = number("PixelSize1", values["pixelsize1"]);
  if (values.count("pixelsize2")) pixel2 = number("PixelSize2", values["pixelsize2"]);
  if (values.count("detector_config"))
    read_detector_config(values["detector_config"], &pixel1, &pixel2, &p);
  if (!pixel1 || !pixel2) {
    const std::string detector = values.count("detector") ? values["detector"] : "unnamed";
    throw Error(
        "the .poni gives no pixel size (PixelSize1/2 or Detector_config's pixel1/2) for "
        "detector " +
        detector);
  }
  p.pixel1_m = *pixel1;
  p.pixel2_m = *pixel2;
  if (!(p.distance_m > 0) || !(p.pixel1_m > 0) || !(p.pixel2_m > 0)) {
    throw Error("the .poni's Distance and pixel sizes must be positive");
  }
  if (p.wavelength_m && !(*p.wavelength_m > 0))
    throw Error("the .poni's Wavelength must be positive");
  return p;
}

PoniGeometry read_poni(const std::string& path) {
  const std::vector<std::uint8_t> bytes = read_file(path);
  return parse_poni(std::string(bytes.begin(), bytes.end()));
}

std::string format_poni(const PoniGeometry& p, int width, int height, const std::string& comment,
                        const std::string& version) {
  std::string s = "# Nota: C-Order, 1 refers to the Y axis, 2 to the X axis\n";
  s += "# " + comment + "\n";
  s += "poni_version: " + version + "\n";
  s += "Detector: Detector\n";
  s += "Detector_config: {\"pixel1\": " + shortest(p.pixel1_m) +
       ", \"pixel2\": " + shortest(p.pixel2_m) + ", \"max_shape\": [" + std::to_string(height) +
       ", " + std::to_string(width) + "]";
  if (version == "2.1") s += ", \"orientation\": " + std::to_string(kDefaultOrientation);
  s += "}\n";
  s += "Distance: " + shortest(p.distance_m) + "\n";
  s += "Poni1: " + shortest(p.poni1_m) + "\n";
  s += "Poni2: " + shortest(p.poni2_m) + "\n";
  s += "Rot1: " + shortest(p.rot1_rad) + "\n";
  s += "Rot2: " + shortest(p.rot2_rad) + "\n";
  s += "Rot3: " + shortest(p.rot3_rad) + "\n";
  if (p.wavelength_m) s += "Wavelength: " + shortest(*p.wavelength_m) + "\n";
  return s;
}

}  // namespace vokip
