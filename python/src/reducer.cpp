// vokip.Reducer: the engine's reduction with a plan kept from image to
// image, for images handed over as arrays or read from MAR345 files, and
// the Profile it returns.
#include <pybind11/stl.h>

#include <cmath>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "arrays.h"
#include "cli/reduce/batch.h"
#include "engine/formats/files.h"
#include "engine/formats/mar345.h"
#include "engine/geometry/units.h"
#include "engine/run/batch.h"
#include "engine/run/image.h"
#include "engine/run/reduce.h"

namespace vokip::python {

namespace {

// The cake as NumPy arrays: rows of azimuth bins, columns of the profile's
// radial bins.
struct PyCake {
  py::array azimuth, intensity, count;
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

const char* statistic_name(Statistic s) {
  return s == Statistic::median ? "median" : "mean";
}

const char* error_model_name(ErrorModel e) {
  return e == ErrorModel::poisson ? "poisson" : e == ErrorModel::azimuthal ? "azimuthal" : "none";
}

PyProfile to_python(Profile&& p) {
  std::vector<double> radial(p.centre.size());
  for (std::size_t i = 0; i < radial.size(); ++i) radial[i] = axis_value(p.unit, p.centre[i]);
  PyProfile out;
  out.cake = py::none();
  if (!p.cake.empty()) {
    const AzimuthBins& a = p.cake.azimuth;
    std::vector<double> azimuth(static_cast<std::size_t>(a.count));
    for (int j = 0; j < a.count; ++j) azimuth[j] = a.centre(j);
    const std::vector<py::ssize_t> cells = {a.count, static_cast<py::ssize_t>(radial.size())};
    PyCake cake;
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
  if (py::isinstance<py::str>(v) || !py::hasattr(v, "__float__")) {
    throw py::type_error(std::string(name) + " must be a number");
  }
  const double x = py::float_(py::reinterpret_borrow<py::object>(v)).cast<double>();
  if (!std::isfinite(x)) throw py::value_error(std::string(name) + " must be a finite number");
  return x;
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
std::shared_ptr<const ValueImage> value_image(const py::handle& array) {
  const auto a = py::array_t<float, py::array::c_style | py::array::forcecast>::ensure(array);
  if (!a || a.ndim() != 2) throw py::value_error("a dark or flat array must be 2-D");
  auto image = std::make_shared<ValueImage>();
  image->height = static_cast<int>(a.shape(0));
  image->width = static_cast<int>(a.shape(1));
  image->values.assign(a.data(), a.data() + a.size());
  return image;
}

std::shared_ptr<const Mask> mask_image(const py::handle& array) {
  const py::object nonzero = py::module_::import("numpy").attr("not_equal")(array, 0);
  const auto a = py::array_t<std::uint8_t, py::array::c_style | py::array::forcecast>::ensure(
      nonzero.attr("astype")("uint8"));
  if (!a || a.ndim() != 2) throw py::value_error("a mask array must be 2-D");
  auto mask = std::make_shared<Mask>();
  mask->height = static_cast<int>(a.shape(0));
  mask->width = static_cast<int>(a.shape(1));
  mask->excluded.assign(a.data(), a.data() + a.size());
  return mask;
}

std::string shape_text(int rows, int columns) {
  return "(" + std::to_string(rows) + ", " + std::to_string(columns) + ")";
}

// The image as the engine's full intensities: whole numbers 0 to 2^32 - 1,
// row-major; converted only when it is not uint32 in C order already.
py::array_t<std::uint32_t> counts_of(const py::array& image) {
  if (image.ndim() != 2) {
    throw py::value_error("an image is a 2-D array, not " + std::to_string(image.ndim()) + "-D");
  }
  const char kind = image.dtype().kind();
  if (kind != 'u' && kind != 'i') {
    throw py::type_error("an image holds integer counts, not " +
                         py::str(image.dtype()).cast<std::string>());
  }
  if (image.size() > 0 && (kind == 'i' || image.itemsize() > 4)) {
    const auto low = image.attr("min")().cast<long long>();
    const auto high = image.attr("max")().cast<unsigned long long>();
    if (low < 0 || high > std::numeric_limits<std::uint32_t>::max()) {
      throw py::value_error("an image's counts lie from 0 to 4294967295");
    }
  }
  return py::array_t<std::uint32_t, py::array::c_style | py::array::forcecast>::ensure(image);
}

class Reducer {
 public:
  Reducer(ReductionRequest request, std::optional<std::pair<int, int>> shape, unsigned threads)
      : request_(std::move(request)), shape_(shape), workspaces_(threads) {
    // A geometry given whole is checked now, and with a shape planned now.
    if (!geometry_given()) return;
    if (shape_) check_geometry_for_arrays();
    const py::gil_scoped_release unlocked;
    const std::lock_guard<std::mutex> lock(mutex_);
    resolve_geometry(Mar345Header(), request_.geometry);
    if (shape_) use_plan(array_spec(shape_->first, shape_->second));
  }

  PyProfile integrate(const py::array& image) {
    const py::array_t<std::uint32_t> counts = counts_of(image);
    check_geometry_for_arrays();
    const int rows = static_cast<int>(counts.shape(0)), columns = static_cast<int>(counts.shape(1));
    const std::uint32_t* data = counts.data();
    Profile profile;
    {
      const py::gil_scoped_release unlocked;
      const std::lock_guard<std::mutex> lock(mutex_);
      check_shape(rows, columns);
      image_.assign(data, columns, rows);
      use_plan(array_spec(rows, columns));
      shape_ = {rows, columns};
      profile = reduce_image(*plan_, image_, request_.run, &workspaces_);
    }
    return to_python(std::move(profile));
  }

  // The steps of vokip-reduce for one file, in its order: read, decode, the
  // plan for the header's geometry, the reduction. A decoding error is told
  // after the plan's, as there.
  PyProfile integrate_file(const py::object& file) {
    const std::string path = path_of(file);
    Profile profile;
    {
      const py::gil_scoped_release unlocked;
      const std::lock_guard<std::mutex> lock(mutex_);
      try {
        read_file(path, &bytes_);
        const Mar345Header header = parse_mar345(bytes_.data(), bytes_.size());
        std::string decode_error;
        try {
          image_.decode(bytes_.data(), header);
        } catch (const Error& e) {
          decode_error = e.what();
        }
        const PlanParameters parameters = plan_spec(header, request_);
        check_shape(parameters.height, parameters.width);
        use_plan(parameters);
        shape_ = {parameters.height, parameters.width};
        if (!decode_error.empty()) throw Error(decode_error);
        profile = reduce_image(*plan_, image_, request_.run, &workspaces_);
      } catch (const Error& e) {
        throw about_file(path, e);
      }
    }
    return to_python(std::move(profile));
  }

  py::object shape() const {
    std::optional<std::pair<int, int>> shape;
    {
      const py::gil_scoped_release unlocked;
      const std::lock_guard<std::mutex> lock(mutex_);
      shape = shape_;
    }
    if (!shape) return py::none();
    return py::make_tuple(shape->first, shape->second);
  }

  py::object geometry() const {
    std::shared_ptr<const Plan> plan;
    {
      const py::gil_scoped_release unlocked;
      const std::lock_guard<std::mutex> lock(mutex_);
      plan = plan_;
    }
    if (!plan) return py::none();
    return geometry_dict(plan->parameters().geometry);
  }

  std::string unit() const { return unit_name(request_.unit); }

 private:
  bool geometry_given() const {
    const GeometryOverrides& g = request_.geometry;
    return g.base || (g.distance_mm && g.center_x_px && g.pixel_x_um);
  }

  // An array has no header: the Reducer's own geometry must be complete.
  void check_geometry_for_arrays() const {
    if (!geometry_given()) {
      throw Error(
          "an image given as an array has no header to take the geometry from: give poni=, or "
          "distance=, center= and pixel_size=");
    }
    const GeometryOverrides& g = request_.geometry;
    const bool wavelength = g.wavelength_angstrom || (g.base && g.base->wavelength_angstrom);
    if (needs_wavelength(request_.unit) && !wavelength) {
      throw Error(std::string("the unit ") + unit_name(request_.unit) +
                  " needs the wavelength: give wavelength= (angstrom) or a .poni with one");
    }
  }

  PlanParameters array_spec(int rows, int columns) const {
    Mar345Header none;
    PlanParameters parameters = plan_spec(none, request_);
    parameters.width = columns;
    parameters.height = rows;
    return parameters;
  }

  // A Reducer plans for one image size: the one it was given, or its first image's.
  void check_shape(int rows, int columns) const {
    if (shape_ && (shape_->first != rows || shape_->second != columns)) {
      throw Error("the image's shape " + shape_text(rows, columns) +
                  " is not the shape this Reducer plans for, " +
                  shape_text(shape_->first, shape_->second) +
                  ": images of another size need a Reducer of their own");
    }
  }

  // Keeps the plan while the parameters stays the same; one plan's memory at a time.
  void use_plan(const PlanParameters& parameters) {
    if (plan_ && plan_->parameters() == parameters) return;
    plan_.reset();
    plan_ = std::make_shared<const Plan>(parameters);
  }

  const ReductionRequest request_;
  std::optional<std::pair<int, int>> shape_;  // rows, columns
  mutable std::mutex mutex_;                  // one reduction at a time: one set of buffers
  std::shared_ptr<const Plan> plan_;
  std::vector<Workspace> workspaces_;
  Image image_;
  std::vector<std::uint8_t> bytes_;
};

std::unique_ptr<Reducer> make_reducer(
    const py::object& poni, const py::object& distance, const py::object& center,
    const py::object& pixel_size, const py::object& tilt, const py::object& tilt_direction,
    const py::object& wavelength, const py::object& bins, const py::object& bin_width,
    const py::object& range, const std::string& unit, bool median, const py::object& mask,
    const py::object& azimuth, const py::object& low, const py::object& high,
    const py::object& dark, const py::object& flat, const py::object& polarization,
    bool solid_angle, const py::object& error_model, const py::object& cake,
    const py::object& shape, int threads) {
  // The command line's options, read into a request as vokip-reduce reads them.
  Options o;
  ReductionRequest& r = o.request;
  GeometryOverrides& g = r.geometry;
  if (!poni.is_none()) o.poni_path = path_of(poni);
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

  if (!bins.is_none() && !bin_width.is_none()) {
    throw py::value_error("give either bins or bin_width, not both");
  }
  if (!bins.is_none()) {
    const auto count = py::module_::import("operator").attr("index")(bins).cast<long long>();
    if (count < 1 || count > kMostBins) {
      throw py::value_error("bins must be 1 to " + std::to_string(kMostBins));
    }
    r.bins.count = count;
  }
  if (!bin_width.is_none()) {
    r.bins.width = number("bin_width", bin_width);
    if (!(*r.bins.width > 0)) throw py::value_error("bin_width must be positive");
  }
  if (!range.is_none()) {
    std::tie(r.bins.low, r.bins.high) = pair_of("range", range, true);
    if (r.bins.low && r.bins.high && !(*r.bins.high > *r.bins.low)) {
      throw py::value_error("range needs its low end below its high end");
    }
  }
  const std::optional<Unit> u = unit_named(unit);
  if (!u) {
    throw py::value_error("unit must be 2th_deg, q_nm^-1, q_A^-1, r_mm or d_A, not '" + unit + "'");
  }
  r.unit = *u;
  r.run.statistic = median ? Statistic::median : Statistic::mean;

  if (!mask.is_none()) {
    if (is_path(mask)) {
      o.mask_path = path_of(mask);
    } else {
      r.mask = mask_image(mask);
    }
  }
  if (!azimuth.is_none()) {
    const auto sector = pair_of("azimuth", azimuth, false);
    if (!(*sector.second > *sector.first)) {
      throw py::value_error("azimuth needs its start below its end, in degrees");
    }
    r.sector = AzimuthSector{*sector.first, *sector.second};
  }
  r.run.low = number("low", low);
  r.run.high = number("high", high);
  if (r.run.low && r.run.high && !(*r.run.high >= *r.run.low)) {
    throw py::value_error("low must not lie above high");
  }

  for (const auto& [object, path, image] : {std::tuple{&dark, &o.dark_path, &r.corrections.dark},
                                            std::tuple{&flat, &o.flat_path, &r.corrections.flat}}) {
    if (object->is_none()) continue;
    if (is_path(*object)) {
      *path = path_of(*object);
    } else {
      *image = value_image(*object);
    }
  }
  r.corrections.polarization = number("polarization", polarization);
  if (r.corrections.polarization &&
      (*r.corrections.polarization < -1 || *r.corrections.polarization > 1)) {
    throw py::value_error("polarization must lie from -1 to 1");
  }
  r.corrections.solid_angle = solid_angle;
  if (!error_model.is_none()) {
    const auto name = error_model.cast<std::string>();
    if (name == "poisson") {
      r.run.error_model = ErrorModel::poisson;
    } else if (name == "azimuthal") {
      r.run.error_model = ErrorModel::azimuthal;
    } else if (name != "none") {
      throw py::value_error("error_model must be None, 'poisson' or 'azimuthal', not '" + name +
                            "'");
    }
  }

  if (!cake.is_none()) {
    const auto bins = py::module_::import("operator").attr("index")(cake).cast<long long>();
    if (bins < 1 || bins > kMostAzimuthBins) {
      throw py::value_error("cake must be 1 to " + std::to_string(kMostAzimuthBins) +
                            " azimuth bins");
    }
    r.azimuth_bins = static_cast<int>(bins);
  }

  std::optional<std::pair<int, int>> planned;
  if (!shape.is_none()) {
    const std::vector<py::ssize_t> dims = shape_of(shape);
    if (dims.size() != 2 || dims[0] < 1 || dims[1] < 1) {
      throw py::value_error("shape is (rows, columns), each at least 1");
    }
    planned = {static_cast<int>(dims[0]), static_cast<int>(dims[1])};
  }
  if (threads < 1) throw py::value_error("threads must be at least 1");

  ReductionRequest request;
  {
    const py::gil_scoped_release unlocked;
    request = loaded_request(o);
  }
  return std::make_unique<Reducer>(std::move(request), planned, static_cast<unsigned>(threads));
}

}  // namespace

void bind_reducer(py::module_& m) {
  py::class_<PyCake>(m, "Cake", R"(The profile's radial bins in every azimuth bin.

intensity and count have one row per azimuth bin and one column per radial
bin of the profile (its radial array); a cell without pixels is NaN.)")
      .def_readonly("azimuth", &PyCake::azimuth, "the azimuth bins' centres, degrees")
      .def_readonly("azimuth_width", &PyCake::azimuth_width, "the azimuth bins' width, degrees")
      .def_readonly("intensity", &PyCake::intensity,
                    "each cell's mean (or median) corrected value, azimuth bins x radial bins")
      .def_readonly("count", &PyCake::count, "pixels per cell (int64)")
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
      .def_readonly("count", &PyProfile::count, "pixels per bin (int64)")
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
        solid_angle=True, error_model=None, cake=None, shape=None, threads=2)

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
  median          each bin's median instead of its mean
  mask            a mask file (PGM, FIT2D .msk, TIFF or EDF) or an array of the image's
                  shape; pixels that are not 0 in it are left out
  azimuth         (from, to): keep pixels whose azimuth chi lies in it, deg
  low, high       leave out pixels whose raw value lies below low or above high
  dark, flat      a file (MAR345, TIFF or EDF) or an array: value =
                  (raw - dark) / (flat x solid angle x polarization)
  polarization    pyFAI's P, -1 to 1
  solid_angle     divide by cos^3 of the ray's angle to the plate's normal
  error_model     None, 'poisson' or 'azimuthal': adds sigma
  cake            the cake: the radial bins in this many azimuth bins (1 to
                  3600) over 0 to 360 degrees or the azimuth sector
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
           py::arg("solid_angle") = true, py::arg("error_model") = py::none(),
           py::arg("cake") = py::none(), py::arg("shape") = py::none(), py::arg("threads") = 2,
           "Reducer(*, poni=None, distance=None, ...): see the class's description.")
      .def("integrate", &Reducer::integrate, py::arg("image"),
           R"(integrate(image) -> Profile

Reduces an image given as a 2-D array of whole counts (any integer type,
0 to 2^32 - 1; uint32 in C order is used without a copy), pixels of value 0
being no data. The geometry is the Reducer's own.)")
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
