// What the bindings share: NumPy arrays that take over the engine's vectors,
// shapes from Python objects, and file names put in front of the engine's
// messages.
#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <new>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "engine/base/error.h"

namespace vokip::python {

namespace py = pybind11;

// A NumPy array of the given shape that takes over the vector's memory.
template <class T, class Allocator>
py::array_t<T> adopt(std::vector<T, Allocator>&& values, std::vector<py::ssize_t> shape) {
  if (values.empty()) return py::array_t<T>(shape);
  auto* owned = new std::vector<T, Allocator>(std::move(values));
  const py::capsule owner(owned,
                          [](void* p) { delete static_cast<std::vector<T, Allocator>*>(p); });
  return py::array_t<T>(shape, owned->data(), owner);
}

template <class T, class Allocator>
py::array_t<T> adopt(std::vector<T, Allocator>&& values) {
  const auto size = static_cast<py::ssize_t>(values.size());
  return adopt(std::move(values), {size});
}

// Arguments taken from Python objects. A wrong one raises TypeError (the
// wrong kind of object), ValueError (a value out of range) or MemoryError,
// each message starting with the argument's name.

// MemoryError, thrown (with or without the interpreter's lock) in place of
// std::bad_alloc where the argument that asked for the memory is known.
class memory_error : public py::builtin_exception {
 public:
  using py::builtin_exception::builtin_exception;
  void set_error() const override { PyErr_SetString(PyExc_MemoryError, what()); }
};

// An int or a sequence of ints, each not negative, holding fewer elements
// than any array can.
std::vector<py::ssize_t> shape_of(const py::handle& shape, const char* name = "shape");

// The number of elements of a shape, and its last (fastest-varying)
// dimension: the module's first dimension w. A shape of no dimensions is
// one element.
py::ssize_t element_count(const std::vector<py::ssize_t>& shape);
py::ssize_t row_length(const std::vector<py::ssize_t>& shape);

// A number (anything float() takes but a str), finite or not.
double number_argument(const char* name, const py::handle& value);
// True or False (or NumPy's).
bool flag_argument(const char* name, const py::handle& value);
// A str.
std::string text_argument(const char* name, const py::handle& value);
// An int, held at long long's ends when it lies beyond them: the engine's
// own limits then refuse it with their message.
long long whole_argument(const char* name, const py::handle& value);
// The value as a C-contiguous array of the dtype, converted only when it is
// not one already.
py::array array_argument(const char* name, const py::handle& value, const py::dtype& dtype);
// The number of pixels along one side of an image given as an array, at most
// the largest image's.
int image_side(const char* name, py::ssize_t pixels);
// The vector resized to n elements; memory_error naming the argument when
// there is not enough.
template <class Vector>
void allocate(const char* name, Vector* values, py::ssize_t n) {
  try {
    values->resize(static_cast<std::size_t>(n));
  } catch (const std::bad_alloc&) {
    throw memory_error(std::string(name) + ": not enough memory for its " + std::to_string(n) +
                       " elements");
  } catch (const std::length_error&) {
    throw memory_error(std::string(name) + ": not enough memory for its " + std::to_string(n) +
                       " elements");
  }
}

// The engine's error with the name of the file it concerns in front, as the
// command line prints it.
inline Error about_file(const std::string& path, const Error& e) {
  return Error(path + ": " + e.what(), e.kind(), e.setting());
}

// A str or os.PathLike as a file name.
bool is_path(const py::handle& object);
// A str, bytes or os.PathLike as a file name, without a NUL byte.
std::string path_argument(const char* name, const py::handle& path);

void bind_files(py::module_& m);
void bind_procedures(py::module_& m);
void bind_reducer(py::module_& m);

}  // namespace vokip::python
