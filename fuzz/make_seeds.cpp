// Writes the seed inputs of both fuzz harnesses:
//   make_seeds CORPUS_DIR
// fills CORPUS_DIR/unpack with packed streams behind the four bytes that
// fuzz_unpack reads first, and CORPUS_DIR/mar345 with small MAR345 files of
// both byte orders, with and without overflow records.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "decode/unpack_image.h"
#include "engine/base/error.h"
#include "engine/formats/mar345.h"
#include "support/mar345_writer.h"
#include "support/packer.h"
#include "unpack_input.h"

namespace {

using namespace vokip;

using Pixels = std::vector<std::uint16_t>;
using Bytes = std::vector<std::uint8_t>;

bool write(const std::string& path, const Bytes& bytes) {
  std::string error;
  if (!write_file_bytes(path, bytes, &error)) {
    std::fprintf(stderr, "make_seeds: %s\n", error.c_str());
    return false;
  }
  return true;
}

// A smooth ramp with a little noise.
Pixels gradient(std::int64_t n, std::int64_t w, unsigned seed) {
  std::mt19937 random(seed);
  Pixels image(static_cast<std::size_t>(n));
  for (std::int64_t p = 0; p < n; ++p) {
    image[p] = static_cast<std::uint16_t>(100 + 3 * (p % w) + 5 * (p / w) + random() % 4);
  }
  return image;
}

Pixels noise(std::int64_t n, unsigned seed) {
  std::mt19937 random(seed);
  Pixels image(static_cast<std::size_t>(n));
  for (auto& v : image) v = static_cast<std::uint16_t>(random());
  return image;
}

// Mostly zero with a few bright spots: long runs of zero-width blocks.
Pixels sparse(std::int64_t n, unsigned seed) {
  std::mt19937 random(seed);
  Pixels image(static_cast<std::size_t>(n), 0);
  for (int k = 0; k < 12; ++k) image[random() % n] = static_cast<std::uint16_t>(random() % 3000);
  return image;
}

// Counts jumping between 0 and the top of the 16-bit range: 32-bit fields
// under the counts rule.
Pixels jumps(std::int64_t n) {
  Pixels image(static_cast<std::size_t>(n));
  for (std::int64_t p = 0; p < n; ++p) {
    image[p] = (p / 3) % 2 ? 65535 : static_cast<std::uint16_t>(p);
  }
  return image;
}

Bytes packed(const Pixels& image, std::int64_t w, const PackOptions& options = {}) {
  return pack_image(image.data(), static_cast<std::int64_t>(image.size()), w, options);
}

// Whether the stream decodes to `image` from prior content `prior` (all of it,
// or just the first `expected_pixels` pixels for a stream cut short).
bool decodes_to(const Bytes& stream, std::int64_t w, const Pixels& image, const Pixels& prior,
                std::int64_t expected_pixels) {
  Pixels out = prior;
  const UnpackResult r = unpack_image(stream.data(), static_cast<std::int64_t>(stream.size()),
                                      out.data(), static_cast<std::int64_t>(out.size()), w);
  if (r.pixels != expected_pixels) return false;
  for (std::int64_t p = 0; p < expected_pixels; ++p) {
    if (out[p] != image[p]) return false;
  }
  return true;
}

bool write_unpack_seeds(const std::string& dir) {
  using fuzz_unpack::make_input;
  bool ok = true;
  auto put = [&](const char* name, std::int64_t w, std::int64_t n, int cut, const Bytes& stream) {
    ok = write(dir + "/seed-" + name, make_input(w, n, cut, stream)) && ok;
  };
  // Like put, for a stream packed from `image`, checked to decode back to it.
  auto put_image = [&](const char* name, std::int64_t w, int cut, const Pixels& image,
                       const PackOptions& options = {}) {
    const std::int64_t n = static_cast<std::int64_t>(image.size());
    const Bytes stream = packed(image, w, options);
    const Pixels prior = options.prior ? Pixels(options.prior, options.prior + n) : Pixels(n, 0);
    if (!decodes_to(stream, w, image, prior, n)) {
      std::fprintf(stderr, "make_seeds: %s does not decode to its image\n", name);
      ok = false;
    }
    put(name, w, n, cut, stream);
  };

  // Four 5-bit differences 10, 2, -3, 1 in one block: a 2 x 2 image 10, 12, 9, 11.
  put("two-by-two", 2, 4, 128, {0x92, 0x12, 0x3D, 0x00});

  put_image("gradient-16x16", 16, 200, gradient(256, 16, 1));
  put_image("noise-8x8", 8, 100, noise(64, 2));
  put_image("sparse-64x64", 64, 50, sparse(4096, 3));

  PackOptions counts;
  counts.rule = DifferenceRule::counts;
  counts.scramble_high_bits = true;
  put_image("jumps-32bit-5x8", 5, 170, jumps(40), counts);

  // Width one: from the third pixel on the predictor reads the prior content.
  const Pixels prior(60, fuzz_unpack::kSentinel);
  PackOptions width_one;
  width_one.prior = prior.data();
  put_image("width-one", 1, 90, gradient(60, 1, 4), width_one);

  PackOptions runs;
  runs.run_codes = {0, 1, 2, 3, 4, 5, 6, 7};
  runs.pad_last_block = true;
  put_image("every-run-code-33x10", 33, 240, gradient(330, 33, 5), runs);

  PackOptions widths;
  widths.min_width_codes = {7, 1, 6, 2, 5, 3, 4, 0};
  put_image("every-width-code-17x9", 17, 60, noise(153, 6), widths);

  // A stream that ends before the last pixel.
  Bytes cut_short = packed(gradient(256, 16, 7), 16);
  cut_short.resize(cut_short.size() / 2);
  put("truncated-16x16", 16, 256, 255, cut_short);

  // One row: w < 1.
  // The packer takes the width n for one row, as the decoder does for w < 1.
  const Pixels row = gradient(100, 100, 8);
  const Bytes row_stream = packed(row, 100);
  ok = decodes_to(row_stream, 0, row, Pixels(100, 0), 100) && ok;
  put("one-row-w0", 0, 100, 128, row_stream);
  put("one-row-w-1", -1, 100, 128, row_stream);

  put("empty-stream", 7, 10, 0, {});
  put("no-pixels", 7, 0, 0, {0xFF, 0x00});
  return ok;
}

struct Mar345Seed {
  const char* name;
  int size;
  ByteOrder order;
  int overflow;    // pixels above 65535
  bool geometry;   // pixel size, distance, wavelength and centre
  bool drop_high;  // blank the HIGH keyword line, leaving the binary word
};

bool write_mar345_seed(const std::string& dir, const Mar345Seed& seed) {
  const std::int64_t n = std::int64_t{seed.size} * seed.size;
  std::mt19937 random(static_cast<unsigned>(seed.size * 7 + seed.overflow));
  std::vector<std::uint32_t> counts(static_cast<std::size_t>(n));
  for (std::int64_t p = 0; p < n; ++p) {
    const double dx = p % seed.size - seed.size / 2.0, dy = p / seed.size - seed.size / 2.0;
    const double ring = std::exp(-std::pow(std::sqrt(dx * dx + dy * dy) - seed.size / 3.0, 2));
    counts[p] = static_cast<std::uint32_t>(50 + 4000 * ring + random() % 20);
  }
  Mar345Contents contents;
  contents.size = seed.size;
  contents.byte_order = seed.order;
  for (int k = 0; k < seed.overflow; ++k) {
    const std::uint32_t address = static_cast<std::uint32_t>(random() % n) + 1;
    counts[address - 1] = 65536 + static_cast<std::uint32_t>(random() % 200000);
    contents.overflow.push_back({address, counts[address - 1]});
  }
  Pixels low(counts.size());
  for (std::size_t p = 0; p < counts.size(); ++p) low[p] = static_cast<std::uint16_t>(counts[p]);
  contents.stream = packed(low, seed.size);
  if (seed.geometry) {
    contents.pixel_um = 150;
    contents.distance_mm = 180.5;
    contents.wavelength_angstrom = 1.5418;
    contents.center_x_px = seed.size / 2.0;
    contents.center_y_px = seed.size / 2.0 + 0.5;
    contents.remarks = {"ring pattern for the fuzzer"};
  }
  Bytes file = write_mar345(contents);
  if (seed.drop_high) {
    const char high[] = "HIGH ";
    for (std::size_t at = 128; at + 64 <= kMar345HeaderBytes; at += 64) {
      if (std::memcmp(file.data() + at, high, std::strlen(high)) == 0) {
        std::memset(file.data() + at, ' ', 64);
      }
    }
  }
  Mar345Header header;
  try {
    header = parse_mar345(file.data(), file.size());
  } catch (const Error& e) {
    std::fprintf(stderr, "make_seeds: %s does not read back: %s\n", seed.name, e.what());
    return false;
  }
  if (header.overflow.size() != contents.overflow.size() ||
      !decodes_to(
          Bytes(file.begin() + static_cast<std::ptrdiff_t>(header.stream_offset), file.end()),
          seed.size, low, Pixels(low.size(), 0), n)) {
    std::fprintf(stderr, "make_seeds: %s does not read back\n", seed.name);
    return false;
  }
  return write(dir + "/seed-" + seed.name, file);
}

bool write_mar345_seeds(const std::string& dir) {
  const Mar345Seed seeds[] = {
      {"16x16-little-3-overflow", 16, ByteOrder::little, 3, true, false},
      {"16x16-big-9-overflow", 16, ByteOrder::big, 9, true, false},
      {"32x32-little-plain", 32, ByteOrder::little, 0, false, false},
      {"32x32-big-1-overflow", 32, ByteOrder::big, 1, true, false},
      {"16x16-little-word-high", 16, ByteOrder::little, 2, false, true},
      {"1x1-big", 1, ByteOrder::big, 0, false, false},
  };
  bool ok = true;
  for (const Mar345Seed& seed : seeds) ok = write_mar345_seed(dir, seed) && ok;
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_seeds CORPUS_DIR\n");
    return 2;
  }
  const std::string dir = argv[1];
  std::error_code error;
  for (const char* sub : {"/unpack", "/mar345"}) {
    std::filesystem::create_directories(dir + sub, error);
    if (error) {
      std::fprintf(stderr, "make_seeds: cannot make %s%s: %s\n", dir.c_str(), sub,
                   error.message().c_str());
      return 1;
    }
  }
  const bool ok = write_unpack_seeds(dir + "/unpack") && write_mar345_seeds(dir + "/mar345");
  return ok ? 0 : 1;
}
