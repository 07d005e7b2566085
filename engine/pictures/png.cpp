#include "engine/pictures/png.h"

#include <png.h>

#include <cstring>

#include "engine/base/error.h"
#include "engine/formats/files.h"

namespace vokip {

Picture::Picture(int w, int h, Colour c, Rgb fill) : width(w), height(h), colour(c) {
  if (w < 0 || h < 0) throw Error("a picture cannot have a negative size");
  samples.resize(static_cast<std::size_t>(w) * h * channels());
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) set(x, y, fill);
  }
}

void Picture::set(int x, int y, Rgb c) {
  if (!contains(x, y)) return;
  std::uint8_t* p = samples.data() + (static_cast<std::size_t>(y) * width + x) * channels();
  if (colour == Colour::grey) {
    p[0] = c.g;
  } else {
    p[0] = c.r;
    p[1] = c.g;
    p[2] = c.b;
  }
}

Rgb Picture::at(int x, int y) const {
  const std::uint8_t* p = samples.data() + (static_cast<std::size_t>(y) * width + x) * channels();
  return colour == Colour::grey ? Rgb{p[0], p[0], p[0]} : Rgb{p[0], p[1], p[2]};
}

std::vector<std::uint8_t> encode_png(const Picture& picture) {
  if (picture.width < 1 || picture.height < 1) {
    throw Error("a PNG picture needs at least one pixel");
  }
  if (picture.samples.size() !=
      static_cast<std::size_t>(picture.width) * picture.height * picture.channels()) {
    throw Error("the picture's samples do not fill its " + std::to_string(picture.width) + " x " +
                std::to_string(picture.height) + " pixels");
  }
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(picture.width);
  image.height = static_cast<png_uint_32>(picture.height);
  image.format = picture.colour == Picture::Colour::grey ? PNG_FORMAT_GRAY : PNG_FORMAT_RGB;
  // Pictures are written for every image of a batch: compressed quickly
  // rather than to the last byte.
  image.flags = PNG_IMAGE_FLAG_FAST;
  // Written once into room for the largest PNG the picture can make.
  std::vector<std::uint8_t> bytes(PNG_IMAGE_PNG_SIZE_MAX(image));
  png_alloc_size_t size = bytes.size();
  if (!png_image_write_to_memory(&image, bytes.data(), &size, 0, picture.samples.data(), 0,
                                 nullptr)) {
    throw Error(std::string("PNG encoding failed: ") + image.message);
  }
  bytes.resize(size);
  return bytes;
}

void write_png(const std::string& path, const Picture& picture) {
  write_file_atomically(path, encode_png(picture));
}

}  // namespace vokip
