#include "engine/formats/cake_files.h"

#include "engine/base/error.h"
#include "engine/base/text.h"
#include "engine/formats/tiff_memory.h"

namespace vokip {

std::string format_cake_axes(const Profile& p, const std::string& input_name) {
  const std::size_t m = p.cake.centre.size();
  std::string s = "vokip cake of " + input_name + ": " + std::to_string(p.cake.azimuth.count) +
                  " rows (azimuth bins) x " + std::to_string(m) + " columns (radial bins)\n";
  s += std::string("columns, ") + unit_name(p.unit) + ":";
  for (double c : p.cake.centre) s += printf_string(" %.8g", axis_value(p.unit, c));
  s += "\nrows, azimuth chi in degrees:";
  for (int j = 0; j < p.cake.azimuth.count; ++j)
    s += printf_string(" %.8g", p.cake.azimuth.centre(j));
  s += "\n";
  return s;
}

std::vector<std::uint8_t> encode_cake_tiff(const Profile& p, const std::string& input_name) {
  const std::size_t m = p.cake.centre.size();
  const int rows = p.cake.azimuth.count;
  if (rows < 1 || m < 1) throw Error("no cake to write");
  TiffMemory memory;
  TiffHandle handle = open_tiff(&memory, "w");
  if (!handle) throw Error("the cake's TIFF cannot be made: " + tiff_message());
  TIFF* tiff = handle.get();
  const std::string description = format_cake_axes(p, input_name);
  TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, static_cast<std::uint32_t>(m));
  TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, static_cast<std::uint32_t>(rows));
  TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 32);
  TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 1);
  TIFFSetField(tiff, TIFFTAG_SAMPLEFORMAT, SAMPLEFORMAT_IEEEFP);
  TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
  TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, 1);
  TIFFSetField(tiff, TIFFTAG_IMAGEDESCRIPTION, description.c_str());
  std::vector<float> line(m);
  bool ok = true;
  for (int j = 0; j < rows && ok; ++j) {
    for (std::size_t i = 0; i < m; ++i) line[i] = static_cast<float>(p.cake.value[j * m + i]);
    ok = TIFFWriteScanline(tiff, line.data(), static_cast<std::uint32_t>(j), 0) >= 0;
  }
  handle.reset();  // writes the directory
  if (!ok) throw Error("the cake's TIFF cannot be written");
  return std::move(memory.written);
}

}  // namespace vokip
