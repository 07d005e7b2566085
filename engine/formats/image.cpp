#include "engine/formats/image.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "decode/unpack_image.h"
#include "engine/base/error.h"

namespace vokip {

namespace {

// What the stream, which ends before its last pixel, holds.
Error stream_error(const StreamWalk& walk, std::int64_t length, std::int64_t n, std::int64_t w) {
  const std::string held = std::to_string(length) + " bytes hold only " +
                           std::to_string(walk.pixels) + " of the " + std::to_string(n) + " pixels";
  if (walk.first_impossible < 0) return Error("packed stream cut short: its " + held);
  // Damage makes the decoder read garbage as block headers, which runs the
  // stream dry long before its end should come.
  const std::int64_t p = walk.first_impossible, width = w >= 1 ? w : n;
  return Error("packed data damaged: from pixel " + std::to_string(p + 1) + " (row " +
               std::to_string(p / width + 1) + ", column " + std::to_string(p % width + 1) +
               ") on they do not decode (a difference no 16-bit image has), and the stream's " +
               held);
}

}  // namespace

void decode_stream(const std::uint8_t* stream, std::int64_t length, std::uint16_t* output,
                   std::int64_t n, std::int64_t w) {
  const UnpackResult decoded = unpack_image(stream, length, output, n, w);
  if (decoded.pixels < n) throw stream_error(walk_stream(stream, length, n), length, n, w);
}

void check_stream(const std::uint8_t* stream, std::int64_t length, std::int64_t n, std::int64_t w) {
  const StreamWalk walk = walk_stream(stream, length, n);
  if (walk.pixels < n) throw stream_error(walk, length, n, w);
}

void Image::decode(const std::uint8_t* file, const Mar345Header& h) {
  fractions_.clear();
  const std::uint8_t* stream = file + h.stream_offset;
  const auto length = static_cast<std::int64_t>(h.stream_length);
  // A damaged header may claim 16384 x 16384 pixels of a short stream: a
  // size no scan mode has is proved held before its memory is taken.
  if (!scan_mode_pixel_um(h.size)) check_stream(stream, length, h.pixel_count(), h.size);
  width_ = h.size;
  height_ = h.size;
  const std::int64_t n = pixels();
  low_.resize(static_cast<std::size_t>(n));
  // A one-pixel-wide image predicts from the output's prior content.
  if (width_ == 1) std::fill(low_.begin(), low_.end(), 0);
  decode_stream(stream, length, low_.data(), n, width_);
  index_overflow(h.overflow);
}

void Image::assign(const std::uint32_t* values, int width, int height) {
  fractions_.clear();
  width_ = width;
  height_ = height;
  const std::int64_t n = pixels();
  low_.resize(static_cast<std::size_t>(n));
  std::vector<OverflowRecord> overflow;
  for (std::int64_t p = 0; p < n; ++p) {
    const std::uint32_t v = values[p];
    low_[static_cast<std::size_t>(p)] = static_cast<std::uint16_t>(v);
    if (v > 0xFFFF) overflow.push_back({static_cast<std::uint32_t>(p + 1), v});
  }
  index_overflow(overflow);
}

void Image::assign(const double* values, int width, int height) {
  width_ = width;
  height_ = height;
  const std::int64_t n = pixels();
  low_.clear();
  overflow_.clear();
  has_overflow_.clear();
  fractions_.resize(static_cast<std::size_t>(n));
  for (std::int64_t p = 0; p < n; ++p) fractions_[p] = std::isnan(values[p]) ? 0.0 : values[p];
}

void Image::index_overflow(const std::vector<OverflowRecord>& records) {
  // The last record of an address wins.
  overflow_ = records;
  std::stable_sort(
      overflow_.begin(), overflow_.end(),
      [](const OverflowRecord& a, const OverflowRecord& b) { return a.address < b.address; });
  std::vector<OverflowRecord> last;
  for (const OverflowRecord& r : overflow_) {
    if (!last.empty() && last.back().address == r.address) {
      last.back() = r;
    } else {
      last.push_back(r);
    }
  }
  overflow_ = std::move(last);
  const std::int64_t n = pixels();
  has_overflow_.assign(static_cast<std::size_t>((n + 63) / 64), 0);
  for (const OverflowRecord& r : overflow_) {
    const std::int64_t p = std::int64_t{r.address} - 1;
    low_[static_cast<std::size_t>(p)] = 0;
    has_overflow_[static_cast<std::size_t>(p / 64)] |= std::uint64_t{1} << (p % 64);
  }
}

std::uint32_t Image::rare_value(std::int64_t p) const {
  if ((has_overflow_[static_cast<std::size_t>(p / 64)] >> (p % 64) & 1) == 0) return 0;
  const auto record = std::lower_bound(overflow_.begin(), overflow_.end(), p,
                                       [](const OverflowRecord& r, std::int64_t index) {
                                         return std::int64_t{r.address} - 1 < index;
                                       });
  return record->value;
}

std::int64_t Image::zero_count() const {
  // A plain loop, which the compiler turns into vector compares.
  std::int64_t zeros = 0;
  for (const double v : fractions_) zeros += v == 0;
  for (const std::uint16_t v : low_) zeros += v == 0;
  for (const OverflowRecord& r : overflow_) zeros -= r.value != 0;
  return zeros;
}

void Image::full(std::uint32_t* out) const {
  std::copy(low_.begin(), low_.end(), out);
  for (const OverflowRecord& r : overflow_) out[r.address - 1] = r.value;
}

}  // namespace vokip
