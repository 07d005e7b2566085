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

#include "engine/base/byte_order.h"
#include "engine/geometry/geometry.h"

namespace vokip {

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

  // Geometry the file gives; the text keywords win over the binary words. A
  // pixel size the file leaves out is its scan mode's, when its size is one.
  GeometryFields geometry;

  // Every text line up to END OF HEADER: first word, then the rest, trimmed.
  std::vector<std::pair<std::string, std::string>> keywords;

  std::size_t stream_offset = 0;  // first byte of the packed stream
  std::size_t stream_length = 0;  // bytes from there to the end of the file

  std::int64_t pixel_count() const { return std::int64_t{size} * size; }
};

constexpr std::size_t kMar345HeaderBytes = 4096;
constexpr int kMar345LargestSize = 16384;

// The pixel size in micrometres of the scanner's mode of this many pixels
// along a side (3450, 3000, 2400, 1800: 100 um; 2300, 2000, 1600, 1200:
// 150 um), or nothing for a size no mode has.
std::optional<double> scan_mode_pixel_um(int size);

// Parses a whole file's bytes. Throws Error saying what is wrong when they
// are not a readable MAR345 image.
Mar345Header parse_mar345(const std::uint8_t* bytes, std::size_t length);

}  // namespace vokip
