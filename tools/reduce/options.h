// The command line of vokip-reduce.
#pragma once

#include <string>
#include <vector>

#include "reduce/reduction.h"

struct Options {
  std::vector<std::string> inputs;  // image files or glob patterns
  ReductionRequest request;         // everything but the mask itself
  std::string mask_path;
  std::string output_dir;  // empty: beside each input
  bool write_chi = false, write_csv = false, write_svg = false;
  bool quiet = false;       // no progress line, no summary
  bool show_times = false;  // per-stage times of each file on stderr
};

enum class OptionsOutcome { run, help, version, error };

struct ParsedOptions {
  Options options;
  OptionsOutcome outcome = OptionsOutcome::run;
  std::string error;  // for OptionsOutcome::error
};

// Parses the arguments after the program name.
ParsedOptions parse_options(const std::vector<std::string>& args);

// The --help text.
std::string help_text();

// Every long option's name, without the dashes.
std::vector<std::string> option_names();

constexpr char kProgramVersion[] = "vokip-reduce 1.0.0";

// Exit codes.
constexpr int kExitOk = 0;
constexpr int kExitFileFailed = 1;  // at least one input could not be reduced
constexpr int kExitUsage = 2;       // bad command line
constexpr int kExitNoModule = 3;    // the module could not be loaded
