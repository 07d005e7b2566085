// TIFF files read from and written into memory with libtiff, whose messages
// are kept as the one line an Error carries.
#pragma once

#include <tiffio.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vokip {

// The bytes a TIFF is read from or written into.
struct TiffMemory {
  const std::vector<std::uint8_t>* source = nullptr;  // to read
  std::vector<std::uint8_t> written;                  // what is written
  toff_t at = 0;
};

using TiffHandle = std::unique_ptr<TIFF, void (*)(TIFF*)>;

// Opens the source bytes for reading ("r") or the written bytes for writing
// ("w"); null when libtiff refuses (tiff_message() says why).
TiffHandle open_tiff(TiffMemory* memory, const char* mode);

// libtiff's last error message on this thread.
const std::string& tiff_message();

}  // namespace vokip
