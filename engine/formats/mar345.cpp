#include "engine/formats/mar345.h"

#include <cmath>
#include <cstring>

#include "engine/base/error.h"
#include "engine/base/text.h"

namespace vokip {

namespace {

constexpr std::uint32_t kByteOrderMark = 1234;
constexpr std::size_t kWordCount = 16;
constexpr std::size_t kTextStart = 128;
constexpr std::size_t kTextLine = 64;
constexpr std::size_t kRecordsPerGroup = 8;  // pairs are padded to groups of 64 bytes
constexpr char kMarker[] = "CCP4 packed image";
// The densest possible stream: a 6-bit header per block of 128 zero-width fields.
constexpr std::int64_t kMostPixelsPerBlock = 128;
constexpr std::int64_t kBlockHeaderBits = 6;

// The line trimmed, shortened, with anything unprintable shown as '?'.
std::string printable(const std::string& line) {
  std::string out = trim(line).substr(0, 60);
  for (char& c : out) {
    if (static_cast<unsigned char>(c) < 32 || static_cast<unsigned char>(c) > 126) c = '?';
  }
  return out;
}

// The number after the word `label` among `words`, e.g. LENGTH in "LENGTH 150 HEIGHT 150".
std::optional<double> labelled(const std::vector<std::string>& words, const char* label) {
  for (std::size_t k = 0; k + 1 < words.size(); ++k) {
    if (words[k] == label) return number_in(words[k + 1]);
  }
  return std::nullopt;
}

std::string hex32(std::uint32_t v) {
  return printf_string("0x%08X", v);
}

std::size_t find_text(const std::uint8_t* bytes, std::size_t length, std::size_t from,
                      const char* text) {
  const std::size_t n = std::strlen(text);
  for (std::size_t p = from; p + n <= length; ++p) {
    if (bytes[p] == static_cast<std::uint8_t>(text[0]) && std::memcmp(bytes + p, text, n) == 0) {
      return p;
    }
  }
  return std::string::npos;
}

// "CCP4 packed image, X: 1200, Y: 1200" -> 1200, 1200.
bool parse_marker_line(const std::string& line, long* x, long* y) {
  // After the marker: ", X: N, Y: N", blanks allowed around each part.
  std::string rest = line.substr(std::strlen(kMarker));
  long* into[2] = {x, y};
  const char* labels[2] = {"X:", "Y:"};
  for (int k = 0; k < 2; ++k) {
    rest = trim(rest);
    if (rest.empty() || rest[0] != ',') return false;
    rest = trim(rest.substr(1));
    if (rest.compare(0, 2, labels[k]) != 0) return false;
    rest = trim(rest.substr(2));
    const std::size_t end = k == 0 ? rest.find(',') : std::string::npos;
    const std::optional<long> v = whole_number_in(trim(rest.substr(0, end)));
    if (!v) return false;
    *into[k] = *v;
    rest = end == std::string::npos ? "" : rest.substr(end);
  }
  return true;
}

void read_keywords(const std::uint8_t* bytes, Mar345Header* h) {
  for (std::size_t at = kTextStart; at + kTextLine <= kMar345HeaderBytes; at += kTextLine) {
    const char* slot = reinterpret_cast<const char*>(bytes + at);
    std::size_t len = 0;
    while (len < kTextLine && slot[len] != '\n' && slot[len] != '\0') ++len;
    const std::string line = trim(std::string(slot, len));
    if (line == "END OF HEADER") break;
    if (line.empty()) continue;
    const std::size_t space = line.find_first_of(" \t");
    const std::string key = line.substr(0, space);
    const std::string rest = space == std::string::npos ? "" : trim(line.substr(space));
    h->keywords.emplace_back(key, rest);
  }
}

void take_geometry(Mar345Header* h) {
  // The binary words first; a writer that leaves a pixel size of 1 gives none.
  GeometryFields& g = h->geometry;
  if (h->words[6] > 1) g.pixel_x_um = h->words[6];
  if (h->words[7] > 1) g.pixel_y_um = h->words[7];
  if (h->words[8] > 0) g.wavelength_angstrom = h->words[8] / 1e6;
  if (h->words[9] > 0) g.distance_mm = h->words[9] / 1e3;
  for (const auto& [key, rest] : h->keywords) {
    const std::vector<std::string> words = words_of(rest);
    if (key == "PIXEL") {
      if (auto v = labelled(words, "LENGTH")) g.pixel_x_um = v;
      if (auto v = labelled(words, "HEIGHT")) g.pixel_y_um = v;
    } else if (key == "DISTANCE" && !words.empty()) {
      if (auto v = number_in(words[0])) g.distance_mm = v;
    } else if (key == "WAVELENGTH" && !words.empty()) {
      if (auto v = number_in(words[0])) g.wavelength_angstrom = v;
    } else if (key == "CENTER") {
      if (auto v = labelled(words, "X")) g.center_x_px = v;
      if (auto v = labelled(words, "Y")) g.center_y_px = v;
    }
  }
  if (const std::optional<double> mode = scan_mode_pixel_um(h->size)) {
    if (!g.pixel_x_um || !g.pixel_y_um) g.pixel_size_from_scan_mode = true;
    if (!g.pixel_x_um) g.pixel_x_um = mode;
    if (!g.pixel_y_um) g.pixel_y_um = mode;
  }
}

constexpr double kLargestCount = 2147483647.0;

// HIGH from the text when it is there, else the binary word.
bool overflow_count(const Mar345Header& h, std::int64_t* high, std::string* error) {
  *high = h.words[2];
  for (const auto& [key, rest] : h.keywords) {
    if (key != "HIGH") continue;
    const std::vector<std::string> words = words_of(rest);
    const std::optional<double> v = words.empty() ? std::nullopt : number_in(words[0]);
    // A count is whole and, like the binary word, fits 32 bits; testing the
    // range first keeps the conversion below defined.
    if (!v || std::fabs(*v) > kLargestCount || *v != std::floor(*v)) {
      *error = "the HIGH keyword '" + rest + "' is not a count";
      return false;
    }
    *high = static_cast<std::int64_t>(*v);
  }
  if (*high < 0) {
    *error = "negative overflow count HIGH " + std::to_string(*high);
    return false;
  }
  return true;
}

std::string parse(const std::uint8_t* bytes, std::size_t length, Mar345Header* h) {
  if (length == 0) return "empty file";
  if (length < 4) return "not a MAR345 image: only " + std::to_string(length) + " bytes";
  const std::uint32_t mark = read_u32(bytes, ByteOrder::little);
  if (mark == kByteOrderMark) {
    h->byte_order = ByteOrder::little;
  } else if (read_u32(bytes, ByteOrder::big) == kByteOrderMark) {
    h->byte_order = ByteOrder::big;
  } else {
    return "not a MAR345 image: the byte-order word is " + hex32(mark) + ", not 1234";
  }
  if (length < kMar345HeaderBytes) {
    return "header cut short: the file has " + std::to_string(length) + " bytes, a header " +
           std::to_string(kMar345HeaderBytes);
  }
  for (std::size_t k = 0; k < kWordCount; ++k) {
    h->words[k] = static_cast<std::int32_t>(read_u32(bytes + 4 * k, h->byte_order));
  }
  if (h->words[1] < 1 || h->words[1] > kMar345LargestSize) {
    return "image size " + std::to_string(h->words[1]) + " in the header is not 1 to " +
           std::to_string(kMar345LargestSize);
  }
  h->size = h->words[1];
  read_keywords(bytes, h);
  take_geometry(h);

  std::string error;
  std::int64_t high = 0;
  if (!overflow_count(*h, &high, &error)) return error;
  const std::int64_t groups = (high + kRecordsPerGroup - 1) / kRecordsPerGroup;
  const std::int64_t record_bytes = groups * 64;
  const std::int64_t after_header = static_cast<std::int64_t>(length - kMar345HeaderBytes);
  if (record_bytes > after_header) {
    return "overflow count HIGH " + std::to_string(high) + " needs " +
           std::to_string(record_bytes) + " bytes of records, but only " +
           std::to_string(after_header) + " bytes follow the header";
  }
  const std::size_t records_end = kMar345HeaderBytes + static_cast<std::size_t>(record_bytes);
  const std::size_t marker = find_text(bytes, length, records_end, kMarker);
  if (marker == std::string::npos) {
    if (find_text(bytes, length, kMar345HeaderBytes, kMarker) != std::string::npos) {
      return "the overflow records (HIGH " + std::to_string(high) +
             ") run into the 'CCP4 packed image' line";
    }
    return "no 'CCP4 packed image, X: ..., Y: ...' line after the header";
  }
  const std::int64_t pixels = h->pixel_count();
  h->overflow.reserve(static_cast<std::size_t>(high));
  for (std::int64_t k = 0; k < high; ++k) {
    const std::uint8_t* at = bytes + kMar345HeaderBytes + 8 * k;
    const OverflowRecord r{read_u32(at, h->byte_order), read_u32(at + 4, h->byte_order)};
    if (r.address < 1 || r.address > pixels) {
      return "overflow record " + std::to_string(k + 1) + " of " + std::to_string(high) +
             " addresses pixel " + std::to_string(r.address) + ", outside 1.." +
             std::to_string(pixels);
    }
    // A record holds a count the 16-bit stream cannot: 65536 to 2^31 - 1.
    const auto value = static_cast<std::int32_t>(r.value);
    if (value < 65536) {
      return "overflow record " + std::to_string(k + 1) + " of " + std::to_string(high) +
             " gives pixel " + std::to_string(r.address) + " the value " + std::to_string(value) +
             ", not a count above 65535";
    }
    h->overflow.push_back(r);
  }

  const std::size_t newline = find_text(bytes, length, marker, "\n");
  if (newline == std::string::npos) return "the file ends inside the 'CCP4 packed image' line";
  const std::string line(reinterpret_cast<const char*>(bytes + marker), newline - marker);
  long x = 0, y = 0;
  if (!parse_marker_line(trim(line), &x, &y)) return "malformed line '" + printable(line) + "'";
  if (x != h->size || y != h->size) {
    return "the header gives " + std::to_string(h->size) + " x " + std::to_string(h->size) +
           " pixels but the packed-image line X: " + std::to_string(x) +
           ", Y: " + std::to_string(y);
  }
  h->stream_offset = newline + 1;
  h->stream_length = length - h->stream_offset;
  const std::int64_t fewest_bits =
      (pixels + kMostPixelsPerBlock - 1) / kMostPixelsPerBlock * kBlockHeaderBits;
  if (static_cast<std::int64_t>(h->stream_length) * 8 < fewest_bits) {
    return "packed stream cut short: " + std::to_string(h->stream_length) +
           " bytes cannot hold the " + std::to_string(pixels) + " pixels of the image";
  }
  return "";
}

}  // namespace

std::optional<double> scan_mode_pixel_um(int size) {
  switch (size) {
    case 3450:
    case 3000:
    case 2400:
    case 1800:
      return 100.0;
    case 2300:
    case 2000:
    case 1600:
    case 1200:
      return 150.0;
    default:
      return std::nullopt;
  }
}

Mar345Header parse_mar345(const std::uint8_t* bytes, std::size_t length) {
  Mar345Header header;
  const std::string error = parse(bytes, length, &header);
  if (!error.empty()) throw Error(error);
  return header;
}

}  // namespace vokip
