// vokip-calibrate: an image plate's geometry fitted to a calibrant's rings.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/calibrate/options.h"
#include "cli/calibrate/run.h"
#include "engine/formats/files.h"
#include "vokip_version.h"

int main(int argc, char** argv) {
  using namespace vokip;
  const std::vector<std::string> args(argv + 1, argv + argc);
  const ParsedCalibrateOptions parsed = parse_calibrate_options(args);
  switch (parsed.outcome) {
    case OptionsOutcome::help:
      std::fputs(calibrate_help_text().c_str(), stdout);
      return kExitOk;
    case OptionsOutcome::version:
      std::printf("vokip-calibrate %s\n", kVokipVersion);
      return kExitOk;
    case OptionsOutcome::error:
      std::fprintf(stderr, "vokip-calibrate: %s\n", parsed.error.c_str());
      return kExitUsage;
    case OptionsOutcome::run:
      break;
  }
  remove_temporary_on_termination();
  return run_calibration(parsed.options, stdout, stderr);
}
