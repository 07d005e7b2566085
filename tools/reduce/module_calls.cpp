#include "reduce/module_calls.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "host/host.h"

namespace {

// What UNPCK prints when the stream runs out before the last pixel.
constexpr char kStreamEndedText[] = "Packed stream ended before the image was complete";

bool file_exists(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0;
}

std::string program_dir() {
  char path[4096];
  const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return ".";
  std::string exe(path, static_cast<std::size_t>(n));
  const std::size_t slash = exe.rfind('/');
  return slash == std::string::npos ? "." : exe.substr(0, slash);
}

IDL_VPTR scalar(double v) {
  return vokip_host::make_scalar(IDL_TYP_DOUBLE, v);
}

// Coordinates of pixel centres from the beam centre, in micrometres.
IDL_VPTR coordinates(int count, double centre_px, double pixel_um) {
  IDL_VPTR v = vokip_host::make_array(IDL_TYP_DOUBLE, {count});
  double* c = vokip_host::data_as<double>(v);
  for (int i = 0; i < count; ++i) c[i] = (i + 0.5 - centre_px) * pixel_um;
  return v;
}

// The row coordinates. The module reads coordinates per column and per row
// unless there are as many x values as pixels, which a one-row image has;
// then y needs one value per pixel too.
IDL_VPTR row_coordinates(const Geometry& g, int width, int height) {
  if (height != 1) return coordinates(height, g.center_y_px, g.pixel_y_um);
  IDL_VPTR v = vokip_host::make_array(IDL_TYP_DOUBLE, {width});
  double* c = vokip_host::data_as<double>(v);
  for (int i = 0; i < width; ++i) c[i] = (0.5 - g.center_y_px) * g.pixel_y_um;
  return v;
}

bool call(const char* name, std::vector<IDL_VPTR> args, std::string* error) {
  if (vokip_host::call(name, std::move(args))) return true;
  *error = std::string("the module's ") + name + " failed: " + last_host_line();
  return false;
}

bool printed_since(std::size_t first, const char* text) {
  const std::vector<std::string>& lines = vokip_host::printed();
  for (std::size_t k = first; k < lines.size(); ++k) {
    if (lines[k].find(text) != std::string::npos) return true;
  }
  return false;
}

}  // namespace

std::string find_module_dir(const std::string& given) {
  if (!given.empty()) return given;
  if (const char* env = std::getenv("VOKIP_MODULE_DIR"); env && *env) return env;
#ifdef VOKIP_MODULE_DIR
  if (file_exists(std::string(VOKIP_MODULE_DIR) + "/vokip.dlm")) return VOKIP_MODULE_DIR;
#endif
  return program_dir() + "/../lib/vokip";
}

bool start_module(const std::string& dir, bool echo_messages, std::string* error) {
  vokip_host::reset(vokip_host::Mode::idl);
  vokip_host::echo_to_stderr(echo_messages);
  if (!vokip_host::load_module(dir) || vokip_host::ensure_loaded() != 1) {
    *error = "cannot load the vokip module from " + dir + ": " + last_host_line();
    return false;
  }
  return true;
}

IDL_VPTR call_unpck(const std::uint8_t* stream, std::size_t length, int width, int height,
                    std::string* error) {
  IDL_VPTR bytes = vokip_host::make_array(IDL_TYP_BYTE, {static_cast<IDL_MEMINT>(length)});
  std::memcpy(vokip_host::data(bytes), stream, length);
  IDL_VPTR image = vokip_host::make_array(IDL_TYP_UINT, {width, height});
  const std::size_t first_line = vokip_host::printed().size();
  if (!call("UNPCK", {bytes, image}, error)) return nullptr;
  if (printed_since(first_line, kStreamEndedText)) {
    *error = "packed stream cut short: it ends before the last of the " +
             std::to_string(std::int64_t{width} * height) + " pixels";
    return nullptr;
  }
  return image;
}

IDL_VPTR call_distortimageplate(const Geometry& g, int width, int height, std::string* error) {
  IDL_VPTR angles = vokip_host::make_array(IDL_TYP_DOUBLE, {width, height});
  const bool ok = call(
      "DISTORTIMAGEPLATE",
      {scalar(g.distance_mm), scalar(g.tilt_deg), scalar(g.tilt_direction_deg),
       coordinates(width, g.center_x_px, g.pixel_x_um), row_coordinates(g, width, height), angles},
      error);
  return ok ? angles : nullptr;
}

IDL_VPTR call_azimuthimageplate(const Geometry& g, int width, int height, std::string* error) {
  IDL_VPTR azimuths = vokip_host::make_array(IDL_TYP_DOUBLE, {width, height});
  // The module takes y first; its element count decides the addressing.
  const bool ok = call("AZIMUTHIMAGEPLATE",
                       {row_coordinates(g, width, height),
                        coordinates(width, g.center_x_px, g.pixel_x_um), azimuths},
                       error);
  return ok ? azimuths : nullptr;
}

bool call_integrate(bool median, IDL_VPTR keys, IDL_VPTR values, const std::vector<double>& centres,
                    BinStatistics* out, std::string* error) {
  const IDL_MEMINT m = static_cast<IDL_MEMINT>(centres.size());
  IDL_VPTR centre_var = vokip_host::make_array(IDL_TYP_DOUBLE, {m});
  std::memcpy(vokip_host::data(centre_var), centres.data(), centres.size() * sizeof(double));
  // Zero-filled outputs: the mean and variance start from their prior contents.
  IDL_VPTR first = vokip_host::make_array(IDL_TYP_DOUBLE, {m});
  IDL_VPTR second = vokip_host::make_array(IDL_TYP_DOUBLE, {m});
  IDL_VPTR third = vokip_host::make_array(IDL_TYP_DOUBLE, {m});
  if (!call(median ? "INTEGRATE_MEDIAN" : "INTEGRATE",
            {keys, values, centre_var, first, second, third}, error)) {
    return false;
  }
  auto copy = [m](IDL_VPTR v) {
    const double* d = vokip_host::data_as<double>(v);
    return std::vector<double>(d, d + m);
  };
  out->centre_value = copy(first);
  out->variance = copy(second);
  out->spread = copy(third);
  return true;
}

std::string last_host_line() {
  const std::vector<std::string>& lines = vokip_host::printed();
  if (lines.empty()) return "no message";
  std::string line = lines.back();
  if (line.rfind("% ", 0) == 0) line.erase(0, 2);
  return line;
}
