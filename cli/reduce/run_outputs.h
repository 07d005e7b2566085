// The outputs of a whole run rather than of one image: its profiles in one
// NeXus/HDF5 file (--hdf5) and its waterfall picture (--waterfall); and the
// join of a run's shares' files into one (--join).
#pragma once

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/reduce/options.h"
#include "engine/formats/run_file.h"
#include "engine/pictures/pictures.h"
#include "engine/run/reducer.h"

namespace vokip {

// Where share K of N writes a run output: RUN.K-of-N.h5 for RUN.h5; the path
// itself for a whole run.
std::string share_path(const std::string& path, const std::optional<Shard>& shard);

// Whether the options ask for a run output.
bool run_outputs_wanted(const ReduceOptions& o);

class RunOutputs {
 public:
  // For the files of a run, in the order they are reduced, with the request
  // as checked. settings: the run's (the .xy's settings line); corrections:
  // as the profiles' headers say them. Starts the run file. Throws Error.
  RunOutputs(const ReduceOptions& o, const ReductionRequest& request,
             const std::vector<std::string>& files, const std::optional<Shard>& shard,
             const std::string& settings, const std::string& corrections);
  ~RunOutputs();

  // Whether the run outputs of these options exist, were made by a run of
  // these settings over these files, and are newer than every file.
  static bool current(const ReduceOptions& o, const std::optional<Shard>& shard,
                      const std::vector<std::string>& files, const std::string& settings);

  // File `row` of the run reduced (throws Error when its bins are not the
  // run's), or failed.
  void add(std::size_t row, const FileReduction& reduction);
  void fail(std::size_t row, const std::string& error);
  // Writes the run's outputs; returns their paths. Throws Error.
  std::vector<std::string> finish();

 private:
  std::size_t rows_;
  std::string file_path_, picture_path_;
  std::unique_ptr<RunFileWriter> file_;
  std::unique_ptr<Waterfall> waterfall_;
};

// vokip-reduce --join: the run files named by the inputs, the N shares of
// one run, joined into o.join_path (and drawn into o.waterfall_path). Returns
// the exit code.
int run_join(const ReduceOptions& o, std::FILE* out, std::FILE* err);

}  // namespace vokip
