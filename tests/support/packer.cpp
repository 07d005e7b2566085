#include "support/packer.h"

#include <algorithm>
#include <random>
#include <stdexcept>
#include <utility>

namespace {

constexpr int kHeaderBits = 6;
constexpr int kWidthBits[8] = {0, 4, 5, 6, 7, 8, 16, 32};
constexpr int kLongestRunCode = 7;

// Appends bit fields to a byte vector, least significant bit first.
class BitWriter {
 public:
  void put(std::uint64_t value, int bits) {
    for (int i = 0; i < bits; ++i, ++used_) {
      if (used_ % 8 == 0) bytes_.push_back(0);
      const unsigned bit = (value >> i) & 1u;
      bytes_.back() = static_cast<std::uint8_t>(bytes_.back() | bit << (used_ % 8));
    }
  }
  std::int64_t bits() const { return used_; }
  std::vector<std::uint8_t> release() { return std::move(bytes_); }

 private:
  std::vector<std::uint8_t> bytes_;
  std::int64_t used_ = 0;
};

std::int64_t signed16(std::uint16_t v) {
  return v >= 0x8000 ? std::int64_t{v} - 0x10000 : v;
}

// sum / 4 rounded toward zero.
std::int64_t quarter_toward_zero(std::int64_t sum) {
  return sum < 0 ? -(-sum / 4) : sum / 4;
}

// The difference the decoder must read for every pixel. While pixel p is
// decoded, pixels before p hold the image and the others their prior content.
std::vector<std::int64_t> differences(const std::uint16_t* image, std::int64_t n, std::int64_t w,
                                      const PackOptions& options) {
  std::vector<std::int64_t> d(static_cast<std::size_t>(n));
  for (std::int64_t p = 0; p < n; ++p) {
    auto seen = [&](std::int64_t i) {
      if (i < p) return signed16(image[i]);
      return options.prior ? signed16(options.prior[i]) : 0;
    };
    std::int64_t prediction = 0;
    if (p > w) {
      prediction =
          quarter_toward_zero(seen(p - 1) + seen(p - w + 1) + seen(p - w) + seen(p - w - 1) + 2);
    } else if (p > 0) {
      prediction = seen(p - 1);
    }
    const std::int64_t as_count = image[p] - prediction;
    d[p] = options.rule == DifferenceRule::counts
               ? as_count
               : signed16(static_cast<std::uint16_t>(as_count & 0xFFFF));
  }
  return d;
}

bool fits(std::int64_t d, int width_code) {
  const int bits = kWidthBits[width_code];
  if (bits == 0) return d == 0;
  const std::int64_t half = std::int64_t{1} << (bits - 1);
  return d >= -half && d < half;
}

int narrowest_width_code(std::int64_t d) {
  int code = 0;
  while (!fits(d, code)) ++code;
  return code;
}

// The widest code needed by the fields p .. p+len-1 (those before the end).
int width_code_for(const std::vector<std::int64_t>& d, std::int64_t p, std::int64_t len,
                   int least) {
  const std::int64_t end = std::min<std::int64_t>(p + len, static_cast<std::int64_t>(d.size()));
  int code = least;
  for (std::int64_t i = p; i < end; ++i) code = std::max(code, narrowest_width_code(d[i]));
  return code;
}

// The run code at p with the fewest bits per pixel (the longer on a tie),
// among those whose block ends by the last pixel.
int cheapest_run_code(const std::vector<std::int64_t>& d, std::int64_t p, int least_width) {
  const std::int64_t remaining = static_cast<std::int64_t>(d.size()) - p;
  int best = 0;
  std::int64_t best_bits = 0, best_len = 0;
  int code = least_width;
  std::int64_t scanned = 0;
  for (int r = 0; r <= kLongestRunCode; ++r) {
    const std::int64_t len = std::int64_t{1} << r;
    if (len > remaining) break;
    for (; scanned < len; ++scanned) code = std::max(code, narrowest_width_code(d[p + scanned]));
    const std::int64_t bits = kHeaderBits + len * kWidthBits[code];
    if (best_len == 0 || bits * best_len <= best_bits * len) {
      best = r;
      best_bits = bits;
      best_len = len;
    }
  }
  return best;
}

void check_code(int code) {
  if (code < 0 || code > 7) throw std::invalid_argument("pack_image: code outside 0..7");
}

}  // namespace

std::vector<std::uint8_t> pack_image(const std::uint16_t* image, std::int64_t n, std::int64_t w,
                                     const PackOptions& options, PackStats* stats) {
  if (n < 0 || w < 1) throw std::invalid_argument("pack_image: needs n >= 0 and w >= 1");
  for (int code : options.run_codes) check_code(code);
  for (int code : options.min_width_codes) check_code(code);

  const std::vector<std::int64_t> d = differences(image, n, w, options);
  std::mt19937 high_bits(12345);
  PackStats counted;
  BitWriter writer;
  for (std::int64_t p = 0; p < n; ++counted.blocks) {
    const std::size_t block = static_cast<std::size_t>(counted.blocks);
    const int least_width = options.min_width_codes.empty()
                                ? 0
                                : options.min_width_codes[block % options.min_width_codes.size()];
    const int run_code = options.run_codes.empty()
                             ? cheapest_run_code(d, p, least_width)
                             : options.run_codes[block % options.run_codes.size()];
    const std::int64_t count = std::int64_t{1} << run_code;
    const int width_code = width_code_for(d, p, count, least_width);
    const int bits = kWidthBits[width_code];

    writer.put(static_cast<std::uint64_t>(run_code | width_code << 3), kHeaderBits);
    const std::int64_t used = std::min(count, n - p);
    for (std::int64_t i = p; i < p + used; ++i) {
      std::uint64_t field = static_cast<std::uint64_t>(d[i]);
      if (bits == 32 && options.scramble_high_bits) {
        field = (field & 0xFFFF) | std::uint64_t{high_bits() & 0xFFFF} << 16;
      }
      writer.put(field, bits);
    }
    counted.bits_read = writer.bits();
    if (options.pad_last_block) {
      for (std::int64_t i = used; i < count; ++i) writer.put(0, bits);
    }
    ++counted.run_code_blocks[run_code];
    ++counted.width_code_blocks[width_code];
    p += used;
  }
  if (stats) *stats = counted;
  return writer.release();
}
