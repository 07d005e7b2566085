#include "engine/formats/image_files.h"

#include <tiffio.h>

#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <map>
#include <memory>
#include <string>

#include "engine/error.h"
#include "engine/formats/files.h"
#include "engine/formats/mar345.h"
#include "engine/run/image.h"

namespace vokip {

namespace {

// Larger images than any detector's are damaged headers.
constexpr long kLargestSide = 1 << 16;

void check_size(long width, long height, const char* format) {
  if (width < 1 || height < 1 || width > kLargestSide || height > kLargestSide) {
    throw Error(std::string("the ") + format + " image's size " + std::to_string(width) + " x " +
                std::to_string(height) + " is not an image's");
  }
}

// ---- TIFF, through libtiff reading from memory ----

thread_local std::string tiff_message;

void keep_tiff_message(const char*, const char* format, va_list args) {
  char text[512];
  std::vsnprintf(text, sizeof text, format, args);
  tiff_message = text;
}

void ignore_tiff_warning(const char*, const char*, va_list) {}

// The bytes as a read-only file for libtiff.
struct MemoryFile {
  const std::vector<std::uint8_t>* bytes;
  toff_t at = 0;
};

tsize_t memory_read(thandle_t handle, tdata_t into, tsize_t size) {
  auto* f = static_cast<MemoryFile*>(handle);
  const toff_t left = f->bytes->size() > f->at ? f->bytes->size() - f->at : 0;
  const toff_t n = std::min<toff_t>(left, static_cast<toff_t>(size));
  std::memcpy(into, f->bytes->data() + f->at, n);
  f->at += n;
  return static_cast<tsize_t>(n);
}
tsize_t memory_write(thandle_t, tdata_t, tsize_t) {
  return -1;
}
toff_t memory_seek(thandle_t handle, toff_t offset, int whence) {
  auto* f = static_cast<MemoryFile*>(handle);
  const toff_t base = whence == SEEK_CUR ? f->at : whence == SEEK_END ? f->bytes->size() : 0;
  f->at = base + offset;
  return f->at;
}
int memory_close(thandle_t) {
  return 0;
}
toff_t memory_size(thandle_t handle) {
  return static_cast<MemoryFile*>(handle)->bytes->size();
}
int memory_map(thandle_t, tdata_t*, toff_t*) {
  return 0;
}
void memory_unmap(thandle_t, tdata_t, toff_t) {}

ValueImage parse_tiff(const std::vector<std::uint8_t>& bytes) {
  TIFFSetErrorHandler(keep_tiff_message);
  TIFFSetWarningHandler(ignore_tiff_warning);
  tiff_message.clear();
  MemoryFile file{&bytes};
  const std::unique_ptr<TIFF, void (*)(TIFF*)> tiff(
      TIFFClientOpen("image", "rm", &file, memory_read, memory_write, memory_seek, memory_close,
                     memory_size, memory_map, memory_unmap),
      TIFFClose);
  if (!tiff) throw Error("not a readable TIFF: " + tiff_message);
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
      throw Error("the TIFF's row " + std::to_string(row) + " cannot be read: " + tiff_message);
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
      auto trim = [](const std::string& s) {
        const std::size_t a = s.find_first_not_of(" \t\r\n");
        return a == std::string::npos ? std::string()
                                      : s.substr(a, s.find_last_not_of(" \t\r\n") - a + 1);
      };
      keys[trim(entry.substr(0, equals))] = trim(entry.substr(equals + 1));
    }
    at = end + 1;
  }
  auto whole = [&](const char* key) {
    const auto found = keys.find(key);
    if (found == keys.end()) throw Error(std::string("the EDF header has no ") + key);
    char* end = nullptr;
    const long v = std::strtol(found->second.c_str(), &end, 10);
    if (*end != '\0') throw Error(std::string("the EDF header's ") + key + " is not a number");
    return v;
  };
  const long width = whole("Dim_1"), height = whole("Dim_2");
  check_size(width, height, "EDF");
  const std::string type_name = keys.count("DataType") ? keys["DataType"] : "";
  const auto type = edf_types().find(type_name);
  if (type == edf_types().end()) throw Error("the EDF's DataType '" + type_name + "' is not read");
  const EdfType t = type->second;
  const bool big = keys.count("ByteOrder") && keys["ByteOrder"] == "HighByteFirst";
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
    std::uint8_t raw[8];
    const std::uint8_t* p = bytes.data() + data + i * t.bytes;
    for (int k = 0; k < t.bytes; ++k) raw[k] = big ? p[t.bytes - 1 - k] : p[k];
    double v = 0;
    if (t.is_float && t.bytes == 4) {
      float f;
      std::memcpy(&f, raw, 4);
      v = f;
    } else if (t.is_float) {
      std::memcpy(&v, raw, 8);
    } else {
      std::uint64_t u = 0;
      for (int k = t.bytes - 1; k >= 0; --k) u = (u << 8) | raw[k];
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

Mask parse_mask_image(const std::vector<std::uint8_t>& bytes) {
  const ImageFormat format = image_format(bytes);
  if (format == ImageFormat::pgm) return parse_mask(bytes);
  if (is_fit2d_mask(bytes)) return parse_fit2d_mask(bytes);
  if (format != ImageFormat::tiff && format != ImageFormat::edf) {
    throw Error("not a PGM, FIT2D, TIFF or EDF mask");
  }
  const ValueImage image = format == ImageFormat::tiff ? parse_tiff(bytes) : parse_edf(bytes);
  Mask mask;
  mask.width = image.width;
  mask.height = image.height;
  mask.excluded.resize(image.values.size());
  for (std::size_t i = 0; i < image.values.size(); ++i) mask.excluded[i] = image.values[i] != 0;
  return mask;
}

Mask read_mask_image(const std::string& path) {
  return parse_mask_image(read_file(path));
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
