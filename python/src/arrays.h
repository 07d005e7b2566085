// What the bindings share: NumPy arrays that take over the engine's vectors,
// shapes from Python objects, and file names put in front of the engine's
// messages.
#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

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

// An int or a sequence of ints, each not negative.
std::vector<py::ssize_t> shape_of(const py::handle& shape);

// The number of elements of a shape, and its last (fastest-varying)
// dimension: the module's first dimension w. A shape of no dimensions is
// one element.
py::ssize_t element_count(const std::vector<py::ssize_t>& shape);
py::ssize_t row_length(const std::vector<py::ssize_t>& shape);

// The engine's error with the name of the file it concerns in front, as the
// command line prints it.
inline Error about_file(const std::string& path, const Error& e) {
  return Error(path + ": " + e.what(), e.kind(), e.setting());
}

// A str or os.PathLike as a file name.
std::string path_of(const py::handle& path);
bool is_path(const py::handle& object);

void bind_files(py::module_& m);
void bind_procedures(py::module_& m);
void bind_reducer(py::module_& m);

}  // namespace vokip::python
