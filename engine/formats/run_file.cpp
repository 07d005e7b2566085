#include "engine/formats/run_file.h"

#include <hdf5.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <limits>
#include <map>
#include <optional>

#include "engine/base/error.h"
#include "engine/base/text.h"
#include "engine/formats/files.h"

namespace vokip {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// The most specific message of HDF5's error stack, such as the system's
// "No space left on device".
std::string hdf5_message() {
  std::string message;
  H5Ewalk2(
      H5E_DEFAULT, H5E_WALK_UPWARD,
      [](unsigned n, const H5E_error2_t* e, void* into) -> herr_t {
        if (n == 0 && e->desc) *static_cast<std::string*>(into) = e->desc;
        return 0;
      },
      &message);
  return message;
}

// Failures say what was being done with which file, then HDF5's reason.
[[noreturn]] void hdf5_failed(const std::string& what) {
  const std::string reason = hdf5_message();
  throw Error(what + (reason.empty() ? "" : ": " + reason), Error::Kind::io);
}

void check(herr_t status, const std::string& what) {
  if (status < 0) hdf5_failed(what);
}

// An HDF5 identifier, closed with its own close function.
class Id {
 public:
  Id() = default;
  Id(hid_t id, herr_t (*close)(hid_t), const std::string& what) : id_(id), close_(close) {
    if (id < 0) hdf5_failed(what);
  }
  Id(Id&& o) noexcept : id_(o.id_), close_(o.close_) { o.id_ = -1; }
  Id& operator=(Id&& o) noexcept {
    if (this != &o) {
      reset();
      id_ = o.id_;
      close_ = o.close_;
      o.id_ = -1;
    }
    return *this;
  }
  ~Id() { reset(); }
  // Closes it; false when closing failed (a file's last writes).
  bool reset() {
    const bool ok = id_ < 0 || close_(id_) >= 0;
    id_ = -1;
    return ok;
  }
  operator hid_t() const { return id_; }
  bool valid() const { return id_ >= 0; }

 private:
  hid_t id_ = -1;
  herr_t (*close_)(hid_t) = nullptr;
};

Id string_type() {
  Id type(H5Tcopy(H5T_C_S1), H5Tclose, "string type");
  check(H5Tset_size(type, H5T_VARIABLE), "string type");
  check(H5Tset_cset(type, H5T_CSET_UTF8), "string type");
  return type;
}

Id simple_space(const std::vector<hsize_t>& dims, const std::vector<hsize_t>& most = {}) {
  return Id(H5Screate_simple(static_cast<int>(dims.size()), dims.data(),
                             most.empty() ? nullptr : most.data()),
            H5Sclose, "dataspace");
}

void set_text(hid_t object, const char* name, const std::string& value) {
  const Id type = string_type();
  const Id space(H5Screate(H5S_SCALAR), H5Sclose, "dataspace");
  const Id attribute(H5Acreate2(object, name, type, space, H5P_DEFAULT, H5P_DEFAULT), H5Aclose,
                     std::string("attribute ") + name);
  const char* text = value.c_str();
  check(H5Awrite(attribute, type, &text), std::string("attribute ") + name);
}

void set_texts(hid_t object, const char* name, const std::vector<std::string>& values) {
  const Id type = string_type();
  const Id space = simple_space({values.size()});
  const Id attribute(H5Acreate2(object, name, type, space, H5P_DEFAULT, H5P_DEFAULT), H5Aclose,
                     std::string("attribute ") + name);
  std::vector<const char*> texts;
  for (const std::string& v : values) texts.push_back(v.c_str());
  check(H5Awrite(attribute, type, texts.data()), std::string("attribute ") + name);
}

template <class T>
void set_number(hid_t object, const char* name, hid_t file_type, hid_t memory_type, T value) {
  const Id space(H5Screate(H5S_SCALAR), H5Sclose, "dataspace");
  const Id attribute(H5Acreate2(object, name, file_type, space, H5P_DEFAULT, H5P_DEFAULT), H5Aclose,
                     std::string("attribute ") + name);
  check(H5Awrite(attribute, memory_type, &value), std::string("attribute ") + name);
}

void set_long(hid_t object, const char* name, long value) {
  set_number<long long>(object, name, H5T_STD_I64LE, H5T_NATIVE_LLONG, value);
}

void set_double(hid_t object, const char* name, double value) {
  set_number(object, name, H5T_IEEE_F64LE, H5T_NATIVE_DOUBLE, value);
}

Id make_group(hid_t parent, const char* name, const char* nx_class) {
  Id group(H5Gcreate2(parent, name, H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT), H5Gclose,
           std::string("group ") + name);
  set_text(group, "NX_class", nx_class);
  return group;
}

// A dataset of rows (its first dimension), each of the shape `row`, chunked
// `rows_per_chunk` rows at a time and extendible; unwritten rows read as
// `fill` (of memory_type). compress: shuffled and deflated.
Id make_rows(hid_t group, const char* name, hid_t file_type, hsize_t rows,
             const std::vector<hsize_t>& row, hsize_t rows_per_chunk, hid_t memory_type,
             const void* fill, bool compress = false) {
  std::vector<hsize_t> dims{rows}, most{H5S_UNLIMITED}, chunk{std::max<hsize_t>(1, rows_per_chunk)};
  for (hsize_t n : row) {
    dims.push_back(n);
    most.push_back(n);
    chunk.push_back(std::max<hsize_t>(1, n));
  }
  const Id space = simple_space(dims, most);
  const Id properties(H5Pcreate(H5P_DATASET_CREATE), H5Pclose, "dataset properties");
  check(H5Pset_chunk(properties, static_cast<int>(chunk.size()), chunk.data()), name);
  if (fill) check(H5Pset_fill_value(properties, memory_type, fill), name);
  if (compress) {
    check(H5Pset_shuffle(properties), name);
    check(H5Pset_deflate(properties, 1), name);
  }
  return Id(H5Dcreate2(group, name, file_type, space, H5P_DEFAULT, properties, H5P_DEFAULT),
            H5Dclose, std::string("dataset ") + name);
}

// Rows first .. first + count - 1 of the dataset, whole, as a selection.
Id rows_selected(hid_t dataset, hsize_t first, hsize_t count, std::vector<hsize_t>* shape) {
  Id space(H5Dget_space(dataset), H5Sclose, "dataspace");
  const int rank = H5Sget_simple_extent_ndims(space);
  std::vector<hsize_t> dims(static_cast<std::size_t>(std::max(rank, 1)));
  H5Sget_simple_extent_dims(space, dims.data(), nullptr);
  std::vector<hsize_t> start(dims.size(), 0);
  start[0] = first;
  dims[0] = count;
  check(H5Sselect_hyperslab(space, H5S_SELECT_SET, start.data(), nullptr, dims.data(), nullptr),
        "selection");
  *shape = dims;
  return space;
}

void write_rows(hid_t dataset, hsize_t first, hsize_t count, hid_t memory_type, const void* data,
                const std::string& what) {
  std::vector<hsize_t> shape;
  const Id file_space = rows_selected(dataset, first, count, &shape);
  const Id memory_space = simple_space(shape);
  check(H5Dwrite(dataset, memory_type, memory_space, file_space, H5P_DEFAULT, data), what);
}

void read_rows(hid_t dataset, hsize_t first, hsize_t count, hid_t memory_type, void* data,
               const std::string& what) {
  std::vector<hsize_t> shape;
  const Id file_space = rows_selected(dataset, first, count, &shape);
  const Id memory_space = simple_space(shape);
  check(H5Dread(dataset, memory_type, memory_space, file_space, H5P_DEFAULT, data), what);
}

// A small dataset written whole: an axis.
void write_axis(hid_t group, const char* name, const std::vector<double>& values, const char* units,
                const std::string& long_name) {
  const Id space = simple_space({values.size()});
  const Id dataset(
      H5Dcreate2(group, name, H5T_IEEE_F64LE, space, H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT),
      H5Dclose, std::string("dataset ") + name);
  if (!values.empty()) {
    check(H5Dwrite(dataset, H5T_NATIVE_DOUBLE, H5S_ALL, H5S_ALL, H5P_DEFAULT, values.data()), name);
  }
  if (units) set_text(dataset, "units", units);
  if (!long_name.empty()) set_text(dataset, "long_name", long_name);
}

// The radial axis's dataset name and NeXus units.
struct AxisName {
  const char* name;
  const char* units;
};

AxisName axis_name(Unit unit) {
  switch (unit) {
    case Unit::q_inv_nm:
      return {"q", "1/nm"};
    case Unit::q_inv_angstrom:
      return {"q", "1/angstrom"};
    case Unit::r_mm:
      return {"r", "mm"};
    case Unit::d_angstrom:
      return {"d", "angstrom"};
    default:
      return {"two_theta", "deg"};
  }
}

// The radial axis (and, for d, its keys q, in which the bins are even) in
// the group, for the dimension `dimension` of its signal.
void write_radial_axis(hid_t group, Unit unit, const std::vector<double>& keys, int dimension) {
  const AxisName axis = axis_name(unit);
  std::vector<double> values(keys.size());
  for (std::size_t i = 0; i < keys.size(); ++i) values[i] = axis_value(unit, keys[i]);
  write_axis(group, axis.name, values, axis.units, unit_label(unit));
  set_long(group, (std::string(axis.name) + "_indices").c_str(), dimension);
  if (unit == Unit::d_angstrom) {
    write_axis(group, "q", keys, "1/angstrom", "q (1/A), in which the bins are even");
    set_long(group, "q_indices", dimension);
  }
}

// The geometry's values per image: dataset name, units, member.
struct GeometryField {
  const char* name;
  const char* units;
  double Geometry::*member;
};

const GeometryField kGeometryFields[] = {
    {"distance", "mm", &Geometry::distance_mm},
    {"center_x", "pixel", &Geometry::center_x_px},
    {"center_y", "pixel", &Geometry::center_y_px},
    {"pixel_x", "um", &Geometry::pixel_x_um},
    {"pixel_y", "um", &Geometry::pixel_y_um},
    {"tilt", "deg", &Geometry::tilt_deg},
    {"tilt_direction", "deg", &Geometry::tilt_direction_deg},
    {"rotation_about_beam", "deg", &Geometry::rotation_about_beam_deg},
};

// A header keyword as a dataset name: letters, digits and _.
std::string keyword_name(const std::string& key) {
  std::string name = key;
  for (char& c : name) {
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  }
  return name;
}

// The header's lines by keyword name, in their order; a keyword's repeated
// lines joined by line ends.
HeaderLines grouped(const HeaderLines& header) {
  HeaderLines lines;
  for (const auto& [key, text] : header) {
    const std::string name = keyword_name(key);
    if (name.empty()) continue;
    auto same = std::find_if(lines.begin(), lines.end(),
                             [&](const auto& line) { return line.first == name; });
    if (same == lines.end()) {
      lines.emplace_back(name, text);
    } else {
      same->second += "\n" + text;
    }
  }
  return lines;
}

std::optional<double> exposure_time(const HeaderLines& header) {
  for (const auto& [key, text] : header) {
    if (key != "TIME") continue;
    const std::vector<std::string> words = words_of(text);
    if (!words.empty()) return number_in(words[0]);
  }
  return std::nullopt;
}

// Rows per chunk of a dataset of `rows` rows that take row_bytes each: about
// 64 KiB a chunk, less in a short run.
hsize_t rows_per_chunk(std::size_t rows, std::size_t row_bytes) {
  return std::clamp<hsize_t>(65536 / std::max<std::size_t>(row_bytes, 1), 1,
                             std::clamp<hsize_t>(rows, 1, 4096));
}

hid_t file_access() {
  const hid_t properties = H5Pcreate(H5P_FILE_ACCESS);
  // A run file is the process's own until renamed: no lock, which some
  // cluster file systems refuse.
  if (properties >= 0) H5Pset_file_locking(properties, false, true);
  return properties;
}

}  // namespace

struct RunFileWriter::Impl {
  std::string path, temporary;
  RunDescription d;
  std::optional<TemporaryHeld> held;
  Id file, entry, profiles, cake, images, header;
  Id intensity, errors, count, cake_intensity, cake_count;
  Id file_name, pixels_used, exposure_time, wavelength;
  std::vector<Id> geometry;  // as kGeometryFields
  std::map<std::string, Id> keywords;
  std::vector<std::pair<std::size_t, std::string>> failures;
  std::vector<float> cake_row;
  bool committed = false;

  std::string what(const std::string& doing) const { return "cannot write " + path + ": " + doing; }
  void check_row(std::size_t row) const {
    if (row >= d.names.size()) throw Error(what("no row " + std::to_string(row)));
  }
  hid_t keyword(const std::string& name);
  void clear_images(std::size_t row);
  void close();
  // Unless committed, the temporary goes, also when the constructor failed.
  ~Impl() {
    if (committed) return;
    close();
    file.reset();
    std::remove(temporary.c_str());
  }
};

hid_t RunFileWriter::Impl::keyword(const std::string& name) {
  auto at = keywords.find(name);
  if (at != keywords.end()) return at->second;
  const Id type = string_type();
  Id dataset = make_rows(header, name.c_str(), type, d.names.size(), {},
                         rows_per_chunk(d.names.size(), sizeof(char*)), type, nullptr);
  return keywords.emplace(name, std::move(dataset)).first->second;
}

void RunFileWriter::Impl::clear_images(std::size_t row) {
  for (const Id& dataset : geometry) write_rows(dataset, row, 1, H5T_NATIVE_DOUBLE, &kNaN, path);
  write_rows(wavelength, row, 1, H5T_NATIVE_DOUBLE, &kNaN, path);
  write_rows(exposure_time, row, 1, H5T_NATIVE_DOUBLE, &kNaN, path);
  const long long none = 0;
  write_rows(pixels_used, row, 1, H5T_NATIVE_LLONG, &none, path);
  const Id type = string_type();
  const char* empty = "";
  for (const auto& [name, dataset] : keywords) write_rows(dataset, row, 1, type, &empty, path);
}

void RunFileWriter::Impl::close() {
  keywords.clear();
  geometry.clear();
  for (Id* id :
       {&intensity, &errors, &count, &cake_intensity, &cake_count, &file_name, &pixels_used,
        &exposure_time, &wavelength, &header, &images, &cake, &profiles, &entry}) {
    id->reset();
  }
}

RunFileWriter::RunFileWriter(const std::string& path, const RunDescription& description)
    : impl_(std::make_unique<Impl>()) {
  Impl& w = *impl_;
  w.path = path;
  w.temporary = temporary_name(path);
  w.d = description;
  const RunDescription& d = w.d;
  H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);
  w.held.emplace(w.temporary);
  const Id access(file_access(), H5Pclose, w.what("file access"));
  w.file = Id(H5Fcreate(w.temporary.c_str(), H5F_ACC_TRUNC, H5P_DEFAULT, access), H5Fclose,
              w.what("cannot create " + w.temporary));
  const std::size_t slash = path.rfind('/');
  set_text(w.file, "default", "entry");
  set_text(w.file, "creator", d.program);
  set_text(w.file, "file_name", slash == std::string::npos ? path : path.substr(slash + 1));
  set_text(w.file, "HDF5_Version",
           printf_string("%d.%d.%d", H5_VERS_MAJOR, H5_VERS_MINOR, H5_VERS_RELEASE));

  w.entry = make_group(w.file, "entry", "NXentry");
  set_text(w.entry, "default", "profiles");
  set_text(w.entry, "program", d.program);
  set_text(w.entry, "settings", d.settings);
  set_text(w.entry, "corrections", d.corrections);
  set_long(w.entry, "share", d.share);
  set_long(w.entry, "shares", d.shares);

  const hsize_t n = d.names.size(), m = d.centres.size();
  const AxisName axis = axis_name(d.unit);
  w.profiles = make_group(w.entry, "profiles", "NXdata");
  set_text(w.profiles, "signal", "intensity");
  set_texts(w.profiles, "axes", {"image_index", axis.name});
  set_text(w.profiles, "unit", unit_name(d.unit));
  set_double(w.profiles, "bin_width", d.bin_width);
  set_text(w.profiles, "statistic", statistic_name(d.statistic));
  set_text(w.profiles, "error_model", error_model_name(d.error_model));
  set_text(w.profiles, "split", split_name(d.split));
  const hsize_t chunk = rows_per_chunk(n, m * sizeof(double));
  const hsize_t chunk_1d = rows_per_chunk(n, sizeof(double));
  w.intensity =
      make_rows(w.profiles, "intensity", H5T_IEEE_F64LE, n, {m}, chunk, H5T_NATIVE_DOUBLE, &kNaN);
  set_text(w.intensity, "long_name", std::string(statistic_name(d.statistic)) + " intensity");
  set_text(w.intensity, "interpretation", "spectrum");
  if (d.error_model != ErrorModel::none) {
    w.errors =
        make_rows(w.profiles, "errors", H5T_IEEE_F64LE, n, {m}, chunk, H5T_NATIVE_DOUBLE, &kNaN);
    set_text(w.errors, "long_name",
             std::string("standard error (") + error_model_name(d.error_model) + ")");
  }
  w.count = make_rows(w.profiles, "count", H5T_IEEE_F64LE, n, {m}, chunk, H5T_NATIVE_DOUBLE, &kNaN);
  set_text(w.count, "long_name",
           d.split == Split::none ? "pixels per bin" : "pixel shares per bin (pixels split)");
  std::vector<long long> index(n);
  for (hsize_t k = 0; k < n; ++k) index[k] = static_cast<long long>(k);
  {
    const Id rows = make_rows(w.profiles, "image_index", H5T_STD_I64LE, n, {}, chunk_1d,
                              H5T_NATIVE_LLONG, nullptr);
    if (n > 0) write_rows(rows, 0, n, H5T_NATIVE_LLONG, index.data(), w.what("image_index"));
  }
  set_long(w.profiles, "image_index_indices", 0);
  write_radial_axis(w.profiles, d.unit, d.centres, 1);

  if (d.azimuth.count > 0) {
    const hsize_t a = static_cast<hsize_t>(d.azimuth.count), r = d.cake_centres.size();
    w.cake = make_group(w.entry, "cake", "NXdata");
    set_text(w.cake, "signal", "intensity");
    set_texts(w.cake, "axes", {"image_index", "azimuth", axis.name});
    set_text(w.cake, "unit", unit_name(d.unit));
    set_double(w.cake, "bin_width", d.cake_bin_width);
    set_double(w.cake, "azimuth_from", d.azimuth.from_deg);
    set_double(w.cake, "azimuth_width", d.azimuth.width_deg);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    w.cake_intensity =
        make_rows(w.cake, "intensity", H5T_IEEE_F32LE, n, {a, r}, 1, H5T_NATIVE_FLOAT, &nan, true);
    set_text(w.cake_intensity, "long_name",
             std::string(statistic_name(d.statistic)) + " intensity");
    set_text(w.cake_intensity, "interpretation", "image");
    w.cake_count =
        make_rows(w.cake, "count", H5T_IEEE_F32LE, n, {a, r}, 1, H5T_NATIVE_FLOAT, &nan, true);
    check(
        H5Lcreate_hard(w.profiles, "image_index", w.cake, "image_index", H5P_DEFAULT, H5P_DEFAULT),
        w.what("image_index"));
    set_long(w.cake, "image_index_indices", 0);
    std::vector<double> azimuths(a);
    for (hsize_t j = 0; j < a; ++j) azimuths[j] = d.azimuth.centre(static_cast<int>(j));
    write_axis(w.cake, "azimuth", azimuths, "deg", "azimuth chi (degrees)");
    set_long(w.cake, "azimuth_indices", 1);
    write_radial_axis(w.cake, d.unit, d.cake_centres, 2);
    w.cake_row.resize(a * r);
  }

  w.images = make_group(w.entry, "images", "NXcollection");
  const Id strings = string_type();
  w.file_name = make_rows(w.images, "file_name", strings, n, {}, chunk_1d, strings, nullptr);
  std::vector<const char*> names;
  for (const std::string& name : d.names) names.push_back(name.c_str());
  if (n > 0) write_rows(w.file_name, 0, n, strings, names.data(), w.what("file names"));
  for (const GeometryField& field : kGeometryFields) {
    w.geometry.push_back(
        make_rows(w.images, field.name, H5T_IEEE_F64LE, n, {}, chunk_1d, H5T_NATIVE_DOUBLE, &kNaN));
    set_text(w.geometry.back(), "units", field.units);
  }
  w.wavelength =
      make_rows(w.images, "wavelength", H5T_IEEE_F64LE, n, {}, chunk_1d, H5T_NATIVE_DOUBLE, &kNaN);
  set_text(w.wavelength, "units", "angstrom");
  w.exposure_time = make_rows(w.images, "exposure_time", H5T_IEEE_F64LE, n, {}, chunk_1d,
                              H5T_NATIVE_DOUBLE, &kNaN);
  set_text(w.exposure_time, "units", "s");
  const long long none = 0;
  w.pixels_used =
      make_rows(w.images, "pixels_used", H5T_STD_I64LE, n, {}, chunk_1d, H5T_NATIVE_LLONG, &none);
  w.header = make_group(w.images, "header", "NXcollection");
}

RunFileWriter::~RunFileWriter() = default;

void RunFileWriter::write(std::size_t row, const Profile& p, const HeaderLines& header_lines,
                          const Geometry& geometry) {
  Impl& w = *impl_;
  const RunDescription& d = w.d;
  w.check_row(row);
  if (p.centre != d.centres) {
    throw Error("its bins are not the run file's (" + std::to_string(p.centre.size()) +
                " against " + std::to_string(d.centres.size()) + ")");
  }
  const bool cake = d.azimuth.count > 0;
  const AzimuthBins& a = p.cake.azimuth;
  if (cake && (a.count != d.azimuth.count || a.from_deg != d.azimuth.from_deg ||
               a.width_deg != d.azimuth.width_deg || p.cake.centre != d.cake_centres)) {
    throw Error("its cake's bins are not the run file's");
  }
  const std::string what = w.what("row " + std::to_string(row));
  write_rows(w.intensity, row, 1, H5T_NATIVE_DOUBLE, p.value.data(), what);
  if (w.errors.valid()) {
    if (p.sigma.size() != p.value.size()) throw Error("its profile has no sigma");
    write_rows(w.errors, row, 1, H5T_NATIVE_DOUBLE, p.sigma.data(), what);
  }
  write_rows(w.count, row, 1, H5T_NATIVE_DOUBLE, p.count.data(), what);
  if (cake) {
    for (const auto& [values, dataset] :
         {std::pair{&p.cake.value, &w.cake_intensity}, std::pair{&p.cake.count, &w.cake_count}}) {
      std::copy(values->begin(), values->end(), w.cake_row.begin());
      write_rows(*dataset, row, 1, H5T_NATIVE_FLOAT, w.cake_row.data(), what);
    }
  }
  for (std::size_t k = 0; k < w.geometry.size(); ++k) {
    write_rows(w.geometry[k], row, 1, H5T_NATIVE_DOUBLE, &(geometry.*kGeometryFields[k].member),
               what);
  }
  const double wavelength = geometry.wavelength_angstrom.value_or(kNaN);
  write_rows(w.wavelength, row, 1, H5T_NATIVE_DOUBLE, &wavelength, what);
  const double exposure = exposure_time(header_lines).value_or(kNaN);
  write_rows(w.exposure_time, row, 1, H5T_NATIVE_DOUBLE, &exposure, what);
  const long long used = p.pixels.used;
  write_rows(w.pixels_used, row, 1, H5T_NATIVE_LLONG, &used, what);
  const Id strings = string_type();
  for (const auto& [name, text] : grouped(header_lines)) {
    const char* value = text.c_str();
    write_rows(w.keyword(name), row, 1, strings, &value, what);
  }
}

void RunFileWriter::fail(std::size_t row, const std::string& error) {
  Impl& w = *impl_;
  const RunDescription& d = w.d;
  w.check_row(row);
  const std::string what = w.what("row " + std::to_string(row));
  const std::vector<double> nan(d.centres.size(), kNaN);
  for (const Id* dataset : {&w.intensity, &w.errors, &w.count}) {
    if (dataset->valid()) write_rows(*dataset, row, 1, H5T_NATIVE_DOUBLE, nan.data(), what);
  }
  if (d.azimuth.count > 0) {
    std::fill(w.cake_row.begin(), w.cake_row.end(), std::numeric_limits<float>::quiet_NaN());
    write_rows(w.cake_intensity, row, 1, H5T_NATIVE_FLOAT, w.cake_row.data(), what);
    write_rows(w.cake_count, row, 1, H5T_NATIVE_FLOAT, w.cake_row.data(), what);
  }
  w.clear_images(row);
  auto same = std::find_if(w.failures.begin(), w.failures.end(),
                           [row](const auto& f) { return f.first == row; });
  if (same != w.failures.end()) {
    same->second = error;
  } else {
    w.failures.emplace_back(row, error);
  }
}

void RunFileWriter::commit() {
  Impl& w = *impl_;
  std::sort(w.failures.begin(), w.failures.end());
  {
    const Id failures = make_group(w.entry, "failures", "NXcollection");
    const Id strings = string_type();
    const hsize_t k = w.failures.size();
    const Id index =
        make_rows(failures, "image_index", H5T_STD_I64LE, k, {}, 256, H5T_NATIVE_LLONG, nullptr);
    const Id names = make_rows(failures, "file_name", strings, k, {}, 256, strings, nullptr);
    const Id errors = make_rows(failures, "error", strings, k, {}, 256, strings, nullptr);
    for (hsize_t j = 0; j < k; ++j) {
      const auto& [row, error] = w.failures[j];
      const long long at = static_cast<long long>(row);
      const char* name = w.d.names[row].c_str();
      const char* message = error.c_str();
      write_rows(index, j, 1, H5T_NATIVE_LLONG, &at, w.what("failures"));
      write_rows(names, j, 1, strings, &name, w.what("failures"));
      write_rows(errors, j, 1, strings, &message, w.what("failures"));
    }
  }
  w.close();
  // The last writes happen as the file closes.
  if (!w.file.reset()) hdf5_failed(w.what("closing"));
  if (std::rename(w.temporary.c_str(), w.path.c_str()) != 0) {
    throw Error("cannot write " + w.path + ": renaming " + w.temporary + " failed",
                Error::Kind::io);
  }
  w.committed = true;
  w.held.reset();
}

// Reading.

namespace {

std::string text_attribute(hid_t object, const char* name) {
  const Id attribute(H5Aopen(object, name, H5P_DEFAULT), H5Aclose,
                     std::string("no attribute ") + name);
  const Id type(H5Aget_type(attribute), H5Tclose, name);
  const Id memory = string_type();
  if (H5Tis_variable_str(type) > 0) {
    char* text = nullptr;
    check(H5Aread(attribute, memory, &text), name);
    std::string value = text ? text : "";
    H5free_memory(text);
    return value;
  }
  std::string value(H5Tget_size(type), '\0');
  const Id fixed(H5Tcopy(type), H5Tclose, name);
  check(H5Aread(attribute, fixed, value.data()), name);
  return value.substr(0, value.find('\0'));
}

double number_attribute(hid_t object, const char* name) {
  const Id attribute(H5Aopen(object, name, H5P_DEFAULT), H5Aclose,
                     std::string("no attribute ") + name);
  double value = 0;
  check(H5Aread(attribute, H5T_NATIVE_DOUBLE, &value), name);
  return value;
}

hsize_t rows_of(hid_t dataset) {
  const Id space(H5Dget_space(dataset), H5Sclose, "dataspace");
  hsize_t dims[H5S_MAX_RANK] = {};
  if (H5Sget_simple_extent_ndims(space) < 1) return 0;
  H5Sget_simple_extent_dims(space, dims, nullptr);
  return dims[0];
}

std::vector<double> whole(hid_t group, const char* name) {
  const Id dataset(H5Dopen2(group, name, H5P_DEFAULT), H5Dclose, std::string("no ") + name);
  std::vector<double> values(rows_of(dataset));
  if (!values.empty()) {
    check(H5Dread(dataset, H5T_NATIVE_DOUBLE, H5S_ALL, H5S_ALL, H5P_DEFAULT, values.data()), name);
  }
  return values;
}

// Rows first .. first + count - 1 of a dataset of strings.
std::vector<std::string> strings_of(hid_t dataset, hsize_t first, hsize_t count) {
  std::vector<char*> texts(count, nullptr);
  const Id type = string_type();
  if (count > 0) read_rows(dataset, first, count, type, texts.data(), "strings");
  std::vector<std::string> values;
  for (char* text : texts) {
    values.emplace_back(text ? text : "");
    H5free_memory(text);
  }
  return values;
}

template <class Enum, class Name>
Enum named(const std::string& text, std::initializer_list<Enum> values, Name name) {
  for (Enum value : values) {
    if (text == name(value)) return value;
  }
  throw Error("unknown value " + text);
}

}  // namespace

struct RunFileReader::Impl {
  std::string path;
  RunDescription d;
  Id file, profiles, images, header;
  Id intensity, errors, count, cake_intensity, cake_count, pixels_used, wavelength;
  std::vector<Id> geometry;
  std::vector<std::pair<std::string, Id>> keywords;
  std::map<std::size_t, std::string> failures;
};

RunFileReader::RunFileReader(const std::string& path) : impl_(std::make_unique<Impl>()) {
  Impl& r = *impl_;
  r.path = path;
  H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);
  const Id access(file_access(), H5Pclose, "file access");
  try {
    r.file = Id(H5Fopen(path.c_str(), H5F_ACC_RDONLY, access), H5Fclose, "not an HDF5 file");
    const Id entry(H5Gopen2(r.file, "entry", H5P_DEFAULT), H5Gclose, "no /entry");
    RunDescription& d = r.d;
    d.program = text_attribute(entry, "program");
    d.settings = text_attribute(entry, "settings");
    d.corrections = text_attribute(entry, "corrections");
    d.share = static_cast<long>(number_attribute(entry, "share"));
    d.shares = static_cast<long>(number_attribute(entry, "shares"));
    r.profiles = Id(H5Gopen2(entry, "profiles", H5P_DEFAULT), H5Gclose, "no /entry/profiles");
    const std::optional<Unit> unit = unit_named(text_attribute(r.profiles, "unit"));
    if (!unit) throw Error("unknown unit");
    d.unit = *unit;
    d.statistic = named(text_attribute(r.profiles, "statistic"),
                        {Statistic::mean, Statistic::median}, statistic_name);
    d.error_model =
        named(text_attribute(r.profiles, "error_model"),
              {ErrorModel::none, ErrorModel::poisson, ErrorModel::azimuthal}, error_model_name);
    d.split = named(text_attribute(r.profiles, "split"), {Split::none, Split::bbox, Split::full},
                    split_name);
    d.bin_width = number_attribute(r.profiles, "bin_width");
    const char* keys = d.unit == Unit::d_angstrom ? "q" : axis_name(d.unit).name;
    d.centres = whole(r.profiles, keys);
    auto open = [](hid_t group, const char* name) {
      return Id(H5Dopen2(group, name, H5P_DEFAULT), H5Dclose, std::string("no ") + name);
    };
    r.intensity = open(r.profiles, "intensity");
    r.count = open(r.profiles, "count");
    if (d.error_model != ErrorModel::none) r.errors = open(r.profiles, "errors");
    if (H5Lexists(entry, "cake", H5P_DEFAULT) > 0) {
      const Id cake(H5Gopen2(entry, "cake", H5P_DEFAULT), H5Gclose, "no /entry/cake");
      d.cake_bin_width = number_attribute(cake, "bin_width");
      d.azimuth.from_deg = number_attribute(cake, "azimuth_from");
      d.azimuth.width_deg = number_attribute(cake, "azimuth_width");
      d.azimuth.count = static_cast<int>(whole(cake, "azimuth").size());
      d.cake_centres = whole(cake, keys);
      r.cake_intensity = open(cake, "intensity");
      r.cake_count = open(cake, "count");
    }
    r.images = Id(H5Gopen2(entry, "images", H5P_DEFAULT), H5Gclose, "no /entry/images");
    const Id names = open(r.images, "file_name");
    d.names = strings_of(names, 0, rows_of(names));
    for (const GeometryField& field : kGeometryFields)
      r.geometry.push_back(open(r.images, field.name));
    r.wavelength = open(r.images, "wavelength");
    r.pixels_used = open(r.images, "pixels_used");
    r.header = Id(H5Gopen2(r.images, "header", H5P_DEFAULT), H5Gclose, "no header");
    H5G_info_t info{};
    check(H5Gget_info(r.header, &info), "header");
    for (hsize_t k = 0; k < info.nlinks; ++k) {
      char name[256] = {};
      H5Lget_name_by_idx(r.header, ".", H5_INDEX_NAME, H5_ITER_INC, k, name, sizeof name,
                         H5P_DEFAULT);
      r.keywords.emplace_back(name, open(r.header, name));
    }
    const Id failures(H5Gopen2(entry, "failures", H5P_DEFAULT), H5Gclose, "no failures");
    const Id failed_rows = open(failures, "image_index"), failed_errors = open(failures, "error");
    const hsize_t k = rows_of(failed_rows);
    std::vector<long long> rows(k);
    if (k > 0) read_rows(failed_rows, 0, k, H5T_NATIVE_LLONG, rows.data(), "failures");
    const std::vector<std::string> errors = strings_of(failed_errors, 0, k);
    for (hsize_t j = 0; j < k; ++j) r.failures[static_cast<std::size_t>(rows[j])] = errors[j];
  } catch (const Error& e) {
    throw Error(path + " is not a run file of vokip-reduce: " + e.what(), e.kind());
  }
}

RunFileReader::~RunFileReader() = default;

const RunDescription& RunFileReader::description() const {
  return impl_->d;
}

RunRow RunFileReader::row(std::size_t k) const {
  const Impl& r = *impl_;
  const RunDescription& d = r.d;
  if (k >= d.names.size()) throw Error(r.path + " has no row " + std::to_string(k));
  const std::string what = "cannot read " + r.path;
  RunRow row;
  const auto failure = r.failures.find(k);
  if (failure != r.failures.end()) {
    row.failed = true;
    row.error = failure->second;
    return row;
  }
  Profile& p = row.profile;
  p.unit = d.unit;
  p.statistic = d.statistic;
  p.error_model = d.error_model;
  p.split = d.split;
  p.centre = d.centres;
  p.bin_width = d.bin_width;
  const std::size_t m = d.centres.size();
  p.value.resize(m);
  p.count.resize(m);
  read_rows(r.intensity, k, 1, H5T_NATIVE_DOUBLE, p.value.data(), what);
  read_rows(r.count, k, 1, H5T_NATIVE_DOUBLE, p.count.data(), what);
  if (r.errors.valid()) {
    p.sigma.resize(m);
    read_rows(r.errors, k, 1, H5T_NATIVE_DOUBLE, p.sigma.data(), what);
  }
  long long used = 0;
  read_rows(r.pixels_used, k, 1, H5T_NATIVE_LLONG, &used, what);
  p.pixels.used = used;
  if (d.azimuth.count > 0) {
    Cake& c = p.cake;
    c.azimuth = d.azimuth;
    c.centre = d.cake_centres;
    c.bin_width = d.cake_bin_width;
    std::vector<float> cells(static_cast<std::size_t>(d.azimuth.count) * d.cake_centres.size());
    read_rows(r.cake_intensity, k, 1, H5T_NATIVE_FLOAT, cells.data(), what);
    c.value.assign(cells.begin(), cells.end());
    read_rows(r.cake_count, k, 1, H5T_NATIVE_FLOAT, cells.data(), what);
    c.count.assign(cells.begin(), cells.end());
  }
  for (std::size_t j = 0; j < r.geometry.size(); ++j) {
    read_rows(r.geometry[j], k, 1, H5T_NATIVE_DOUBLE, &(row.geometry.*kGeometryFields[j].member),
              what);
  }
  double wavelength = kNaN;
  read_rows(r.wavelength, k, 1, H5T_NATIVE_DOUBLE, &wavelength, what);
  if (!std::isnan(wavelength)) row.geometry.wavelength_angstrom = wavelength;
  for (const auto& [name, dataset] : r.keywords) {
    row.header.emplace_back(name, strings_of(dataset, k, 1)[0]);
  }
  return row;
}

}  // namespace vokip
