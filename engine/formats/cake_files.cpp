#include "engine/formats/cake_files.h"

#include <tiffio.h>

#include <cstdio>
#include <cstring>
#include <memory>

#include "engine/error.h"

namespace vokip {

namespace {

// A growing buffer libtiff writes into.
struct MemoryFile {
  std::vector<std::uint8_t> bytes;
  toff_t at = 0;
};

tsize_t memory_read(thandle_t handle, tdata_t into, tsize_t size) {
  auto* f = static_cast<MemoryFile*>(handle);
  const toff_t left = f->bytes.size() > f->at ? f->bytes.size() - f->at : 0;
  const toff_t n = std::min<toff_t>(left, static_cast<toff_t>(size));
  std::memcpy(into, f->bytes.data() + f->at, n);
  f->at += n;
  return static_cast<tsize_t>(n);
}
tsize_t memory_write(thandle_t handle, tdata_t from, tsize_t size) {
  auto* f = static_cast<MemoryFile*>(handle);
  if (f->at + size > f->bytes.size()) f->bytes.resize(f->at + size);
  std::memcpy(f->bytes.data() + f->at, from, static_cast<std::size_t>(size));
  f->at += size;
  return size;
}
toff_t memory_seek(thandle_t handle, toff_t offset, int whence) {
  auto* f = static_cast<MemoryFile*>(handle);
  const toff_t base = whence == SEEK_CUR ? f->at : whence == SEEK_END ? f->bytes.size() : 0;
  f->at = base + offset;
  return f->at;
}
int memory_close(thandle_t) {
  return 0;
}
toff_t memory_size(thandle_t handle) {
  return static_cast<MemoryFile*>(handle)->bytes.size();
}
int memory_map(thandle_t, tdata_t*, toff_t*) {
  return 0;
}
void memory_unmap(thandle_t, tdata_t, toff_t) {}

std::string number(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%.8g", v);
  return text;
}

}  // namespace

std::string format_cake_axes(const Profile& p, const std::string& input_name) {
  const std::size_t m = p.centre.size();
  std::string s = "vokip cake of " + input_name + ": " + std::to_string(p.cake.azimuth.count) +
                  " rows (azimuth bins) x " + std::to_string(m) + " columns (radial bins)\n";
  s += std::string("columns, ") + unit_name(p.unit) + ":";
  for (double c : p.centre) s += " " + number(axis_value(p.unit, c));
  s += "\nrows, azimuth chi in degrees:";
  for (int j = 0; j < p.cake.azimuth.count; ++j) s += " " + number(p.cake.azimuth.centre(j));
  s += "\n";
  return s;
}

std::vector<std::uint8_t> encode_cake_tiff(const Profile& p, const std::string& input_name) {
  const std::size_t m = p.centre.size();
  const int rows = p.cake.azimuth.count;
  if (rows < 1 || m < 1) throw Error("no cake to write");
  MemoryFile file;
  TIFF* tiff = TIFFClientOpen("cake", "w", &file, memory_read, memory_write, memory_seek,
                              memory_close, memory_size, memory_map, memory_unmap);
  if (!tiff) throw Error("the cake's TIFF cannot be made");
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
  TIFFClose(tiff);
  if (!ok) throw Error("the cake's TIFF cannot be written");
  return file.bytes;
}

}  // namespace vokip
