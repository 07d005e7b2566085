#include "engine/formats/image_files.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <map>
#include <memory>
#include <string>

#include "engine/base/byte_order.h"
#include "engine/base/error.h"
#include "engine/base/text.h"
#include "engine/formats/files.h"
#include "engine/formats/image.h"
#include "engine/formats/mar345.h"
#include "engine/formats/tiff_memory.h"

namespace vokip {

namespace {

void check_size(long width, long height, const char* format) {
  if (width < 1 || height < 1 || width > kLargestImageSide || height > kLargestImageSide) {
    throw Error(std::string("the ") + format + " image's size " + std::to_string(width) + " x " +
                std::to_string(height) + " is not an image's");
  }
}

// ---- TIFF, through libtiff ----

ValueImage parse_tiff(const std::vector<std::uint8_t>& bytes) {
  TiffMemory memory;
  memory.source = &bytes;
  const TiffHandle tiff = open_tiff(&memory, "r");
  if (!tiff) throw Error("not a readable TIFF: " + tiff_message());
  std::uint32_t width = 0, height = 0;
  std::uint16_t bits = 0, samples = 1, format = SAMPLEFORMAT_UINT;
  TIFFGetField(tiff.get(), TIFFTAG_IMAGEWIDTH, &width);
  TIFFGetField(tiff.get(), TIFFTAG_IMAGELENGTH, &height);
  TIFFGetFieldDefaulted(tiff.get(), TIFFTAG_BITSPERSAMPLE, &bits);
  TIFFGetFieldDefaulted(tiff.get(), TIFFTAG_SAMPLESPERPIXEL, &samples);
  TIFFGetFieldDefaulted(tiff.get(), TIFFTAG_SAMPLEFORMAT, &format);
  check_size(width, height, "TIFF");
  const bool integer = format == SAMPLEFORMAT_UINT || format == SAMPLEFORMAT_INT;
  const bool supported = samples == 1 && ((integer && (bits == 8 || bits == 16 || bits == 32)) ||
                                          (format == SAMPLEFORMAT_IEEEFP && bits == 32));
  if (!supported) {
    throw Error("a TIFF of " + std::to_string(samples) + " sample(s) of " + std::to_string(bits) +
                "-bit " + (format == SAMPLEFORMAT_IEEEFP ? "floats" : "integers") +
                "; one sample of 8-, 16- or 32-bit integers or 32-bit floats is read");
  }
  ValueImage image;
  image.width = static_cast<int>(width);
  image.height = static_cast<int>(height);
  image.values.resize(static_cast<std::size_t>(width) * height);
  std::vector<std::uint8_t> line(static_cast<std::size_t>(TIFFScanlineSize(tiff.get())));
  const bool is_signed = format == SAMPLEFORMAT_INT;
  for (std::uint32_t row = 0; row < height; ++row) {
    if (TIFFReadScanline(tiff.get(), line.data(), row, 0) < 0) {
      throw Error("the TIFF's row " + std::to_string(row) + " cannot be read: " + tiff_message());
    }
    float* out = image.values.data() + static_cast<std::size_t>(row) * width;
    for (std::uint32_t c = 0; c < width; ++c) {
      const std::uint8_t* at = line.data() + static_cast<std::size_t>(c) * (bits / 8);
      switch (bits) {
        case 8:
          out[c] = is_signed ? static_cast<float>(static_cast<std::int8_t>(*at)) : *at;
          break;
        case 16: {
          std::uint16_t v;
          std::memcpy(&v, at, 2);
          out[c] = is_signed ? static_cast<float>(static_cast<std::int16_t>(v)) : v;
          break;
        }
        default:
          if (format == SAMPLEFORMAT_IEEEFP) {
            std::memcpy(&out[c], at, 4);
          } else {
            std::uint32_t v;
            std::memcpy(&v, at, 4);
            out[c] = is_signed ? static_cast<float>(static_cast<std::int32_t>(v))
                               : static_cast<float>(v);
          }
      }
    }
  }
  return image;
}

// ---- EDF: a text header in braces, then the first frame's data ----

struct EdfType {
  int bytes;
  bool is_signed, is_float;
};

const std::map<std::string, EdfType>& edf_types() {
  static const std::map<std::string, EdfType> types = {
      {"SignedByte", {1, true, false}},    {"UnsignedByte", {1, false, false}},
      {"SignedShort", {2, true, false}},   {"UnsignedShort", {2, false, false}},
      {"SignedInteger", {4, true, false}}, {"UnsignedInteger", {4, false, false}},
      {"SignedLong", {4, true, false}},    {"UnsignedLong", {4, false, false}},
      {"Signed64", {8, true, false}},      {"Unsigned64", {8, false, false}},
      {"FloatValue", {4, true, true}},     {"Float", {4, true, true}},
      {"DoubleValue", {8, true, true}},    {"Double", {8, true, true}},
  };
  return types;
}

ValueImage parse_edf(const std::vector<std::uint8_t>& bytes) {
  const std::string head(bytes.begin(), bytes.begin() + std::min<std::size_t>(bytes.size(), 65536));
  const std::size_t close = head.find('}');
  if (close == std::string::npos) throw Error("an EDF header without its closing brace");
  std::size_t data = close + 1;
  if (data < bytes.size() && bytes[data] == '\r') ++data;
  if (data < bytes.size() && bytes[data] == '\n') ++data;
  std::map<std::string, std::string> keys;
  std::size_t at = 1;
  while (at < close) {
    const std::size_t end = std::min(head.find(';', at), close);
    const std::string entry = head.substr(at, end - at);
    const std::size_t equals = entry.find('=');
    if (equals != std::string::npos) {
      keys[trim(entry.substr(0, equals))] = trim(entry.substr(equals + 1));
    }
    at = end + 1;
  }
  auto whole = [&](const char* key) {
    const auto found = keys.find(key);
    if (found == keys.end()) throw Error(std::string("the EDF header has no ") + key);
    const std::optional<long> v = whole_number_in(found->second);
    if (!v) throw Error(std::string("the EDF header's ") + key + " is not a number");
    return *v;
  };
  const long width = whole("Dim_1"), height = whole("Dim_2");
  check_size(width, height, "EDF");
  const std::string type_name = keys.count("DataType") ? keys["DataType"] : "";
  const auto type = edf_types().find(type_name);
  if (type == edf_types().end()) throw Error("the EDF's DataType '" + type_name + "' is not read");
  const EdfType t = type->second;
  const ByteOrder order = keys.count("ByteOrder") && keys["ByteOrder"] == "HighByteFirst"
                              ? ByteOrder::big
                              : ByteOrder::little;
  const std::size_t pixels = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  if (bytes.size() - data < pixels * t.bytes) {
    throw Error("the EDF holds " + std::to_string((bytes.size() - data) / t.bytes) + " of its " +
                std::to_string(pixels) + " pixels");
  }
  ValueImage image;
  image.width = static_cast<int>(width);
  image.height = static_cast<int>(height);
  image.values.resize(pixels);
  for (std::size_t i = 0; i < pixels; ++i) {
    std::uint64_t u = read_word(bytes.data() + data + i * t.bytes, t.bytes, order);
    double v = 0;
    if (t.is_float && t.bytes == 4) {
      const auto word = static_cast<std::uint32_t>(u);
      float f;
      std::memcpy(&f, &word, 4);
      v = f;
    } else if (t.is_float) {
      std::memcpy(&v, &u, 8);
    } else {
      if (t.is_signed && t.bytes < 8 && (u >> (8 * t.bytes - 1)) != 0) {
        u |= ~std::uint64_t{0} << (8 * t.bytes);  // extend the sign
      }
      v = t.is_signed ? static_cast<double>(static_cast<std::int64_t>(u)) : static_cast<double>(u);
    }
    image.values[i] = static_cast<float>(v);
  }
  return image;
}

ValueImage parse_mar345_values(const std::vector<std::uint8_t>& bytes) {
  const Mar345Header header = parse_mar345(bytes.data(), bytes.size());
  Image decoded;
  decoded.decode(bytes.data(), header);
  ValueImage image;
  image.width = decoded.width();
  image.height = decoded.height();
  image.values.resize(static_cast<std::size_t>(decoded.pixels()));
  for (std::int64_t p = 0; p < decoded.pixels(); ++p) {
    image.values[p] = static_cast<float>(decoded.value(p));
  }
  return image;
}

}  // namespace

ImageFormat image_format(const std::vector<std::uint8_t>& b) {
  if (b.size() >= 4 && ((b[0] == 'I' && b[1] == 'I' && b[2] == 42 && b[3] == 0) ||
                        (b[0] == 'M' && b[1] == 'M' && b[2] == 0 && b[3] == 42))) {
    return ImageFormat::tiff;
  }
  if (b.size() >= 4 && ((b[0] == 0xD2 && b[1] == 0x04 && b[2] == 0 && b[3] == 0) ||
                        (b[0] == 0 && b[1] == 0 && b[2] == 0x04 && b[3] == 0xD2))) {
    return ImageFormat::mar345;
  }
  if (b.size() >= 2 && b[0] == 'P' && (b[1] == '2' || b[1] == '5')) return ImageFormat::pgm;
  for (std::uint8_t c : b) {
    if (c == '{') return ImageFormat::edf;
    if (c != ' ' && c != '\n' && c != '\r' && c != '\t') break;
  }
  return ImageFormat::unknown;
}

ValueImage parse_value_image(const std::vector<std::uint8_t>& bytes) {
  switch (image_format(bytes)) {
    case ImageFormat::mar345:
      return parse_mar345_values(bytes);
    case ImageFormat::tiff:
      return parse_tiff(bytes);
    case ImageFormat::edf:
      return parse_edf(bytes);
    case ImageFormat::pgm:
    case ImageFormat::unknown:
      break;
  }
  throw Error("not a MAR345, TIFF or EDF image");
}

ValueImage read_value_image(const std::string& path) {
  return parse_value_image(read_file(path));
}

void check_image_size(const std::string& what, int width, int height, int image_width,
                      int image_height) {
  if (width != image_width || height != image_height) {
    throw Error("the " + what + " is " + std::to_string(width) + " x " + std::to_string(height) +
                " pixels, the image " + std::to_string(image_width) + " x " +
                std::to_string(image_height));
  }
}

}  // namespace vokip
