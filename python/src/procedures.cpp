// The module's procedures on NumPy arrays: the polar angle and azimuth maps
// and the two integrations, through the same cores the host's procedures
// call.
#include <pybind11/stl.h>

#include <algorithm>
#include <cmath>
#include <string>

#include "arrays.h"
#include "engine/base/text.h"
#include "engine/memory/huge_pages.h"
#include "geometry/azimuth_map.h"
#include "geometry/polar_angle_map.h"
#include "integrate/integrate_mean.h"
#include "integrate/integrate_median.h"

namespace vokip::python {

namespace {

// Doubles, C-contiguous: converted only when they are not already.
using Doubles = py::array_t<double, py::array::c_style | py::array::forcecast>;
// A map's output, in huge pages as large arrays are in the engine: a fresh
// image-sized map in 4 KiB pages costs more in first touches than the
// module takes to compute it.
using Map = std::vector<double, HugePageAllocator<double>>;

// The argument as doubles in C order.
Doubles doubles(const char* name, const py::handle& value) {
  return array_argument(name, value, py::dtype::of<double>());
}

std::vector<py::ssize_t> dims_of(const Doubles& a) {
  return std::vector<py::ssize_t>(a.shape(), a.shape() + a.ndim());
}

// The coordinates a map reads. Without a shape, x and y broadcast against
// each other as NumPy's arrays do: a row of x against a column of y is the
// module's grid (x per column, y per row), anything else pairs of
// coordinates. With a shape, the module's own rule decides.
struct MapCall {
  Doubles x, y;
  std::vector<py::ssize_t> shape;
  py::ssize_t n = 0, w = 0;
  const char* output_name = "x and y";  // what sets the output's size

  MapCall(Doubles x_in, Doubles y_in, const py::object& shape_in)
      : x(std::move(x_in)), y(std::move(y_in)) {
    if (!shape_in.is_none()) {
      shape = shape_of(shape_in);
      output_name = "shape";
    } else {
      const py::module_ np = py::module_::import("numpy");
      const py::tuple x_dims = py::cast(dims_of(x)), y_dims = py::cast(dims_of(y));
      try {
        shape = np.attr("broadcast_shapes")(x_dims, y_dims).cast<std::vector<py::ssize_t>>();
      } catch (py::error_already_set&) {
        throw py::value_error("x of shape " + py::repr(x_dims).cast<std::string>() +
                              " and y of shape " + py::repr(y_dims).cast<std::string>() +
                              " do not broadcast against each other");
      }
      // A grid of one row or column is pairs in the module's rule.
      const bool grid = shape.size() == 2 && shape[0] > 1 && shape[1] > 1 && x.size() == shape[1] &&
                        y.size() == shape[0] && (x.ndim() == 1 || x.shape(0) == 1) &&
                        y.ndim() == 2 && y.shape(1) == 1;
      if (!grid && (dims_of(x) != shape || dims_of(y) != shape)) {
        const py::tuple both = np.attr("broadcast_arrays")(x, y);
        x = doubles("x", both[0]);
        y = doubles("y", both[1]);
      }
    }
    n = element_count(shape);
    w = row_length(shape);
  }
};

py::array_t<double> polar_angles(const py::object& distance_in, const py::object& tilt_in,
                                 const py::object& direction_in, const py::object& x,
                                 const py::object& y, const py::object& shape) {
  const double distance = number_argument("distance", distance_in);
  const double tilt = number_argument("tilt", tilt_in);
  const double direction = number_argument("direction", direction_in);
  MapCall call(doubles("x", x), doubles("y", y), shape);
  Map out;
  {
    const py::gil_scoped_release unlocked;
    allocate(call.output_name, &out, call.n);
    double* o = out.data();
    polar_angle_map(distance, tilt, direction, call.x.data(), call.x.size(), call.y.data(),
                    call.y.size(), o, call.n, call.w);
  }
  return adopt(std::move(out), call.shape);
}

py::array_t<double> azimuths(const py::object& y, const py::object& x, const py::object& shape) {
  MapCall call(doubles("x", x), doubles("y", y), shape);
  Map out;
  {
    const py::gil_scoped_release unlocked;
    allocate(call.output_name, &out, call.n);
    double* o = out.data();
    azimuth_map(call.y.data(), call.y.size(), call.x.data(), call.x.size(), o, call.n, call.w);
  }
  return adopt(std::move(out), call.shape);
}

// The cores bin by walking keys and centres in ascending order: given out of
// order, they would give numbers that mean nothing.
void check_ascending(const char* name, const Doubles& a) {
  const double* v = a.data();
  for (py::ssize_t i = 1; i < a.size(); ++i) {
    if (!(v[i] >= v[i - 1])) {
      throw py::value_error(printf_string("%s must be in ascending order: %s[%zd] = %g follows %g",
                                          name, name, i, v[i], v[i - 1]));
    }
  }
  if (a.size() > 0 && std::isnan(v[0])) throw py::value_error(std::string(name) + "[0] is NaN");
}

py::tuple integrate(const py::object& keys_in, const py::object& values_in,
                    const py::object& centres_in, const py::object& median_in) {
  const Doubles keys = doubles("keys", keys_in), values = doubles("values", values_in),
                centres = doubles("centres", centres_in);
  const bool median = flag_argument("median", median_in);
  const py::ssize_t n = keys.size(), m = centres.size();
  if (values.size() < n) {
    throw py::value_error("there are " + std::to_string(n) + " keys but only " +
                          std::to_string(values.size()) + " values: each key needs its value");
  }
  check_ascending("keys", keys);
  check_ascending("centres", centres);
  // Zero-filled: the mean's running sums start from the outputs' contents.
  std::vector<double> first, second, third;
  bool complete = true;
  {
    const py::gil_scoped_release unlocked;
    for (std::vector<double>* out : {&first, &second, &third}) allocate("centres", out, m);
    if (median) {
      complete = integrate_median(keys.data(), n, values.data(), centres.data(), m, first.data(),
                                  second.data(), third.data(), m);
    } else {
      integrate_mean(keys.data(), n, values.data(), centres.data(), m, first.data(), second.data(),
                     third.data(), m);
    }
  }
  if (!complete) throw memory_error("keys: not enough memory for the median of their bins");
  return py::make_tuple(adopt(std::move(first)), adopt(std::move(second)), adopt(std::move(third)));
}

}  // namespace

void bind_procedures(py::module_& m) {
  m.def("polar_angles", &polar_angles, py::arg("distance"), py::arg("tilt"), py::arg("direction"),
        py::arg("x"), py::arg("y"), py::arg("shape") = py::none(),
        R"(polar_angles(distance, tilt, direction, x, y, shape=None) -> numpy.ndarray

The polar angle 2-theta in degrees of every pixel of a plate (the module's
DISTORTIMAGEPLATE): the plate at `distance` from the sample, in a unit 1000
times the coordinates' (mm with coordinates in micrometres), turned by
`tilt` degrees about an axis in its plane through the beam centre along
(-sin direction, cos direction). x and y are the pixels' coordinates from
the beam centre.

Without `shape`, x and y broadcast against each other as NumPy's arrays
do: x of shape (columns,) and y of shape (rows, 1) give the image's grid
(column c takes x[c], row r y[r]), arrays of one shape one angle per pair.
With `shape`, the module's own rule decides: pairs when x has as many
values as the output, otherwise a grid whose rows are the shape's last
dimension long, x per column and y per row. An element whose coordinates
are missing is NaN.)");
  m.def("azimuths", &azimuths, py::arg("y"), py::arg("x"), py::arg("shape") = py::none(),
        R"(azimuths(y, x, shape=None) -> numpy.ndarray

The azimuth in degrees, 0 to 360, of every pixel seen from the beam centre,
counted from +x towards +y (the module's AZIMUTHIMAGEPLATE; y comes first,
as there). A coordinate that is 0 is taken as 1, so a pixel on an axis gets
the angle of its neighbour one unit off.

Without `shape`, y and x broadcast against each other as NumPy's arrays
do: y of shape (rows, 1) and x of shape (columns,) give the image's grid,
arrays of one shape one azimuth per pair. With `shape`, the module's rule
decides: pairs when y has as many values as the output, a grid otherwise.
An element whose coordinates are missing is NaN.)");
  m.def("integrate", &integrate, py::arg("keys"), py::arg("values"), py::arg("centres"),
        py::arg("median") = false,
        R"(integrate(keys, values, centres, median=False) -> (a, b, c)

Bins values by their keys around the bin centres (both ascending) and
returns three arrays of one value per centre (the module's INTEGRATE and
INTEGRATE_MEDIAN).

A bin holds the keys from halfway below its centre (to the centre before)
up to, not including, halfway to the next centre; the first bin also takes
in the one key just below its lower edge, when there is one. With
median=False: the mean, the sample variance and the dispersion
sum((v - mean)^2) / mean of each bin (an empty bin's mean is 0 and its
dispersion NaN; a bin of one value has variance 0). With median=True: the
median, the variance about it (divided by the count) and the mean absolute
deviation about it (NaN for an empty bin). values needs at least as many
elements as keys. Keys and centres out of ascending order (or NaN) raise
ValueError.)");
}

}  // namespace vokip::python
