#include "engine/formats/mask.h"

#include <cctype>

#include "engine/base/byte_order.h"
#include "engine/base/error.h"
#include "engine/formats/files.h"
#include "engine/formats/image_files.h"

namespace vokip {

namespace {

class PgmReader {
 public:
  explicit PgmReader(const std::vector<std::uint8_t>& bytes) : b_(bytes) {}

  // A header number: blanks and # comments before it; false when absent.
  bool number(long* value) {
    skip_blanks_and_comments();
    if (at_ >= b_.size() || !std::isdigit(b_[at_])) return false;
    long v = 0;
    while (at_ < b_.size() && std::isdigit(b_[at_])) {
      v = v * 10 + (b_[at_++] - '0');
      if (v > 1000000) return false;
    }
    *value = v;
    return true;
  }
  // The single blank between the header and binary pixels.
  bool single_blank() {
    if (at_ >= b_.size() || !std::isspace(b_[at_])) return false;
    ++at_;
    return true;
  }
  std::size_t position() const { return at_; }

 private:
  void skip_blanks_and_comments() {
    while (at_ < b_.size()) {
      if (std::isspace(b_[at_])) {
        ++at_;
      } else if (b_[at_] == '#') {
        while (at_ < b_.size() && b_[at_] != '\n') ++at_;
      } else {
        break;
      }
    }
  }

  const std::vector<std::uint8_t>& b_;
  std::size_t at_ = 2;  // after the magic number
};

Mask parse_pgm_mask(const std::vector<std::uint8_t>& bytes) {
  Mask mask;
  // P5 (binary) or P2 (text), as image_format told.
  const bool text = bytes[1] == '2';
  PgmReader in(bytes);
  long width = 0, height = 0, maxval = 0;
  if (!in.number(&width) || !in.number(&height) || !in.number(&maxval) || width < 1 || height < 1 ||
      width > kLargestImageSide || height > kLargestImageSide || maxval < 1 || maxval > 65535) {
    throw Error("malformed PGM header");
  }
  const std::size_t pixels = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  mask.width = static_cast<int>(width);
  mask.height = static_cast<int>(height);
  mask.excluded.assign(pixels, 0);
  if (text) {
    for (std::size_t i = 0; i < pixels; ++i) {
      long v = 0;
      if (!in.number(&v)) {
        throw Error("PGM mask ends after " + std::to_string(i) + " of " + std::to_string(pixels) +
                    " pixels");
      }
      mask.excluded[i] = v != 0;
    }
    return mask;
  }
  if (!in.single_blank()) {
    throw Error("malformed PGM header");
  }
  const std::size_t sample = maxval > 255 ? 2 : 1;
  const std::size_t start = in.position();
  if (bytes.size() - start < pixels * sample) {
    throw Error("PGM mask holds " + std::to_string((bytes.size() - start) / sample) + " of its " +
                std::to_string(pixels) + " pixels");
  }
  for (std::size_t i = 0; i < pixels; ++i) {
    const std::uint8_t* p = bytes.data() + start + i * sample;
    mask.excluded[i] = (sample == 1 ? p[0] : (p[0] | p[1])) != 0;
  }
  return mask;
}

constexpr std::size_t kFit2dHeaderBytes = 1024;

bool fit2d_magic(const std::vector<std::uint8_t>& b, ByteOrder order) {
  if (b.size() < 16) return false;
  const char magic[] = "MASK";
  for (std::size_t k = 0; k < 4; ++k) {
    if (read_u32(b.data() + 4 * k, order) != static_cast<std::uint32_t>(magic[k])) return false;
  }
  return true;
}

bool is_fit2d_mask(const std::vector<std::uint8_t>& bytes) {
  return fit2d_magic(bytes, ByteOrder::little) || fit2d_magic(bytes, ByteOrder::big);
}

Mask parse_fit2d_mask(const std::vector<std::uint8_t>& bytes) {
  if (bytes.size() < kFit2dHeaderBytes) throw Error("the FIT2D mask's header is cut short");
  const ByteOrder order =
      fit2d_magic(bytes, ByteOrder::little) ? ByteOrder::little : ByteOrder::big;
  const std::uint32_t width = read_u32(bytes.data() + 16, order);
  const std::uint32_t height = read_u32(bytes.data() + 20, order);
  if (width < 1 || height < 1 || width > kLargestImageSide || height > kLargestImageSide) {
    throw Error("the FIT2D mask's size " + std::to_string(width) + " x " + std::to_string(height) +
                " is not an image's");
  }
  const std::size_t row_words = (width + 31) / 32;
  const std::size_t rows_bytes = 4 * row_words * height;
  if (bytes.size() - kFit2dHeaderBytes < rows_bytes) {
    throw Error("the FIT2D mask holds " +
                std::to_string((bytes.size() - kFit2dHeaderBytes) / (4 * row_words)) + " of its " +
                std::to_string(height) + " rows");
  }
  Mask mask;
  mask.width = static_cast<int>(width);
  mask.height = static_cast<int>(height);
  mask.excluded.assign(std::size_t{width} * height, 0);
  for (std::size_t row = 0; row < height; ++row) {
    const std::size_t row_start = kFit2dHeaderBytes + 4 * row_words * row;
    for (std::size_t column = 0; column < width; ++column) {
      const std::uint32_t word = read_u32(bytes.data() + row_start + 4 * (column / 32), order);
      mask.excluded[row * width + column] = (word >> (column % 32)) & 1;
    }
  }
  return mask;
}

}  // namespace

Mask parse_mask(const std::vector<std::uint8_t>& bytes) {
  const ImageFormat format = image_format(bytes);
  if (format == ImageFormat::pgm) return parse_pgm_mask(bytes);
  if (is_fit2d_mask(bytes)) return parse_fit2d_mask(bytes);
  if (format != ImageFormat::tiff && format != ImageFormat::edf) {
    throw Error("not a PGM, FIT2D, TIFF or EDF mask");
  }
  const ValueImage image = parse_value_image(bytes);
  Mask mask;
  mask.width = image.width;
  mask.height = image.height;
  mask.excluded.resize(image.values.size());
  for (std::size_t i = 0; i < image.values.size(); ++i) mask.excluded[i] = image.values[i] != 0;
  return mask;
}

Mask read_mask(const std::string& path) {
  return parse_mask(read_file(path));
}

}  // namespace vokip
