// Reducing the images of one command line: the file list (patterns, shard),
// skipping what is done, the output files, progress and the closing summary.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "cli/reduce/options.h"

namespace vokip {

// Files named by the inputs: an existing path as it is, otherwise its glob
// matches in order. Inputs that match nothing are collected in `unmatched`.
std::vector<std::string> expand_inputs(const std::vector<std::string>& inputs,
                                       std::vector<std::string>* unmatched);

// Share shard.index of shard.count of the files: the files sorted and
// without repeats, cut into runs of about equal length, in order.
std::vector<std::string> shard_of(std::vector<std::string> files, const Shard& shard);

// Where a profile of `input` goes: its name with the last extension replaced,
// in output_dir or beside the input.
std::string output_path(const std::string& input, const std::string& output_dir,
                        const std::string& extension);

// Runs the whole command. Messages go to `err`, the list of written files to
// `out`; progress is drawn on `err` when show_progress. Returns the exit code.
int run_batch(const ReduceOptions& options, std::FILE* out, std::FILE* err, bool show_progress);

}  // namespace vokip
