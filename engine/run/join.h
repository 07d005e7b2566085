// A sharded run's files joined into one, and the names a run's outputs take.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace vokip {

// Where share `index` (from 0) of `count` writes a run output named path:
// RUN.K-of-N.h5 for RUN.h5, K = index + 1.
std::string share_path(const std::string& path, long index, long count);

// The title of a run's waterfall picture written to path.
std::string run_picture_title(const std::string& path, std::size_t images);

struct JoinedRun {
  std::size_t images = 0, failed = 0, shares = 0;
};

// Joins the run files of one run's shares, given in any order, into one run
// file at path, rows in the order of the shares, and draws its waterfall
// into waterfall_path unless that is empty. Throws Error when the files are
// not every share of one run once.
JoinedRun join_run_files(const std::vector<std::string>& files, const std::string& path,
                         const std::string& waterfall_path);

}  // namespace vokip
