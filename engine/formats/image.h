// One image as the engine reads its pixels: the module's 16-bit decoding of
// a MAR345 file's packed stream, with the full values of the pixels above
// 65535 from the file's overflow records.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/formats/mar345.h"
#include "engine/memory/huge_pages.h"

namespace vokip {

// Decodes the n pixels of an image w pixels wide from a bare packed stream of
// length bytes with the module's core. The output's prior content enters
// when w is 1 (the predictor reads it). Throws Error when the stream ends
// before the last pixel.
void decode_stream(const std::uint8_t* stream, std::int64_t length, std::uint16_t* output,
                   std::int64_t n, std::int64_t w);

// Throws decode_stream's Error unless the stream holds all n pixels, without
// decoding them: a cheap proof before an image's memory is taken. The error
// tells a stream cut short from one whose data do not decode.
void check_stream(const std::uint8_t* stream, std::int64_t length, std::int64_t n, std::int64_t w);

class Image {
 public:
  // Decodes the packed stream of the parsed file into this image, reusing
  // its memory. Throws Error when the stream ends before the last pixel; of
  // a size no scan mode has, before taking the image's memory.
  void decode(const std::uint8_t* file, const Mar345Header& header);

  // The image of full intensities (row-major, width x height), as decoding
  // a file of it would give.
  void assign(const std::uint32_t* values, int width, int height);
  // An image of values that need not be whole counts (a background
  // subtracted, a normalised image), as given; NaN is no data, as 0 is.
  void assign(const double* values, int width, int height);
  // Whether its values are all whole counts (decoded, or assigned as such).
  bool counts() const { return fractions_.empty(); }

  int width() const { return width_; }
  int height() const { return height_; }
  std::int64_t pixels() const { return std::int64_t{width_} * height_; }

  // The full intensity of pixel p (row-major index).
  double value(std::int64_t p) const {
    if (!fractions_.empty()) return fractions_[static_cast<std::size_t>(p)];
    const std::uint16_t low = low_[static_cast<std::size_t>(p)];
    return low != 0 ? low : rare_value(p);
  }

  // Asks for pixel p's memory ahead of reading it.
  void prefetch(std::int64_t p) const {
    if (fractions_.empty()) {
      __builtin_prefetch(low_.data() + p);
    } else {
      __builtin_prefetch(fractions_.data() + p);
    }
  }

  // Pixels of value 0 (no data).
  std::int64_t zero_count() const;

  // Every pixel's full intensity, row-major, into out, which holds pixels() values.
  void full(std::uint32_t* out) const;

 private:
  // A pixel whose 16-bit value is 0: no data, or one with an overflow record.
  std::uint32_t rare_value(std::int64_t p) const;
  // Takes the records (in file order) and sets their pixels' 16-bit values to 0.
  void index_overflow(const std::vector<OverflowRecord>& records);

  int width_ = 0, height_ = 0;
  // The decoded stream, with 0 at every pixel that has an overflow record, so
  // that only pixels of value 0 need a look at the records.
  std::vector<std::uint16_t, HugePageAllocator<std::uint16_t>> low_;
  std::vector<OverflowRecord> overflow_;     // by address, the last record of each
  std::vector<std::uint64_t> has_overflow_;  // a bit per pixel
  // An assigned image's values when they are not whole counts; else empty.
  std::vector<double, HugePageAllocator<double>> fractions_;
};

}  // namespace vokip
