#include "cli/reduce/run_outputs.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "cli/reduce/batch.h"
#include "engine/base/error.h"
#include "engine/formats/files.h"
#include "engine/plan/bins.h"
#include "engine/run/join.h"
#include "vokip_version.h"

namespace vokip {

namespace {

namespace fs = std::filesystem;

constexpr char kName[] = "vokip-reduce";

// What a run file holds besides its rows. With both ends of the range given
// the data's extent plays no part in the bins (lay_out_bins): they are laid
// out here as the plan lays them out for every image, and each row is
// checked against them.
RunDescription run_description(const ReductionRequest& r, const std::vector<std::string>& files,
                               const std::optional<Shard>& shard) {
  RunDescription d;
  d.names = files;
  d.unit = r.unit;
  d.statistic = r.run.statistic;
  d.error_model = r.run.error_model;
  d.split = r.split;
  const BinLayout layout = lay_out_bins(r.bins, 0, 1, 1);
  d.centres = layout.centres;
  d.bin_width = layout.width;
  if (r.azimuth_bins) {
    // Over the sector, or the whole circle.
    d.azimuth.count = static_cast<int>(*r.azimuth_bins);
    double span = 360;
    if (r.sector && r.sector->to_deg - r.sector->from_deg < 360) {
      d.azimuth.from_deg = r.sector->from_deg;
      span = r.sector->to_deg - r.sector->from_deg;
    }
    d.azimuth.width_deg = span / d.azimuth.count;
    BinLayout cake = layout;
    if (r.cake_bins) {
      // The cake's own count over the profile's range.
      BinRequest bins;
      bins.count = r.cake_bins;
      bins.low = layout.centres.front() - layout.width / 2;
      bins.high = layout.centres.back() + layout.width / 2;
      cake = lay_out_bins(bins, 0, 1, 1);
    }
    d.cake_centres = cake.centres;
    d.cake_bin_width = cake.width;
  }
  if (shard) {
    d.share = shard->index + 1;
    d.shares = shard->count;
  }
  return d;
}

}  // namespace

std::string share_path(const std::string& path, const std::optional<Shard>& shard) {
  return shard ? share_path(path, shard->index, shard->count) : path;
}

bool run_outputs_wanted(const ReduceOptions& o) {
  return !o.hdf5_path.empty() || !o.waterfall_path.empty();
}

RunOutputs::RunOutputs(const ReduceOptions& o, const ReductionRequest& request,
                       const std::vector<std::string>& files, const std::optional<Shard>& shard,
                       const std::string& settings, const std::string& corrections)
    : rows_(files.size()) {
  RunDescription d = run_description(request, files, shard);
  d.program = std::string(kName) + " " + kVokipVersion;
  d.settings = settings;
  d.corrections = corrections;
  if (!o.hdf5_path.empty()) {
    file_path_ = share_path(o.hdf5_path, shard);
    file_ = std::make_unique<RunFileWriter>(file_path_, d);
  }
  if (!o.waterfall_path.empty()) {
    picture_path_ = share_path(o.waterfall_path, shard);
    waterfall_ = std::make_unique<Waterfall>(rows_, d.unit, d.centres, d.bin_width);
  }
}

RunOutputs::~RunOutputs() = default;

bool RunOutputs::current(const ReduceOptions& o, const std::optional<Shard>& shard,
                         const std::vector<std::string>& files, const std::string& settings) {
  std::error_code error;
  fs::file_time_type newest = fs::file_time_type::min();
  for (const std::string& file : files) {
    newest = std::max(newest, fs::last_write_time(file, error));
    if (error) return false;
  }
  if (!o.hdf5_path.empty()) {
    const std::string path = share_path(o.hdf5_path, shard);
    const fs::file_time_type written = fs::last_write_time(path, error);
    if (error || !(written > newest)) return false;
    try {
      const RunFileReader reader(path);
      if (reader.description().settings != settings || reader.description().names != files) {
        return false;
      }
    } catch (const Error&) {
      return false;
    }
  }
  if (!o.waterfall_path.empty()) {
    // The picture has no room for the settings: the images' .xy files, which
    // vouch for them, were written before it.
    const fs::file_time_type drawn =
        fs::last_write_time(share_path(o.waterfall_path, shard), error);
    if (error || !(drawn > newest)) return false;
    for (const std::string& file : files) {
      const fs::file_time_type xy =
          fs::last_write_time(output_path(file, o.output_dir, ".xy"), error);
      if (error || xy > drawn) return false;
    }
  }
  return true;
}

void RunOutputs::add(std::size_t row, const FileReduction& r) {
  if (file_) file_->write(row, r.profile, r.header.keywords, r.geometry);
  if (waterfall_) waterfall_->add(row, r.profile.value);
}

void RunOutputs::fail(std::size_t row, const std::string& error) {
  if (file_) file_->fail(row, error);
}

std::vector<std::string> RunOutputs::finish() {
  std::vector<std::string> written;
  if (file_) {
    file_->commit();
    written.push_back(file_path_);
  }
  // An empty share has nothing to draw.
  if (waterfall_ && rows_ > 0) {
    write_file_atomically(picture_path_, waterfall_->png(run_picture_title(picture_path_, rows_)));
    written.push_back(picture_path_);
  }
  return written;
}

int run_join(const ReduceOptions& o, std::FILE* out, std::FILE* err) {
  std::vector<std::string> unmatched;
  const std::vector<std::string> files = expand_inputs(o.inputs, &unmatched);
  try {
    for (const std::string& pattern : unmatched) throw Error(pattern + ": no such file");
    const JoinedRun joined = join_run_files(files, o.join_path, o.waterfall_path);
    if (!o.quiet) {
      std::string written = o.join_path;
      if (!o.waterfall_path.empty() && joined.images > 0) written += " " + o.waterfall_path;
      std::fprintf(out, "%zu images (%zu failed) of %zu shares -> %s\n", joined.images,
                   joined.failed, joined.shares, written.c_str());
    }
  } catch (const Error& e) {
    std::fprintf(err, "%s: %s\n", kName, e.what());
    return kExitFileFailed;
  }
  return kExitOk;
}

}  // namespace vokip
