// vokip.Reducer: the engine's reduction with a plan kept from image to
// image, for images handed over as arrays or read from MAR345 files, and
// the Profile it returns.
#include "engine/run/reducer.h"

#include <pybind11/stl.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "arrays.h"
#include "engine/formats/image.h"
#include "engine/geometry/units.h"

namespace vokip::python {

namespace {

// More threads than this on one image would only contend.
constexpr long long kMostThreads = 256;

// The cake as NumPy arrays: rows of azimuth bins, columns of radial bins.
struct PyCake {
  py::array radial, azimuth, intensity, count;
  double azimuth_width = 0;
};

// A profile as NumPy arrays: the bins' positions on the unit's axis, their
// values, standard errors and pixel counts, and the rest of the engine's
// statistics.
struct PyProfile {
  py::array radial, intensity, count, variance, spread;
  py::object sigma;  // None without an error model
  py::object cake;   // None without azimuth bins
  std::string unit, statistic, error_model;
  double bin_width = 0;
  py::dict pixels;

  py::tuple main() const { return py::make_tuple(radial, intensity, sigma, count); }
};

PyProfile to_python(Profile&& p) {
  std::vector<double> radial(p.centre.size());
  for (std::size_t i = 0; i < radial.size(); ++i) radial[i] = axis_value(p.unit, p.centre[i]);
  PyProfile out;
  out.cake = py::none();
  if (!p.cake.empty()) {
    const AzimuthBins& a = p.cake.azimuth;
    std::vector<double> azimuth(static_cast<std::size_t>(a.count));
    for (int j = 0; j < a.count; ++j) azimuth[j] = a.centre(j);
    std::vector<double> cake_radial(p.cake.centre.size());
    for (std::size_t i = 0; i < cake_radial.size(); ++i) {
      cake_radial[i] = axis_value(p.unit, p.cake.centre[i]);
    }
    const std::vector<py::ssize_t> cells = {a.count, static_cast<py::ssize_t>(cake_radial.size())};
    PyCake cake;
    cake.radial = adopt(std::move(cake_radial));
    cake.azimuth = adopt(std::move(azimuth));
    cake.intensity = adopt(std::move(p.cake.value), cells);
    cake.count = adopt(std::move(p.cake.count), cells);
    cake.azimuth_width = a.width_deg;
    out.cake = py::cast(std::move(cake));
  }
  out.radial = adopt(std::move(radial));
  out.intensity = adopt(std::move(p.value));
  out.count = adopt(std::move(p.count));
  out.variance = adopt(std::move(p.variance));
  out.spread = adopt(std::move(p.spread));
  out.sigma = p.sigma.empty() ? py::object(py::none()) : py::object(adopt(std::move(p.sigma)));
  out.unit = unit_name(p.unit);
  out.statistic = statistic_name(p.statistic);
  out.error_model = error_model_name(p.error_model);
  out.bin_width = p.bin_width;
  const PixelTally& t = p.pixels;
  out.pixels["total"] = t.total;
  out.pixels["zero"] = t.zero;
  out.pixels["masked"] = t.masked;
  out.pixels["off_sector"] = t.off_sector;
  out.pixels["off_range"] = t.off_range;
  out.pixels["outside_limits"] = t.outside_limits;
  out.pixels["used"] = t.used;
  return out;
}

py::dict geometry_dict(const Geometry& g) {
  py::dict d;
  d["distance_mm"] = g.distance_mm;
  d["center"] = py::make_tuple(g.center_x_px, g.center_y_px);
  d["pixel_size_um"] = py::make_tuple(g.pixel_x_um, g.pixel_y_um);
  d["tilt_deg"] = g.tilt_deg;
  d["tilt_direction_deg"] = g.tilt_direction_deg;
  d["rotation_about_beam_deg"] = g.rotation_about_beam_deg;
  d["wavelength_angstrom"] =
      g.wavelength_angstrom ? py::object(py::float_(*g.wavelength_angstrom)) : py::none();
  return d;
}

std::optional<double> number(const char* name, const py::handle& v) {
  if (v.is_none()) return std::nullopt;
  const double x = number_argument(name, v);
  if (!std::isfinite(x)) throw py::value_error(std::string(name) + " must be a finite number");
  return x;
}

// A whole number held within T's range: the engine's limits refuse what lies
// beyond them with their own message.
template <class T>
T whole(const char* name, const py::handle& v) {
  const long long n = whole_argument(name, v);
  return static_cast<T>(
      std::clamp<long long>(n, std::numeric_limits<T>::min(), std::numeric_limits<T>::max()));
}

// Two numbers, an end left None when may_be_open.
std::pair<std::optional<double>, std::optional<double>> pair_of(const char* name,
                                                                const py::handle& v,
                                                                bool may_be_open) {
  if (py::isinstance<py::str>(v) || !py::isinstance<py::sequence>(v) || py::len(v) != 2) {
    throw py::value_error(std::string(name) + " takes two numbers");
  }
  const auto items = v.cast<py::sequence>();
  std::pair<std::optional<double>, std::optional<double>> out{number(name, items[0]),
                                                              number(name, items[1])};
  if (!may_be_open && (!out.first || !out.second)) {
    throw py::value_error(std::string(name) + " takes two numbers");
  }
  return out;
}

// An image of values the engine reads as float (dark, flat), from an array.
std::shared_ptr<const ValueImage> value_image(const char* name, const py::handle& array) {
  const py::array_t<float> a = array_argument(name, array, py::dtype::of<float>());
  if (a.ndim() != 2)
    throw py::value_error(std::string(name) + ": a dark or flat array must be 2-D");
  auto image = std::make_shared<ValueImage>();
  image->height = image_side(name, a.shape(0));
  image->width = image_side(name, a.shape(1));
  allocate(name, &image->values, a.size());
  std::copy(a.data(), a.data() + a.size(), image->values.begin());
  return image;
}

std::shared_ptr<const Mask> mask_image(const py::handle& array) {
  const py::array given = array_argument("mask", array, py::dtype("bool"));
  if (given.ndim() != 2) throw py::value_error("mask: a mask array must be 2-D");
  const py::array_t<std::uint8_t> a = array_argument("mask", given, py::dtype::of<std::uint8_t>());
  auto mask = std::make_shared<Mask>();
  mask->height = image_side("mask", a.shape(0));
  mask->width = image_side("mask", a.shape(1));
  allocate("mask", &mask->excluded, a.size());
  std::copy(a.data(), a.data() + a.size(), mask->excluded.begin());
  return mask;
}

// An image as the engine takes it: whole counts 0 to 2^32 - 1 (any integer
// type, or floats that are all whole numbers, NaN being no data), which
// give the profile of a file of them; or, of other floats, the values as
// they are. Converted only when they are not of the type already.
struct ImageArray {
  py::array array;  // uint32 counts, or double values
  bool counts = true;
};

ImageArray image_of(const py::handle& given) {
  if (!py::isinstance<py::array>(given)) {
    throw py::type_error(std::string("image must be a NumPy array, not ") +
                         Py_TYPE(given.ptr())->tp_name);
  }
  auto image = py::reinterpret_borrow<py::array>(given);
  if (image.ndim() != 2) {
    throw py::value_error("image: an image is a 2-D array, not " + std::to_string(image.ndim()) +
                          "-D");
  }
  image_side("image", image.shape(0));
  image_side("image", image.shape(1));
  const char kind = image.dtype().kind();
  if (kind != 'u' && kind != 'i' && kind != 'f') {
    throw py::type_error("image: an image holds counts or values (integers or floats), not " +
                         py::str(image.dtype()).cast<std::string>());
  }
  const py::object numpy = py::module_::import("numpy");
  ImageArray out;
  if (kind == 'f') {
    const py::object finite = numpy.attr("isfinite")(image);
    if (numpy.attr("isinf")(image).attr("any")().cast<bool>()) {
      throw py::value_error("image: an image's values are finite (NaN for no data)");
    }
    const py::object known = image[finite];
    const bool whole =
        known.attr("size").cast<std::size_t>() == 0 ||
        (numpy.attr("all")(numpy.attr("equal")(numpy.attr("floor")(known), known)).cast<bool>() &&
         known.attr("min")().cast<double>() >= 0 &&
         known.attr("max")().cast<double>() <= 4294967295.0);
    if (!whole) {
      out.array = array_argument("image", image, py::dtype::of<double>());
      out.counts = false;
      return out;
    }
    image = numpy.attr("where")(finite, image, 0);
  } else if (image.size() > 0 && (kind == 'i' || image.itemsize() > 4)) {
    // Compared as Python numbers: any integer type's extremes take part.
    const py::object low = image.attr("min")(), high = image.attr("max")();
    if (low < py::int_(0) || high > py::int_(std::numeric_limits<std::uint32_t>::max())) {
      throw py::value_error("image: an image's counts lie from 0 to 4294967295");
    }
  }
  out.array = array_argument("image", image, py::dtype::of<std::uint32_t>());
  return out;
}

class Reducer {
 public:
  Reducer(ReductionRequest request, unsigned threads) {
    const py::gil_scoped_release unlocked;
    reducer_ = std::make_unique<FileReducer>(std::move(request), threads);
  }

  PyProfile integrate(const py::object& image) {
    const ImageArray given = image_of(image);
    const int rows = static_cast<int>(given.array.shape(0));
    const int columns = static_cast<int>(given.array.shape(1));
    const void* data = given.array.data();
    Profile profile;
    {
      const py::gil_scoped_release unlocked;
      const std::lock_guard<std::mutex> lock(mutex_);
      if (given.counts) {
        image_.assign(static_cast<const std::uint32_t*>(data), columns, rows);
      } else {
        image_.assign(static_cast<const double*>(data), columns, rows);
      }
      profile = reducer_->reduce(image_);
    }
    return to_python(std::move(profile));
  }

  PyProfile integrate_file(const py::object& file) {
    const std::string path = path_argument("path", file);
    FileReduction reduction;
    {
      const py::gil_scoped_release unlocked;
      const std::lock_guard<std::mutex> lock(mutex_);
      reduction = reducer_->reduce(path);
    }
    if (reduction.failure) throw about_file(path, *reduction.failure);
    return to_python(std::move(reduction.profile));
  }

  py::object shape() const {
    std::optional<ImageShape> shape;
    {
      const py::gil_scoped_release unlocked;
      const std::lock_guard<std::mutex> lock(mutex_);
      shape = reducer_->shape();
    }
    if (!shape) return py::none();
    return py::make_tuple(shape->rows, shape->columns);
  }

  py::object geometry() const {
    std::optional<Geometry> geometry;
    {
      const py::gil_scoped_release unlocked;
      const std::lock_guard<std::mutex> lock(mutex_);
      geometry = reducer_->geometry();
    }
    if (!geometry) return py::none();
    return geometry_dict(*geometry);
  }

  std::string unit() const { return unit_name(reducer_->request().unit); }

 private:
  mutable std::mutex mutex_;  // one reduction at a time: one set of buffers
  std::unique_ptr<FileReducer> reducer_;
  Image image_;
};

std::unique_ptr<Reducer> make_reducer(
    const py::object& poni, const py::object& distance, const py::object& center,
    const py::object& pixel_size, const py::object& tilt, const py::object& tilt_direction,
    const py::object& wavelength, const py::object& bins, const py::object& bin_width,
    const py::object& range, const py::object& unit, const py::object& median,
    const py::object& mask, const py::object& azimuth, const py::object& low,
    const py::object& high, const py::object& dark, const py::object& flat,
    const py::object& polarization, const py::object& plate_absorption,
    const py::object& solid_angle, const py::object& error_model, const py::object& split,
    const py::object& cake, const py::object& cake_bins, const py::object& shape,
    const py::object& threads) {
  // The keywords into the engine's request, which checks them.
  ReductionRequest r;
  GeometryOverrides& g = r.geometry;
  if (!poni.is_none()) r.poni_file = path_argument("poni", poni);
  g.distance_mm = number("distance", distance);
  if (!center.is_none()) std::tie(g.center_x_px, g.center_y_px) = pair_of("center", center, false);
  if (!pixel_size.is_none()) {
    if (py::isinstance<py::sequence>(pixel_size)) {
      std::tie(g.pixel_x_um, g.pixel_y_um) = pair_of("pixel_size", pixel_size, false);
    } else {
      g.pixel_x_um = g.pixel_y_um = number("pixel_size", pixel_size);
    }
  }
  g.tilt_deg = number("tilt", tilt);
  g.tilt_direction_deg = number("tilt_direction", tilt_direction);
  g.wavelength_angstrom = number("wavelength", wavelength);

  if (!bins.is_none()) r.bins.count = whole<std::int64_t>("bins", bins);
  r.bins.width = number("bin_width", bin_width);
  if (!range.is_none()) std::tie(r.bins.low, r.bins.high) = pair_of("range", range, true);
  r.unit = unit_called(text_argument("unit", unit));
  r.run.statistic = flag_argument("median", median) ? Statistic::median : Statistic::mean;

  if (is_path(mask)) {
    r.mask_file = path_argument("mask", mask);
  } else if (!mask.is_none()) {
    r.mask = mask_image(mask);
  }
  if (!azimuth.is_none()) {
    const auto sector = pair_of("azimuth", azimuth, false);
    r.sector = AzimuthSector{*sector.first, *sector.second};
  }
  r.run.low = number("low", low);
  r.run.high = number("high", high);
  for (const auto& [name, object, path, image] :
       {std::tuple{"dark", &dark, &r.dark_file, &r.corrections.dark},
        std::tuple{"flat", &flat, &r.flat_file, &r.corrections.flat}}) {
    if (is_path(*object)) {
      *path = path_argument(name, *object);
    } else if (!object->is_none()) {
      *image = value_image(name, *object);
    }
  }
  r.corrections.polarization = number("polarization", polarization);
  r.corrections.plate_absorption = number("plate_absorption", plate_absorption);
  r.corrections.solid_angle = flag_argument("solid_angle", solid_angle);
  if (!error_model.is_none()) {
    r.run.error_model = error_model_called(text_argument("error_model", error_model));
  }
  r.split = split_called(text_argument("split", split));
  if (!cake.is_none()) r.azimuth_bins = whole<long>("cake", cake);
  if (!cake_bins.is_none()) r.cake_bins = whole<long>("cake_bins", cake_bins);

  if (!shape.is_none()) {
    const std::vector<py::ssize_t> dims = shape_of(shape);
    if (dims.size() != 2) throw py::value_error("shape is (rows, columns)");
    r.shape =
        ImageShape{whole<int>("shape", py::int_(dims[0])), whole<int>("shape", py::int_(dims[1]))};
  }
  r.one_shape = true;  // a Reducer plans for one image size
  const long long workers = whole_argument("threads", threads);
  if (workers < 1 || workers > kMostThreads) {
    throw py::value_error("threads must be 1 to " + std::to_string(kMostThreads));
  }
  return std::make_unique<Reducer>(std::move(r), static_cast<unsigned>(workers));
}

}  // namespace

void bind_reducer(py::module_& m) {
  py::class_<PyCake>(m, "Cake", R"(Radial bins in every azimuth bin.

intensity and count have one row per azimuth bin and one column per radial
bin (the cake's radial array: the profile's bins, or cake_bins of them over
the same range); a cell without pixels is NaN.)")
      .def_readonly("radial", &PyCake::radial,
                    "the radial bins' centres on the unit's axis (the profile's unless cake_bins)")
      .def_readonly("azimuth", &PyCake::azimuth, "the azimuth bins' centres, degrees")
      .def_readonly("azimuth_width", &PyCake::azimuth_width, "the azimuth bins' width, degrees")
      .def_readonly("intensity", &PyCake::intensity,
                    "each cell's mean (or median) corrected value, azimuth bins x radial bins")
      .def_readonly("count", &PyCake::count,
                    "pixels per cell; with split pixels the sum of their shares (float64)")
      .def("__repr__", [](const PyCake& c) {
        return "<vokip.Cake: " + std::to_string(py::len(c.azimuth)) + " azimuth bins>";
      });

  py::class_<PyProfile>(m, "Profile", R"(A 1-D profile: one element per bin in each array.

Iterating gives (radial, intensity, sigma, count), so that
`x, y, sigma, n = reducer.integrate(image)` unpacks it.)")
      .def_readonly("radial", &PyProfile::radial,
                    "the bins' centres on the unit's axis (d in angstrom for d_A, falling)")
      .def_readonly("intensity", &PyProfile::intensity,
                    "each bin's mean (or median) corrected value; NaN for a bin without pixels")
      .def_readonly("sigma", &PyProfile::sigma,
                    "each bin's standard error from the error model; None without one")
      .def_readonly("count", &PyProfile::count,
                    "pixels per bin; with split pixels the sum of their shares (float64)")
      .def_readonly("variance", &PyProfile::variance,
                    "the sample variance of each bin's values, or their variance about the median")
      .def_readonly("spread", &PyProfile::spread,
                    "the dispersion sum((v - mean)^2) / mean, or the mean absolute deviation "
                    "about the median")
      .def_readonly("unit", &PyProfile::unit, "the radial unit's name, e.g. '2th_deg'")
      .def_readonly("statistic", &PyProfile::statistic, "'mean' or 'median'")
      .def_readonly("error_model", &PyProfile::error_model, "'none', 'poisson' or 'azimuthal'")
      .def_readonly("bin_width", &PyProfile::bin_width, "the bins' width in the unit (q for d_A)")
      .def_readonly("cake", &PyProfile::cake,
                    "the cake (a Cake) when the Reducer has azimuth bins (cake=N), else None")
      .def_readonly("pixels", &PyProfile::pixels,
                    "the image's pixels by what became of them: total, zero (no data), masked, "
                    "off_sector, off_range, outside_limits, used")
      .def(
          "__iter__", [](const PyProfile& p) { return py::iter(p.main()); },
          "iter(profile): radial, intensity, sigma, count")
      .def(
          "__len__", [](const PyProfile&) { return 4; }, "len(profile): 4, the arrays unpacked")
      .def("__repr__", [](const PyProfile& p) {
        return "<vokip.Profile: " + std::to_string(py::len(p.radial)) + " bins in " + p.unit +
               ", " + p.statistic + ", error model " + p.error_model + ">";
      });

  py::class_<Reducer>(m, "Reducer",
                      R"(Reduces images of one geometry to 1-D profiles, as vokip-reduce does.

Reducer(*, poni=None, distance=None, center=None, pixel_size=None, tilt=None,
        tilt_direction=None, wavelength=None, bins=None, bin_width=None,
        range=None, unit='2th_deg', median=False, mask=None, azimuth=None,
        low=None, high=None, dark=None, flat=None, polarization=None,
        plate_absorption=None,
        solid_angle=True, error_model=None, split='bbox', cake=None,
        cake_bins=None, shape=None, threads=2)

Each keyword is the vokip-reduce option of the same name, and equal options
give equal profiles:
  poni            a pyFAI .poni file (versions 1, 2 and 2.1) for the geometry
  distance        sample-to-plate distance, mm
  center          beam centre (x, y) in pixels; pixel (column c, row r) has
                  its centre at (c + 0.5, r + 0.5)
  pixel_size      micrometres, or (x, y)
  tilt, tilt_direction   plate tilt and the direction, from +x towards +y,
                  in which the tilted plate moves away from the sample, deg
  wavelength      angstrom (needed for q and d)
  bins, bin_width the number of bins or their width in the unit (default:
                  one bin per pixel of radius to the farthest corner)
  range           (low, high) in the unit, either end None for the data's
  unit            '2th_deg', 'q_nm^-1', 'q_A^-1', 'r_mm' or 'd_A'
  median          each bin's median of corrected values (weighted by each
                  pixel's share) instead of its mean, sum(raw - dark) /
                  sum(flat x solid angle x polarization)
  mask            a mask file (PGM, FIT2D .msk, TIFF or EDF) or an array of the image's
                  shape; pixels that are not 0 in it are left out
  azimuth         (from, to): keep pixels whose azimuth chi lies in it, deg
  low, high       leave out pixels whose raw value lies below low or above high
  dark, flat      a file (MAR345, TIFF or EDF) or an array: value =
                  (raw - dark) / (flat x solid angle x polarization)
  polarization    pyFAI's P, -1 to 1
  plate_absorption  the image plate phosphor's attenuation times thickness
                  (mu t, about 0.1 to 2 for MAR345 plates): divides by the
                  plate's efficiency at the ray's incidence, relative to
                  normal incidence
  solid_angle     divide by cos^3 of the ray's angle to the plate's normal
  error_model     None, 'poisson' or 'azimuthal': adds sigma
  split           'bbox' (pyFAI's default), 'full' or 'none': how a pixel is
                  spread over the bins it covers
  cake            the cake: the radial bins in this many azimuth bins (1 to
                  3600) over 0 to 360 degrees or the azimuth sector
  cake_bins       the cake's radial bins (default: the profile's)
Beyond the command line's:
  shape           (rows, columns) of the images; default: the first image's
  threads         threads that bin one image (default 2, as vokip-reduce)

The geometry a keyword leaves out comes from each file's header
(integrate_file); images given as arrays need it whole, from poni or from
distance, center and pixel_size. The Reducer keeps its plan (every pixel's
position, their order, each pixel's correction) for every further image of
the same geometry, and plans for one image size: an image of another shape
is refused. It releases the GIL while it works, so that threads can reduce
with Reducers of their own at once; one Reducer reduces one image at a
time.)")
      .def(py::init(&make_reducer), py::kw_only(), py::arg("poni") = py::none(),
           py::arg("distance") = py::none(), py::arg("center") = py::none(),
           py::arg("pixel_size") = py::none(), py::arg("tilt") = py::none(),
           py::arg("tilt_direction") = py::none(), py::arg("wavelength") = py::none(),
           py::arg("bins") = py::none(), py::arg("bin_width") = py::none(),
           py::arg("range") = py::none(), py::arg("unit") = "2th_deg", py::arg("median") = false,
           py::arg("mask") = py::none(), py::arg("azimuth") = py::none(),
           py::arg("low") = py::none(), py::arg("high") = py::none(), py::arg("dark") = py::none(),
           py::arg("flat") = py::none(), py::arg("polarization") = py::none(),
           py::arg("plate_absorption") = py::none(), py::arg("solid_angle") = true,
           py::arg("error_model") = py::none(), py::arg("split") = py::str("bbox"),
           py::arg("cake") = py::none(), py::arg("cake_bins") = py::none(),
           py::arg("shape") = py::none(), py::arg("threads") = 2,
           "Reducer(*, poni=None, distance=None, ...): see the class's description.")
      .def("integrate", &Reducer::integrate, py::arg("image"),
           R"(integrate(image) -> Profile

Reduces an image given as a 2-D array: whole counts (any integer type, 0 to
2^32 - 1; uint32 in C order is used without a copy), or floats (float32 or
float64), such as a background-subtracted or normalised image, whose values
may be negative or fractional (floats that are all whole numbers give the
profile of the counts they are). Pixels of value 0 (and NaN) are no data.
The counting error model needs counts. The geometry is the Reducer's own.)")
      .def("integrate_file", &Reducer::integrate_file, py::arg("path"),
           R"(integrate_file(path) -> Profile

Reads, decodes and reduces a MAR345 file, its header giving what the
Reducer's keywords leave out of the geometry: the profile vokip-reduce
writes for the file with the same options. A file that cannot be reduced
raises ValueError (OSError when it cannot be read) with vokip-reduce's
message.)")
      .def_property_readonly("shape", &Reducer::shape,
                             "(rows, columns) of the images planned for, or None before the first")
      .def_property_readonly("geometry", &Reducer::geometry,
                             "the geometry of the plan in use as a dict, or None before the first")
      .def_property_readonly("unit", &Reducer::unit, "the radial unit's name");
}

}  // namespace vokip::python
