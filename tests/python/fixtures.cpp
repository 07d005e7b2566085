// vokip_fixtures: what the Python package's tests compare it with, reached
// without the package: the tests' ring-image generator, packer and MAR345
// writer, the module's cores on plain lists, and vokip-reduce's reduction
// of one file for a command line.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "cli/reduce/batch.h"
#include "cli/reduce/options.h"
#include "engine/run/reducer.h"
#include "geometry/azimuth_map.h"
#include "geometry/polar_angle_map.h"
#include "integrate/integrate_mean.h"
#include "integrate/integrate_median.h"
#include "support/mar345_writer.h"
#include "support/packer.h"
#include "support/ring_pattern.h"

namespace py = pybind11;

namespace {

using vokip::ByteOrder;

template <class T>
py::array_t<T> array_of(const std::vector<T>& v) {
  return py::array_t<T>(static_cast<py::ssize_t>(v.size()), v.data());
}

// Writes a ring image's MAR345 file and returns the image as generated.
py::array_t<std::uint32_t> ring_file(const std::string& path, int size, double tilt,
                                     double tilt_direction, std::uint32_t seed, bool big_endian,
                                     int overflow_pixels) {
  vokip::RingPattern p;
  p.size = size;
  p.pixel_um = 600;
  p.distance_mm = 120;
  p.center_x_px = size / 2.0 + 3.3;
  p.center_y_px = size / 2.0 - 4.6;
  p.beam_stop_radius_px = 6;
  p.tilt_deg = tilt;
  p.tilt_direction_deg = tilt_direction;
  p.seed = seed;
  p.overflow_pixels = overflow_pixels;
  const std::vector<std::uint32_t> image = vokip::make_ring_image(p);
  vokip::Mar345Contents file =
      vokip::ring_pattern_file(p, image, big_endian ? ByteOrder::big : ByteOrder::little);
  file.remarks = {"synthetic rings", "for the Python tests"};
  std::string error;
  if (!vokip::write_file_bytes(path, vokip::write_mar345(file), &error)) {
    throw std::runtime_error(error);
  }
  return array_of(image).reshape({size, size});
}

py::bytes pack(const py::array_t<std::uint16_t, py::array::c_style | py::array::forcecast>& image,
               std::int64_t width) {
  const std::vector<std::uint8_t> stream = pack_image(image.data(), image.size(), width);
  return py::bytes(reinterpret_cast<const char*>(stream.data()), stream.size());
}

std::vector<double> polar(double distance, double tilt, double direction,
                          const std::vector<double>& x, const std::vector<double>& y,
                          std::int64_t n, std::int64_t w) {
  std::vector<double> out(static_cast<std::size_t>(n));
  polar_angle_map(distance, tilt, direction, x.data(), static_cast<std::int64_t>(x.size()),
                  y.data(), static_cast<std::int64_t>(y.size()), out.data(), n, w);
  return out;
}

std::vector<double> azimuth(const std::vector<double>& y, const std::vector<double>& x,
                            std::int64_t n, std::int64_t w) {
  std::vector<double> out(static_cast<std::size_t>(n));
  azimuth_map(y.data(), static_cast<std::int64_t>(y.size()), x.data(),
              static_cast<std::int64_t>(x.size()), out.data(), n, w);
  return out;
}

py::tuple integration(const std::vector<double>& keys, const std::vector<double>& values,
                      const std::vector<double>& centres, bool median) {
  const auto n = static_cast<std::int64_t>(keys.size());
  const auto m = static_cast<std::int64_t>(centres.size());
  std::vector<double> a(centres.size()), b(a), c(a);
  if (median) {
    integrate_median(keys.data(), n, values.data(), centres.data(), m, a.data(), b.data(), c.data(),
                     m);
  } else {
    integrate_mean(keys.data(), n, values.data(), centres.data(), m, a.data(), b.data(), c.data(),
                   m);
  }
  return py::make_tuple(a, b, c);
}

// The engine's profile of vokip-reduce's first input for its options.
py::dict reduce_as_command_line(const std::vector<std::string>& args) {
  const vokip::ParsedOptions parsed = vokip::parse_options(args);
  if (parsed.outcome != vokip::OptionsOutcome::run) throw std::runtime_error(parsed.error);
  vokip::FileReducer reducer(parsed.options.request);
  const vokip::FileReduction r = reducer.reduce(parsed.options.inputs.at(0));
  if (!r.ok()) throw std::runtime_error(r.error());
  py::dict d;
  d["centre"] = array_of(r.profile.centre);
  d["value"] = array_of(r.profile.value);
  d["variance"] = array_of(r.profile.variance);
  d["spread"] = array_of(r.profile.spread);
  d["sigma"] = r.profile.sigma.empty() ? py::object(py::none()) : array_of(r.profile.sigma);
  d["count"] = array_of(r.profile.count);
  d["cake_value"] = array_of(r.profile.cake.value);
  d["cake_count"] = array_of(r.profile.cake.count);
  return d;
}

}  // namespace

PYBIND11_MODULE(vokip_fixtures, m) {
  m.def("ring_file", &ring_file, py::arg("path"), py::arg("size") = 300, py::arg("tilt") = 0.0,
        py::arg("tilt_direction") = 0.0, py::arg("seed") = 1, py::arg("big_endian") = false,
        py::arg("overflow_pixels") = 6);
  m.def("pack", &pack, py::arg("image"), py::arg("width"));
  m.def("polar_angle_map", &polar);
  m.def("azimuth_map", &azimuth);
  m.def("integration", &integration);
  m.def("reduce_as_command_line", &reduce_as_command_line);
}
