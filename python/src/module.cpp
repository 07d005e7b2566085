// The vokip extension module: the MAR345 reader and decoder, the module's
// geometry and integration procedures, and the reduction engine's plans,
// for NumPy arrays.
#include <pybind11/pybind11.h>

#include "arrays.h"
#include "vokip_version.h"

namespace vokip::python {

std::vector<py::ssize_t> shape_of(const py::handle& shape) {
  std::vector<py::ssize_t> dims;
  if (py::isinstance<py::int_>(shape)) {
    dims.push_back(shape.cast<py::ssize_t>());
  } else if (py::isinstance<py::sequence>(shape) && !py::isinstance<py::str>(shape)) {
    for (const py::handle& d : shape.cast<py::sequence>()) dims.push_back(d.cast<py::ssize_t>());
  } else {
    throw py::type_error("a shape is an int or a sequence of ints");
  }
  for (const py::ssize_t d : dims) {
    if (d < 0) throw py::value_error("a shape's dimensions cannot be negative");
  }
  return dims;
}

py::ssize_t element_count(const std::vector<py::ssize_t>& shape) {
  py::ssize_t n = 1;
  for (const py::ssize_t d : shape) n *= d;
  return n;
}

py::ssize_t row_length(const std::vector<py::ssize_t>& shape) {
  return shape.empty() ? 1 : shape.back();
}

bool is_path(const py::handle& object) {
  return py::isinstance<py::str>(object) || py::hasattr(object, "__fspath__");
}

std::string path_of(const py::handle& path) {
  const py::object name = py::module_::import("os").attr("fsdecode")(path);
  return name.cast<std::string>();
}

// The engine's message with the keywords that set what it names.
std::string with_keyword(const vokip::Error& e) {
  using vokip::Setting;
  static const std::pair<Setting, const char*> kKeywords[] = {
      {Setting::geometry, "poni=, or distance=, center= and pixel_size="},
      {Setting::distance, "distance="},
      {Setting::center, "center="},
      {Setting::pixel_size, "pixel_size="},
      {Setting::tilt, "tilt=, tilt_direction="},
      {Setting::wavelength, "wavelength="},
      {Setting::bins, "bins="},
      {Setting::bin_width, "bin_width="},
      {Setting::range, "range="},
      {Setting::unit, "unit="},
      {Setting::error_model, "error_model="},
      {Setting::limits, "low=, high="},
      {Setting::azimuth, "azimuth="},
      {Setting::cake, "cake="},
      {Setting::cake_bins, "cake_bins="},
      {Setting::split, "split="},
      {Setting::polarization, "polarization="},
      {Setting::shape, "shape=, or a Reducer for each image size"},
  };
  for (const auto& [setting, keyword] : kKeywords) {
    if (setting == e.setting()) return std::string(e.what()) + " [" + keyword + "]";
  }
  return e.what();
}

}  // namespace vokip::python

PYBIND11_MODULE(_vokip, m) {
  namespace py = pybind11;
  using namespace vokip::python;
  m.doc() =
      "MAR345 image-plate images to 1-D diffraction profiles: the exact MAR345 reader and\n"
      "decoder, the module's geometry and integration procedures, and the reduction\n"
      "engine of vokip-reduce, on NumPy arrays.";
  m.attr("__version__") = kVokipVersion;
  // Each docstring starts with its own signature line.
  py::options options;
  options.disable_function_signatures();

  // The engine's one error convention: a damaged or unusable input is a
  // ValueError, a refused read or write an OSError, each with the one line
  // the command line prints.
  py::register_exception_translator([](std::exception_ptr p) {
    try {
      if (p) std::rethrow_exception(p);
    } catch (const vokip::Error& e) {
      // A message may quote a damaged file's bytes: those that are not
      // UTF-8 are shown as escapes.
      const std::string message = with_keyword(e);
      const py::object text = py::reinterpret_steal<py::object>(PyUnicode_DecodeUTF8(
          message.data(), static_cast<Py_ssize_t>(message.size()), "backslashreplace"));
      PyErr_SetObject(e.kind() == vokip::Error::Kind::io ? PyExc_OSError : PyExc_ValueError,
                      text.ptr());
    }
  });

  bind_files(m);
  bind_procedures(m);
  bind_reducer(m);
}
