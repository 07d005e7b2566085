// The module's procedures on NumPy arrays: the polar angle and azimuth maps
// and the two integrations, through the same cores the host's procedures
// call.
#include <algorithm>
#include <string>

#include "arrays.h"
#include "geometry/azimuth_map.h"
#include "geometry/polar_angle_map.h"
#include "integrate/integrate_mean.h"
#include "integrate/integrate_median.h"

namespace vokip::python {

namespace {

// Doubles, C-contiguous: converted only when they are not already.
using Doubles = py::array_t<double, py::array::c_style | py::array::forcecast>;

std::vector<py::ssize_t> dims_of(const Doubles& a) {
  return std::vector<py::ssize_t>(a.shape(), a.shape() + a.ndim());
}

// The coordinates a map reads. Without a shape, coordinates of one shape
// are taken pair by pair and others as a grid, rows by y and columns by x.
// The module takes pairs whenever the coordinate that decides its mode has
// as many values as the output, as in a grid of one row (polar angle) or
// one column (azimuth); such a grid's other coordinate is repeated, which
// gives each element the values the grid would.
struct MapCall {
  Doubles x, y;
  std::vector<py::ssize_t> shape;
  py::ssize_t n = 0, w = 0;

  MapCall(Doubles x_in, Doubles y_in, const py::object& shape_in, bool mode_by_x)
      : x(std::move(x_in)), y(std::move(y_in)) {
    const bool grid = !shape_in.is_none() ? false : dims_of(x) != dims_of(y);
    if (!shape_in.is_none()) {
      shape = shape_of(shape_in);
    } else if (grid) {
      shape = {y.size(), x.size()};
    } else {
      shape = dims_of(x);
    }
    n = element_count(shape);
    w = row_length(shape);
    if (grid) {
      Doubles& decides = mode_by_x ? x : y;
      Doubles& other = mode_by_x ? y : x;
      if (decides.size() == n && other.size() == 1 && n > 1) {
        Doubles repeated(n);
        std::fill(repeated.mutable_data(), repeated.mutable_data() + n, other.at(0));
        other = repeated;
      }
    }
  }
};

py::array_t<double> polar_angles(double distance, double tilt, double direction, Doubles x,
                                 Doubles y, const py::object& shape) {
  MapCall call(std::move(x), std::move(y), shape, true);
  py::array_t<double> out(call.shape);
  double* o = out.mutable_data();
  {
    const py::gil_scoped_release unlocked;
    polar_angle_map(distance, tilt, direction, call.x.data(), call.x.size(), call.y.data(),
                    call.y.size(), o, call.n, call.w);
  }
  return out;
}

py::array_t<double> azimuths(Doubles y, Doubles x, const py::object& shape) {
  MapCall call(std::move(x), std::move(y), shape, false);
  py::array_t<double> out(call.shape);
  double* o = out.mutable_data();
  {
    const py::gil_scoped_release unlocked;
    azimuth_map(call.y.data(), call.y.size(), call.x.data(), call.x.size(), o, call.n, call.w);
  }
  return out;
}

py::tuple integrate(const Doubles& keys, const Doubles& values, const Doubles& centres,
                    bool median) {
  const py::ssize_t n = keys.size(), m = centres.size();
  if (values.size() < n) {
    throw py::value_error("there are " + std::to_string(n) + " keys but only " +
                          std::to_string(values.size()) + " values: each key needs its value");
  }
  // Zero-filled: the mean's running sums start from the outputs' contents.
  std::vector<double> first(static_cast<std::size_t>(m)), second(first), third(first);
  bool complete = true;
  {
    const py::gil_scoped_release unlocked;
    if (median) {
      complete = integrate_median(keys.data(), n, values.data(), centres.data(), m, first.data(),
                                  second.data(), third.data(), m);
    } else {
      integrate_mean(keys.data(), n, values.data(), centres.data(), m, first.data(), second.data(),
                     third.data(), m);
    }
  }
  if (!complete) throw std::bad_alloc();
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

Without `shape`, x and y of one shape give one angle per pair (x[i], y[i]),
and otherwise a grid of len(y) rows and len(x) columns (column c takes
x[c], row r y[r]). With `shape`, the module's own rule decides: pairs when
x has as many values as the output, a grid whose rows are the shape's last
dimension long otherwise. An element whose coordinates are missing is NaN.)");
  m.def("azimuths", &azimuths, py::arg("y"), py::arg("x"), py::arg("shape") = py::none(),
        R"(azimuths(y, x, shape=None) -> numpy.ndarray

The azimuth in degrees, 0 to 360, of every pixel seen from the beam centre,
counted from +x towards +y (the module's AZIMUTHIMAGEPLATE; y comes first,
as there). A coordinate that is 0 is taken as 1, so a pixel on an axis gets
the angle of its neighbour one unit off.

Without `shape`, y and x of one shape give one azimuth per pair, and
otherwise a grid of len(y) rows and len(x) columns. With `shape`, the
module's rule decides: pairs when y has as many values as the output, a
grid otherwise. An element whose coordinates are missing is NaN.)");
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
elements as keys.)");
}

}  // namespace vokip::python
