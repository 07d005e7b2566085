// vokip-calibrate: an image plate's geometry fitted to a calibrant's rings.
#include <string>
#include <vector>

#include "cli/calibrate/options.h"
#include "cli/calibrate/run.h"
#include "engine/formats/files.h"

int main(int argc, char** argv) {
  using namespace vokip;
  const std::vector<std::string> args(argv + 1, argv + argc);
  const ParsedCalibrateOptions parsed = parse_calibrate_options(args);
  if (const std::optional<int> code = answer_without_running("vokip-calibrate", parsed.outcome,
                                                             parsed.error, calibrate_help_text())) {
    return *code;
  }
  remove_temporary_on_termination();
  return run_calibration(parsed.options, stdout, stderr);
}
