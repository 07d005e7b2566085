// The command line of vokip-reduce.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "cli/common/option_parsing.h"
#include "engine/run/request.h"

namespace vokip {

// One of N deterministic shares of the sorted file list, index counted from 0.
struct Shard {
  long index = 0, count = 1;
};

struct ReduceOptions {
  std::vector<std::string> inputs;  // image files or glob patterns
  ReductionRequest request;
  std::string write_poni_path;  // where to write the geometry in use, if anywhere
  std::string poni_version = "2";
  std::string output_dir;  // empty: beside each input
  bool write_chi = false, write_csv = false, write_svg = false, write_xye = false;
  bool write_png = false;      // the profile's plot and the image's picture, as PNG
  std::string hdf5_path;       // the run's profiles in one NeXus/HDF5 file, if anywhere
  std::string waterfall_path;  // the run as one picture, if anywhere
  std::string join_path;       // join the run files given in place of images into this one
  std::optional<Shard> shard;  // from --shard
  bool skip_existing = false;
  bool quiet = false;       // no progress line, no summary
  bool show_times = false;  // per-stage times of each file on stderr
};

struct ParsedOptions {
  ReduceOptions options;
  OptionsOutcome outcome = OptionsOutcome::run;
  std::string error;  // for OptionsOutcome::error
};

// Parses the arguments after the program name.
ParsedOptions parse_options(const std::vector<std::string>& args);

// The --help text.
std::string help_text();

// "K/N" with 1 <= K <= N: share K of N.
std::optional<Shard> parse_shard(const std::string& text);

// The share a Slurm job array's task takes (SLURM_ARRAY_TASK_ID with
// SLURM_ARRAY_TASK_COUNT, or _MIN, _MAX and _STEP), read through get (as
// std::getenv); nothing outside an array. Throws Error on values that do not
// make one share.
std::optional<Shard> slurm_array_shard(const char* (*get)(const char*));

// Exit code when at least one input could not be reduced.
constexpr int kExitFileFailed = 1;

}  // namespace vokip
