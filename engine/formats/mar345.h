// Reading MAR345 image files: the binary header, the text keywords, the
// overflow records of pixels above 65535, and where the packed stream lies.
// Pure parsing of bytes; decoding the stream is the module's job.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace vokip {

enum class ByteOrder { little, big };

// The 32-bit word at p, written in the given byte order.
std::uint32_t read_u32(const std::uint8_t* p, ByteOrder order);

// A pixel whose intensity does not fit the 16-bit stream.
struct OverflowRecord {
  std::uint32_t address;  // flat index counted from 1, row-major
  std::uint32_t value;    // the full intensity
};

struct Mar345Header {
  ByteOrder byte_order = ByteOrder::little;
  std::array<std::int32_t, 16> words{};  // in host order
  int size = 0;                          // pixels along one side (X = Y = size)
  std::vector<OverflowRecord> overflow;  // HIGH records, in file order

  // Geometry the file gives; the text keywords win over the binary words.
  std::optional<double> pixel_length_um, pixel_height_um;
  std::optional<double> distance_mm;
  std::optional<double> wavelength_angstrom;
  std::optional<double> center_x_px, center_y_px;

  // Every text line up to END OF HEADER: first word, then the rest, trimmed.
  std::vector<std::pair<std::string, std::string>> keywords;

  std::size_t stream_offset = 0;  // first byte of the packed stream
  std::size_t stream_length = 0;  // bytes from there to the end of the file

  std::int64_t pixel_count() const { return std::int64_t{size} * size; }
};

constexpr std::size_t kMar345HeaderBytes = 4096;
constexpr int kMar345LargestSize = 16384;

// Parses a whole file's bytes. Throws Error saying what is wrong when they
// are not a readable MAR345 image.
Mar345Header parse_mar345(const std::uint8_t* bytes, std::size_t length);

}  // namespace vokip
