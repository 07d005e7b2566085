// Fuzzes parse_mar345 on arbitrary bytes, given as an exactly sized heap copy
// so that the sanitizers catch any read past the file's end.
//
// When the parse succeeds, the harness traps unless the header's claims agree
// with the bytes:
//   - the byte-order word reads 1234 in the order found, and the 16 words are
//     the file's words in that order; size is word 1, in 1..kMar345LargestSize;
//   - HIGH (the last HIGH keyword, else word 2) records were read, each the
//     file's pair at its place after the 4096-byte header, each address in
//     1..size*size, each value a count above 65535 (65536 .. 2^31 - 1);
//   - the stream starts after the header, the records and the line holding
//     the first "CCP4 packed image" after them, right after that line's
//     newline, and runs to the end of the file; it has at least the bits of the
//     shortest stream of size*size pixels;
//   - keywords are single words, their values trimmed; geometry values are
//     finite;
//   - the same bytes with one more byte at the end parse the same, with a
//     stream one byte longer.
// For images up to 256 x 256 the stream is decoded into an exactly sized image
// with the module's decoder, which must stay within the stream and the image.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "decode/unpack_image.h"
#include "engine/base/error.h"
#include "engine/formats/mar345.h"
#include "invariant.h"

namespace {

using namespace vokip;

constexpr char kMarker[] = "CCP4 packed image";
constexpr int kLargestDecodedSize = 256;

std::uint32_t word_at(const std::uint8_t* p, ByteOrder order) {
  if (order == ByteOrder::little) {
    return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
           std::uint32_t{p[3]} << 24;
  }
  return std::uint32_t{p[3]} | std::uint32_t{p[2]} << 8 | std::uint32_t{p[1]} << 16 |
         std::uint32_t{p[0]} << 24;
}

bool trimmed(const std::string& s) {
  const char* blanks = " \t\r\n";
  return s.empty() ||
         (std::strchr(blanks, s.front()) == nullptr && std::strchr(blanks, s.back()) == nullptr);
}

bool finite_or_absent(const std::optional<double>& v) {
  return !v || std::isfinite(*v);
}

// The overflow count the file states: the last HIGH keyword's number, else word 2.
double stated_high(const Mar345Header& h) {
  double high = h.words[2];
  for (const auto& [key, rest] : h.keywords) {
    if (key == "HIGH") high = std::strtod(rest.c_str(), nullptr);
  }
  return high;
}

void check_header(const Mar345Header& h, const std::uint8_t* bytes, std::size_t length) {
  // Byte order and the binary words.
  CHECK(length >= kMar345HeaderBytes);
  CHECK(word_at(bytes, h.byte_order) == 1234u);
  for (std::size_t k = 0; k < h.words.size(); ++k) {
    CHECK(static_cast<std::uint32_t>(h.words[k]) == word_at(bytes + 4 * k, h.byte_order));
  }
  CHECK(h.size > 0);
  CHECK(h.size <= kMar345LargestSize);
  CHECK(h.words[1] == h.size);
  const std::int64_t pixels = std::int64_t{h.size} * h.size;

  // The overflow records.
  CHECK(static_cast<double>(h.overflow.size()) == stated_high(h));
  const std::size_t record_bytes = (h.overflow.size() + 7) / 8 * 64;
  CHECK(kMar345HeaderBytes + record_bytes <= length);
  for (std::size_t k = 0; k < h.overflow.size(); ++k) {
    const OverflowRecord& r = h.overflow[k];
    CHECK(r.address >= 1);
    CHECK(r.address <= static_cast<std::uint64_t>(pixels));
    const std::uint8_t* at = bytes + kMar345HeaderBytes + 8 * k;
    CHECK(r.address == word_at(at, h.byte_order));
    CHECK(r.value == word_at(at + 4, h.byte_order));
    CHECK(r.value >= 65536u && r.value <= 0x7FFFFFFFu);
  }

  // The marker line and the stream.
  const std::size_t records_end = kMar345HeaderBytes + record_bytes;
  CHECK(h.stream_offset >= kMar345HeaderBytes);
  CHECK(h.stream_offset >= records_end + std::strlen(kMarker) + 1);
  CHECK(h.stream_offset <= length);
  CHECK(h.stream_offset + h.stream_length == length);
  CHECK(bytes[h.stream_offset - 1] == '\n');
  // The first marker after the records, on the line that ends just before the stream.
  const std::uint8_t* marker =
      std::search(bytes + records_end, bytes + length, kMarker, kMarker + std::strlen(kMarker));
  const std::uint8_t* newline = bytes + h.stream_offset - 1;
  CHECK(marker < newline);
  CHECK(static_cast<std::size_t>(newline - marker) >= std::strlen(kMarker));
  CHECK(std::find(marker, newline, '\n') == newline);
  const std::int64_t fewest_bits = (pixels + 127) / 128 * 6;
  CHECK(static_cast<std::int64_t>(h.stream_length) * 8 >= fewest_bits);

  // Keywords and geometry.
  for (const auto& [key, rest] : h.keywords) {
    // The key is the line's first word: up to the first blank or tab.
    CHECK(!key.empty());
    CHECK(key.find_first_of(" \t\n") == std::string::npos);
    CHECK(std::strchr(" \t\r", key.front()) == nullptr);
    CHECK(trimmed(rest));
  }
  CHECK(finite_or_absent(h.geometry.pixel_x_um));
  CHECK(finite_or_absent(h.geometry.pixel_y_um));
  CHECK(finite_or_absent(h.geometry.distance_mm));
  CHECK(finite_or_absent(h.geometry.wavelength_angstrom));
  CHECK(finite_or_absent(h.geometry.center_x_px));
  CHECK(finite_or_absent(h.geometry.center_y_px));
}

// Decodes the stream of a small image into an exactly sized image.
void decode_image(const Mar345Header& h, const std::uint8_t* bytes) {
  const std::int64_t n = h.pixel_count();
  const std::int64_t count = static_cast<std::int64_t>(h.stream_length);
  std::unique_ptr<std::uint8_t[]> stream(new std::uint8_t[h.stream_length]);
  std::copy(bytes + h.stream_offset, bytes + h.stream_offset + h.stream_length, stream.get());
  constexpr std::uint16_t kSentinel = 0x5A3C;
  std::unique_ptr<std::uint16_t[]> image(new std::uint16_t[static_cast<std::size_t>(n)]);
  std::fill(image.get(), image.get() + n, kSentinel);
  const UnpackResult result = unpack_image(stream.get(), count, image.get(), n, h.size);
  CHECK(result.pixels >= 0);
  CHECK(result.pixels <= n);
  CHECK(result.bytes_fetched >= 0);
  CHECK(result.bytes_fetched <= count);
  for (std::int64_t p = result.pixels; p < n; ++p) CHECK(image[p] == kSentinel);
}

// The header, or nothing when the bytes are refused with a message.
std::optional<Mar345Header> parse(const std::uint8_t* bytes, std::size_t size) {
  try {
    return parse_mar345(bytes, size);
  } catch (const Error& e) {
    CHECK(e.what()[0] != '\0');
    return std::nullopt;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::unique_ptr<std::uint8_t[]> bytes(new std::uint8_t[size]);
  std::copy(data, data + size, bytes.get());
  const std::optional<Mar345Header> parsed = parse(bytes.get(), size);
  if (!parsed) return 0;
  const Mar345Header& h = *parsed;
  check_header(h, bytes.get(), size);

  // One more byte after the stream changes nothing but the stream's length.
  std::unique_ptr<std::uint8_t[]> longer(new std::uint8_t[size + 1]);
  std::copy(data, data + size, longer.get());
  longer[size] = size > 0 ? data[size - 1] : 0;
  const std::optional<Mar345Header> longer_parse = parse(longer.get(), size + 1);
  CHECK(longer_parse.has_value());
  CHECK(longer_parse->stream_offset == h.stream_offset);
  CHECK(longer_parse->stream_length == h.stream_length + 1);
  CHECK(longer_parse->size == h.size);
  CHECK(longer_parse->overflow.size() == h.overflow.size());

  if (h.size <= kLargestDecodedSize) decode_image(h, bytes.get());
  return 0;
}
