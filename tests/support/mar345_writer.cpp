#include "support/mar345_writer.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>

namespace vokip {

namespace {

void put_u32(std::vector<std::uint8_t>* out, std::size_t at, std::uint32_t v, ByteOrder order) {
  for (int k = 0; k < 4; ++k) {
    const int shift = order == ByteOrder::little ? 8 * k : 8 * (3 - k);
    (*out)[at + k] = static_cast<std::uint8_t>(v >> shift);
  }
}

// A 64-byte text line: the text, a newline, blanks.
void put_line(std::vector<std::uint8_t>* out, std::size_t* at, const std::string& text) {
  const std::string line = text.substr(0, 63) + "\n";
  std::memcpy(out->data() + *at, line.data(), line.size());
  *at += 64;
}

std::string format(const char* fmt, double a, double b = 0) {
  char text[96];
  std::snprintf(text, sizeof text, fmt, a, b);
  return text;
}

std::uint32_t rounded(double v) {
  return static_cast<std::uint32_t>(std::lround(v));
}

}  // namespace

std::vector<std::uint8_t> write_mar345(const Mar345Contents& c) {
  const std::size_t high = c.overflow.size();
  const std::size_t record_bytes = (high + 7) / 8 * 64;
  std::vector<std::uint8_t> out(kMar345HeaderBytes + record_bytes, 0);
  std::fill(out.begin() + 64, out.begin() + kMar345HeaderBytes, ' ');

  const ByteOrder order = c.byte_order;
  const std::uint32_t size = static_cast<std::uint32_t>(c.size);
  const std::uint32_t words[16] = {
      1234,
      size,
      static_cast<std::uint32_t>(high),
      1,
      0,
      size * size,
      c.pixel_um ? rounded(*c.pixel_um) : 1,
      c.pixel_um ? rounded(*c.pixel_um) : 1,
      c.wavelength_angstrom ? rounded(*c.wavelength_angstrom * 1e6) : 0,
      c.distance_mm ? rounded(*c.distance_mm * 1e3) : 0,
  };
  for (int k = 0; k < 16; ++k) put_u32(&out, 4 * k, words[k], order);

  std::memcpy(out.data() + 64, "mar research", 12);
  std::size_t at = 128;
  put_line(&out, &at, "PROGRAM        " + c.program);
  put_line(&out, &at, format("FORMAT         %.0f  PACK", c.size));
  put_line(&out, &at, "HIGH           " + std::to_string(high));
  if (c.pixel_um) {
    put_line(&out, &at,
             format("PIXEL          LENGTH %.0f  HEIGHT %.0f", *c.pixel_um, *c.pixel_um));
  }
  if (c.distance_mm) put_line(&out, &at, format("DISTANCE       %.3f", *c.distance_mm));
  if (c.wavelength_angstrom) {
    put_line(&out, &at, format("WAVELENGTH     %.5f", *c.wavelength_angstrom));
  }
  if (c.center_x_px && c.center_y_px) {
    put_line(&out, &at, format("CENTER         X %.3f  Y %.3f", *c.center_x_px, *c.center_y_px));
  }
  for (const std::string& remark : c.remarks) {
    if (at + 128 > kMar345HeaderBytes) break;
    put_line(&out, &at, "REMARK         " + remark);
  }
  put_line(&out, &at, "END OF HEADER");

  for (std::size_t k = 0; k < high; ++k) {
    put_u32(&out, kMar345HeaderBytes + 8 * k, c.overflow[k].address, order);
    put_u32(&out, kMar345HeaderBytes + 8 * k + 4, c.overflow[k].value, order);
  }
  char marker[80];
  std::snprintf(marker, sizeof marker, "\nCCP4 packed image, X: %04d, Y: %04d\n", c.size, c.size);
  out.insert(out.end(), marker, marker + std::strlen(marker));
  out.insert(out.end(), c.stream.begin(), c.stream.end());
  return out;
}

bool write_file_bytes(const std::string& path, const std::vector<std::uint8_t>& bytes,
                      std::string* error) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  if (file) file.write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  if (file) file.close();
  if (!file) {
    *error = "cannot write " + path + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

}  // namespace vokip
