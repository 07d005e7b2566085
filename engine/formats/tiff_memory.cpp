#include "engine/formats/tiff_memory.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace vokip {

namespace {

thread_local std::string last_message;

void keep_message(const char*, const char* format, va_list args) {
  char text[512];
  std::vsnprintf(text, sizeof text, format, args);
  last_message = text;
}

void ignore_warning(const char*, const char*, va_list) {}

// The bytes a handle reads: the source's, or what was written.
const std::vector<std::uint8_t>& bytes_of(thandle_t handle) {
  const auto* m = static_cast<TiffMemory*>(handle);
  return m->source ? *m->source : m->written;
}

tsize_t memory_read(thandle_t handle, tdata_t into, tsize_t size) {
  auto* m = static_cast<TiffMemory*>(handle);
  const std::uint8_t* data = bytes_of(handle).data();
  const toff_t total = bytes_of(handle).size();
  const toff_t n = std::min<toff_t>(total > m->at ? total - m->at : 0, static_cast<toff_t>(size));
  std::memcpy(into, data + m->at, n);
  m->at += n;
  return static_cast<tsize_t>(n);
}

tsize_t memory_write(thandle_t handle, tdata_t from, tsize_t size) {
  auto* m = static_cast<TiffMemory*>(handle);
  if (m->source) return -1;
  if (m->at + size > m->written.size()) m->written.resize(m->at + size);
  std::memcpy(m->written.data() + m->at, from, static_cast<std::size_t>(size));
  m->at += size;
  return size;
}

toff_t memory_seek(thandle_t handle, toff_t offset, int whence) {
  auto* m = static_cast<TiffMemory*>(handle);
  const toff_t base = whence == SEEK_CUR ? m->at : whence == SEEK_END ? bytes_of(handle).size() : 0;
  m->at = base + offset;
  return m->at;
}

int memory_close(thandle_t) {
  return 0;
}

toff_t memory_size(thandle_t handle) {
  return bytes_of(handle).size();
}

int memory_map(thandle_t, tdata_t*, toff_t*) {
  return 0;
}

void memory_unmap(thandle_t, tdata_t, toff_t) {}

}  // namespace

TiffHandle open_tiff(TiffMemory* memory, const char* mode) {
  TIFFSetErrorHandler(keep_message);
  TIFFSetWarningHandler(ignore_warning);
  last_message.clear();
  // "m": no memory mapping of what is memory already.
  const std::string flags = std::string(mode) + "m";
  return TiffHandle(
      TIFFClientOpen("memory", flags.c_str(), memory, memory_read, memory_write, memory_seek,
                     memory_close, memory_size, memory_map, memory_unmap),
      TIFFClose);
}

const std::string& tiff_message() {
  return last_message;
}

}  // namespace vokip
