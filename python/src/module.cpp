// The vokip extension module: the MAR345 reader and decoder, the module's
// geometry and integration procedures, and the reduction engine's plans,
// for NumPy arrays.
#include <pybind11/pybind11.h>

#include <climits>

#include "arrays.h"
#include "engine/formats/image_files.h"
#include "vokip_version.h"

namespace vokip::python {

namespace {

std::string type_name(const py::handle& value) {
  return Py_TYPE(value.ptr())->tp_name;
}

}  // namespace

std::vector<py::ssize_t> shape_of(const py::handle& shape, const char* name) {
  std::vector<py::handle> given;
  if (py::isinstance<py::sequence>(shape) && !py::isinstance<py::str>(shape) &&
      !py::isinstance<py::bytes>(shape)) {
    for (const py::handle& d : shape.cast<py::sequence>()) given.push_back(d);
  } else {
    given.push_back(shape);
  }
  std::vector<py::ssize_t> dims;
  py::ssize_t n = 1;
  for (const py::handle& d : given) {
    if (!PyIndex_Check(d.ptr())) {
      throw py::type_error(std::string(name) + " is an int or a sequence of ints, not " +
                           (given.size() > 1 ? "one holding " : "") + type_name(d));
    }
    const long long v = whole_argument(name, d);
    if (v < 0) throw py::value_error(std::string(name) + "'s dimensions cannot be negative");
    // No array holds more than PY_SSIZE_T_MAX bytes.
    if (v > PY_SSIZE_T_MAX / 8 || __builtin_mul_overflow(n, static_cast<py::ssize_t>(v), &n) ||
        n > PY_SSIZE_T_MAX / 8) {
      throw py::value_error(std::string(name) + " " + py::repr(shape).cast<std::string>() +
                            " has more elements than any array can hold");
    }
    dims.push_back(static_cast<py::ssize_t>(v));
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

double number_argument(const char* name, const py::handle& value) {
  if (py::isinstance<py::str>(value) || !py::hasattr(value, "__float__")) {
    throw py::type_error(std::string(name) + " must be a number, not " + type_name(value));
  }
  return py::float_(py::reinterpret_borrow<py::object>(value)).cast<double>();
}

bool flag_argument(const char* name, const py::handle& value) {
  if (PyBool_Check(value.ptr())) return value.ptr() == Py_True;
  if (py::isinstance(value, py::module_::import("numpy").attr("bool_"))) return value.cast<bool>();
  throw py::type_error(std::string(name) + " must be True or False, not " + type_name(value));
}

std::string text_argument(const char* name, const py::handle& value) {
  if (!py::isinstance<py::str>(value)) {
    throw py::type_error(std::string(name) + " must be a str, not " + type_name(value));
  }
  return value.cast<std::string>();
}

long long whole_argument(const char* name, const py::handle& value) {
  if (!PyIndex_Check(value.ptr())) {
    throw py::type_error(std::string(name) + " must be a whole number, not " + type_name(value));
  }
  const py::object whole = py::reinterpret_steal<py::object>(PyNumber_Index(value.ptr()));
  if (!whole) throw py::error_already_set();
  int beyond = 0;
  const long long v = PyLong_AsLongLongAndOverflow(whole.ptr(), &beyond);
  if (beyond != 0) return beyond > 0 ? LLONG_MAX : LLONG_MIN;
  return v;
}

py::array array_argument(const char* name, const py::handle& value, const py::dtype& dtype) {
  try {
    return py::module_::import("numpy").attr("ascontiguousarray")(value, dtype);
  } catch (py::error_already_set& e) {
    if (e.matches(PyExc_MemoryError)) {
      throw memory_error(std::string(name) + ": not enough memory to make it an array of " +
                         dtype.attr("name").cast<std::string>());
    }
    throw py::type_error(std::string(name) + " must be an array of numbers, which this " +
                         type_name(value) + " is not");
  }
}

int image_side(const char* name, py::ssize_t pixels) {
  if (pixels > vokip::kLargestImageSide) {
    throw py::value_error(std::string(name) + " has " + std::to_string(pixels) +
                          " pixels along a side, more than an image's " +
                          std::to_string(vokip::kLargestImageSide));
  }
  return static_cast<int>(pixels);
}

bool is_path(const py::handle& object) {
  return py::isinstance<py::str>(object) || py::hasattr(object, "__fspath__");
}

std::string path_argument(const char* name, const py::handle& path) {
  if (!is_path(path) && !py::isinstance<py::bytes>(path)) {
    throw py::type_error(std::string(name) + " must be a file name (str or os.PathLike), not " +
                         type_name(path));
  }
  // The file system's bytes, as open() takes them.
  const std::string name_bytes =
      py::module_::import("os").attr("fsencode")(path).cast<py::bytes>().cast<std::string>();
  if (name_bytes.find('\0') != std::string::npos) {
    throw py::value_error(std::string(name) +
                          " holds a NUL byte: " + py::repr(path).cast<std::string>());
  }
  return name_bytes;
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
      {Setting::plate_absorption, "plate_absorption="},
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
