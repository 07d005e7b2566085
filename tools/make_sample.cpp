// vokip-make-sample: writes a synthetic MAR345 image of silicon powder rings
// (noise, a beam-stop shadow of zeros, a few pixels above 65535).
#include <cstdio>
#include <cstdlib>
#include <string>

#include "support/mar345_writer.h"
#include "support/ring_pattern.h"

namespace {

int usage() {
  std::fputs(
      "Usage: vokip-make-sample OUTPUT [--size N] [--big-endian] [--tilt DEG] "
      "[--tilt-direction DEG] [--seed N]\n"
      "Writes a synthetic MAR345 image (default 1200 x 1200, little-endian) of silicon\n"
      "powder rings and prints the rings' 2-theta.\n"
      "Example: vokip-make-sample samples/rings.mar1200\n",
      stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace vokip;
  if (argc < 2 || argv[1][0] == '-') return usage();
  const std::string output = argv[1];
  RingPattern pattern;
  ByteOrder order = ByteOrder::little;
  for (int k = 2; k < argc; ++k) {
    const std::string arg = argv[k];
    const bool has_value = k + 1 < argc;
    if (arg == "--big-endian") {
      order = ByteOrder::big;
    } else if (arg == "--size" && has_value) {
      pattern.size = std::atoi(argv[++k]);
      // The scanner's large modes read 100 um pixels, the small ones 150 um.
      pattern.pixel_um = pattern.size > 2000 ? 100 : 150;
      pattern.center_x_px = pattern.size / 2.0 + 1.3;
      pattern.center_y_px = pattern.size / 2.0 - 2.4;
    } else if (arg == "--tilt" && has_value) {
      pattern.tilt_deg = std::atof(argv[++k]);
    } else if (arg == "--tilt-direction" && has_value) {
      pattern.tilt_direction_deg = std::atof(argv[++k]);
    } else if (arg == "--seed" && has_value) {
      pattern.seed = static_cast<std::uint32_t>(std::strtoul(argv[++k], nullptr, 10));
    } else {
      return usage();
    }
  }
  if (pattern.size < 16 || pattern.size > 4096) {
    std::fputs("vokip-make-sample: --size must be 16 to 4096\n", stderr);
    return 2;
  }
  Mar345Contents file = ring_pattern_file(pattern, make_ring_image(pattern), order);
  char remark[160];
  std::snprintf(remark, sizeof remark, "synthetic silicon rings, tilt %g deg dir %g deg",
                pattern.tilt_deg, pattern.tilt_direction_deg);
  file.remarks.push_back(remark);
  std::string error;
  if (!write_file_bytes(output, write_mar345(file), &error)) {
    std::fprintf(stderr, "vokip-make-sample: %s\n", error.c_str());
    return 1;
  }
  std::printf("%s: %d x %d pixels, %zu above 65535; rings at 2-theta", output.c_str(), pattern.size,
              pattern.size, file.overflow.size());
  for (const Ring& ring : silicon_rings(pattern.wavelength_angstrom)) {
    std::printf(" %.3f", ring.two_theta_deg);
  }
  std::printf(" deg\n");
  return 0;
}
