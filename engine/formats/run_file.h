// A run's profiles in one NeXus/HDF5 file: one row per image in the run's
// order, one column per radial bin, so that a run of thousands of images
// loads in one line (h5py, silx, DAWN). The file is written under a
// temporary name, row by row as the images are reduced (memory does not grow
// with the run), and renamed when complete.
//
//   /entry (NXentry)       attributes program, settings, corrections, share, shares
//     profiles (NXdata)    intensity, errors (with an error model), count: images x bins;
//                          image_index; the radial axis (two_theta, q, r or d; with d
//                          also q, in which its bins are even)
//     cake (NXdata)        with a cake: intensity and count, images x azimuth x radial bins
//                          (single precision, one compressed chunk per image); azimuth
//     images (NXcollection)  per image: file_name, the geometry it was reduced with,
//                          exposure_time, pixels_used; header/KEYWORD: its header's text
//     failures (NXcollection)  image_index, file_name, error of the images that failed
//
// A failed image's row stays NaN, so rows always match the file list.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "engine/geometry/geometry.h"
#include "engine/profile/profile.h"

namespace vokip {

// What a run file holds besides its rows, fixed when it is made: every row
// has these bins.
struct RunDescription {
  std::vector<std::string> names;  // the images, in row order
  Unit unit = Unit::two_theta_deg;
  Statistic statistic = Statistic::mean;
  ErrorModel error_model = ErrorModel::none;
  Split split = Split::none;
  std::vector<double> centres;  // the radial bins' centres, in the profile's keys
  double bin_width = 0;
  // The cake's bins; azimuth.count 0 for no cake.
  AzimuthBins azimuth;
  std::vector<double> cake_centres;
  double cake_bin_width = 0;
  // What made it: program and version, every setting (one line), the corrections.
  std::string program, settings, corrections;
  long share = 1, shares = 1;  // share K of N of a run's sorted file list
};

// An image's header lines: first word, then the rest (Mar345Header::keywords).
using HeaderLines = std::vector<std::pair<std::string, std::string>>;

class RunFileWriter {
 public:
  // Starts the file at path's temporary name (files.h), every row NaN. A
  // SIGTERM or SIGINT while it lives removes the temporary. Throws Error (io).
  RunFileWriter(const std::string& path, const RunDescription& description);
  // Without commit, removes the temporary.
  ~RunFileWriter();
  RunFileWriter(const RunFileWriter&) = delete;
  RunFileWriter& operator=(const RunFileWriter&) = delete;

  // Row `row`: the image's profile (and cake), its header's lines and the
  // geometry it was reduced with. Throws Error when the profile's bins are
  // not the file's, or the write fails.
  void write(std::size_t row, const Profile& profile, const HeaderLines& header,
             const Geometry& geometry);
  // Row `row` failed: NaN (again), and named among the failures with the error.
  void fail(std::size_t row, const std::string& error);
  // Writes the failures, closes the file and renames it into place. Throws Error.
  void commit();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// One row as read back.
struct RunRow {
  bool failed = false;
  std::string error;  // for a failed row
  Profile profile;    // its bins as the description's; values, sigma, count, pixels used, cake
  HeaderLines header;
  Geometry geometry;
};

class RunFileReader {
 public:
  // Throws Error when the file cannot be read or is not a run file.
  explicit RunFileReader(const std::string& path);
  ~RunFileReader();
  RunFileReader(const RunFileReader&) = delete;
  RunFileReader& operator=(const RunFileReader&) = delete;

  const RunDescription& description() const;
  RunRow row(std::size_t row) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace vokip
