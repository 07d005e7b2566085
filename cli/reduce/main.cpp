// vokip-reduce: MAR345 image files to 1-D profiles.
#include <unistd.h>

#include <string>
#include <vector>

#include "cli/reduce/batch.h"
#include "cli/reduce/options.h"
#include "engine/formats/files.h"

int main(int argc, char** argv) {
  using namespace vokip;
  const std::vector<std::string> args(argv + 1, argv + argc);
  const ParsedOptions parsed = parse_options(args);
  if (const std::optional<int> code =
          answer_without_running("vokip-reduce", parsed.outcome, parsed.error, help_text())) {
    return *code;
  }
  remove_temporary_on_termination();
  return run_batch(parsed.options, stdout, stderr, ::isatty(STDERR_FILENO) == 1);
}
