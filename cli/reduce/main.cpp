// vokip-reduce: MAR345 image files to 1-D profiles.
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "cli/reduce/batch.h"
#include "cli/reduce/options.h"
#include "engine/formats/files.h"
#include "vokip_version.h"

int main(int argc, char** argv) {
  using namespace vokip;
  const std::vector<std::string> args(argv + 1, argv + argc);
  const ParsedOptions parsed = parse_options(args);
  switch (parsed.outcome) {
    case OptionsOutcome::help:
      std::fputs(help_text().c_str(), stdout);
      return kExitOk;
    case OptionsOutcome::version:
      std::printf("vokip-reduce %s\n", kVokipVersion);
      return kExitOk;
    case OptionsOutcome::error:
      std::fprintf(stderr, "vokip-reduce: %s\n", parsed.error.c_str());
      return kExitUsage;
    case OptionsOutcome::run:
      break;
  }
  remove_temporary_on_termination();
  return run_batch(parsed.options, stdout, stderr, ::isatty(STDERR_FILENO) == 1);
}
