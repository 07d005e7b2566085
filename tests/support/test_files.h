// Files for the engine's and command lines' tests: synthetic MAR345 images
// written to a temporary folder that is removed with its contents.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "support/mar345_writer.h"
#include "support/packer.h"
#include "support/ring_pattern.h"

namespace vokip {

class TempDir {
 public:
  TempDir() {
    char pattern[] = "/tmp/vokip_reduce_test_XXXXXX";
    const char* made = ::mkdtemp(pattern);
    if (made) path_ = made;
  }
  ~TempDir() {
    if (!path_.empty()) std::system(("rm -rf '" + path_ + "'").c_str());
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

inline void write_bytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::string error;
  ASSERT_TRUE(write_file_bytes(path, bytes, &error)) << error;
}

inline std::string read_text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline bool file_exists(const std::string& path) {
  return ::access(path.c_str(), F_OK) == 0;
}

// A small image of size x size pixels from a 16-bit image and overflow records.
inline Mar345Contents small_contents(int size, const std::vector<std::uint16_t>& low,
                                     std::vector<OverflowRecord> overflow = {},
                                     ByteOrder order = ByteOrder::little) {
  Mar345Contents c;
  c.size = size;
  c.stream = pack_image(low.data(), static_cast<std::int64_t>(low.size()), size);
  c.overflow = std::move(overflow);
  c.byte_order = order;
  c.pixel_um = 150;
  c.distance_mm = 100;
  c.wavelength_angstrom = 1.0;
  c.center_x_px = size / 2.0;
  c.center_y_px = size / 2.0;
  return c;
}

// A ring pattern small enough for quick tests.
inline RingPattern small_rings(int size = 300) {
  RingPattern s;
  s.size = size;
  s.pixel_um = 600;
  s.distance_mm = 120;
  s.center_x_px = size / 2.0 + 3.3;
  s.center_y_px = size / 2.0 - 4.6;
  s.beam_stop_radius_px = 6;
  s.overflow_pixels = 4;
  return s;
}

}  // namespace vokip
