// Packs 16-bit images into the MAR packed pixel stream, for tests, benchmarks
// and sample files. Each pixel is written as its difference from the
// prediction the decoder will make; the differences go in blocks of 2^r
// fields of one width, chosen for a short stream unless the options force
// run codes or minimum widths.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

// Which of the differences that decode to the same pixel is written.
enum class DifferenceRule {
  wrapped,  // the one of least magnitude modulo 2^16: never wider than 16 bits
  counts,   // the pixel read as an unsigned count minus the prediction, as
            // count-based writers do: a jump from 0 to 65535 takes a 32-bit field
};

struct PackOptions {
  DifferenceRule rule = DifferenceRule::wrapped;
  // The output's content before decoding (n values), which the predictor of
  // an image one pixel wide reads. nullptr stands for zeros.
  const std::uint16_t* prior = nullptr;
  // Run codes of the blocks in turn, repeated as needed; empty lets the packer
  // choose. A block may promise more fields than pixels remain.
  std::vector<int> run_codes;
  // Least width codes of the blocks in turn, repeated as needed; a block is
  // widened when its differences need more bits.
  std::vector<int> min_width_codes;
  // Fill bits 16..31 of 32-bit fields with pseudo-random bits; only the low
  // 16 bits of a difference decide the pixel.
  bool scramble_high_bits = false;
  // Write zero fields for the part of the last block past the last pixel.
  bool pad_last_block = false;
};

struct PackStats {
  std::array<std::int64_t, 8> run_code_blocks{};    // blocks written per run code
  std::array<std::int64_t, 8> width_code_blocks{};  // blocks written per width code
  std::int64_t blocks = 0;
  std::int64_t bits_read = 0;  // bits a decoder takes to decode all n pixels
};

// Packs n pixels of an image of width w >= 1, stored row after row. Throws
// std::invalid_argument for n < 0, w < 1 or a code outside 0..7.
std::vector<std::uint8_t> pack_image(const std::uint16_t* image, std::int64_t n, std::int64_t w,
                                     const PackOptions& options = {}, PackStats* stats = nullptr);
