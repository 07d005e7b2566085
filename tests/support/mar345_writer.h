// Writing MAR345 image files from a packed stream, for sample files and tests.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/formats/mar345.h"

namespace vokip {

struct Mar345Contents {
  int size = 0;                          // pixels along one side
  std::vector<std::uint8_t> stream;      // the packed pixels
  std::vector<OverflowRecord> overflow;  // pixels above 65535
  ByteOrder byte_order = ByteOrder::little;
  // Written as binary words and as text keywords; absent ones are left out of
  // the text and written as 0 (pixel size 1) in the words.
  std::optional<double> pixel_um;
  std::optional<double> distance_mm;
  std::optional<double> wavelength_angstrom;
  std::optional<double> center_x_px, center_y_px;
  std::string program = "vokip";
  std::vector<std::string> remarks;  // REMARK lines, at most 50 characters each
};

// The complete file: 4096-byte header, overflow records, marker line, stream.
std::vector<std::uint8_t> write_mar345(const Mar345Contents& contents);

// Writes bytes to a file; false and a message on failure.
bool write_file_bytes(const std::string& path, const std::vector<std::uint8_t>& bytes,
                      std::string* error);

}  // namespace vokip
