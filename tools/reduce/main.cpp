// vokip-reduce: MAR345 image files to 1-D profiles through the vokip module.
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "reduce/batch.h"
#include "reduce/memory_setup.h"
#include "reduce/options.h"

int main(int argc, char** argv) {
  restart_with_huge_pages(argv);
  keep_freed_memory();
  const std::vector<std::string> args(argv + 1, argv + argc);
  const ParsedOptions parsed = parse_options(args);
  switch (parsed.outcome) {
    case OptionsOutcome::help:
      std::fputs(help_text().c_str(), stdout);
      return kExitOk;
    case OptionsOutcome::version:
      std::printf("%s\n", kProgramVersion);
      return kExitOk;
    case OptionsOutcome::error:
      std::fprintf(stderr, "vokip-reduce: %s\n", parsed.error.c_str());
      return kExitUsage;
    case OptionsOutcome::run:
      break;
  }
  return run_batch(parsed.options, stdout, stderr, ::isatty(STDERR_FILENO) == 1);
}
