// read_mar345 and decode: the engine's MAR345 reader and the module's
// decoder.
#include "engine/formats/files.h"

#include <algorithm>

#include "arrays.h"
#include "engine/formats/image.h"
#include "engine/formats/mar345.h"
#include "engine/memory/huge_pages.h"

namespace vokip::python {

namespace {

py::object optional_number(const std::optional<double>& value) {
  return value ? py::object(py::float_(*value)) : py::object(py::none());
}

// Header text as Latin-1, as the command line reads it: every byte one
// character, none refused.
py::str latin1(const std::string& text) {
  return py::reinterpret_steal<py::str>(
      PyUnicode_DecodeLatin1(text.data(), static_cast<Py_ssize_t>(text.size()), nullptr));
}

py::dict header_dict(const Mar345Header& h) {
  py::dict d;
  d["byte_order"] = h.byte_order == ByteOrder::little ? "little" : "big";
  d["size"] = h.size;
  py::tuple words(h.words.size());
  for (std::size_t k = 0; k < h.words.size(); ++k) words[k] = h.words[k];
  d["words"] = words;
  d["overflow_pixels"] = h.overflow.size();
  const GeometryFields& g = h.geometry;
  d["pixel_length_um"] = optional_number(g.pixel_x_um);
  d["pixel_height_um"] = optional_number(g.pixel_y_um);
  d["distance_mm"] = optional_number(g.distance_mm);
  d["wavelength_angstrom"] = optional_number(g.wavelength_angstrom);
  d["center_x_px"] = optional_number(g.center_x_px);
  d["center_y_px"] = optional_number(g.center_y_px);
  d["pixel_size_from_scan_mode"] = g.pixel_size_from_scan_mode;
  // Lines that start with the same word (REMARK) are joined, one per line.
  std::vector<std::pair<std::string, std::string>> joined;
  for (const auto& [word, text] : h.keywords) {
    const auto same = std::find_if(joined.begin(), joined.end(),
                                   [&](const auto& entry) { return entry.first == word; });
    if (same == joined.end()) {
      joined.emplace_back(word, text);
    } else {
      same->second += "\n" + text;
    }
  }
  py::dict keywords;
  for (const auto& [word, text] : joined) keywords[latin1(word)] = latin1(text);
  d["keywords"] = keywords;
  return d;
}

py::tuple read_mar345(const py::object& file) {
  const std::string path = path_argument("path", file);
  Mar345Header header;
  std::vector<std::uint32_t, HugePageAllocator<std::uint32_t>> full;
  {
    const py::gil_scoped_release unlocked;
    // Each thread keeps its buffers from file to file: fresh memory costs
    // its first touch (and huge pages their making) on every file.
    thread_local std::vector<std::uint8_t> bytes;
    thread_local Image image;
    try {
      read_file(path, &bytes);
      header = parse_mar345(bytes.data(), bytes.size());
      image.decode(bytes.data(), header);
      // In huge pages, whose first touch costs a fault per 2 MiB, not per 4 KiB.
      full.resize(static_cast<std::size_t>(image.pixels()));
      image.full(full.data());
    } catch (const Error& e) {
      throw about_file(path, e);
    }
  }
  const py::ssize_t size = header.size;
  return py::make_tuple(adopt(std::move(full), {size, size}), header_dict(header));
}

py::array_t<std::uint16_t> decode(const py::object& given, const py::object& shape) {
  const std::vector<py::ssize_t> dims = shape_of(shape);
  if (!PyObject_CheckBuffer(given.ptr())) {
    throw py::type_error(std::string("stream must be bytes-like (bytes, bytearray, memoryview or "
                                     "an array of 8-bit integers), not ") +
                         Py_TYPE(given.ptr())->tp_name);
  }
  const auto stream = py::reinterpret_borrow<py::buffer>(given);
  py::buffer_info info = stream.request();
  if (info.itemsize != 1) {
    throw py::type_error("stream must be bytes: a bytes-like object or an array of 8-bit integers");
  }
  py::object contiguous;  // keeps a contiguous copy alive when the stream is not
  bool packed = true;
  py::ssize_t step = 1;
  for (py::ssize_t k = info.ndim - 1; k >= 0; --k) {
    packed = packed && (info.shape[k] == 1 || info.strides[k] == step);
    step *= info.shape[k];
  }
  if (!packed) {
    contiguous = py::module_::import("numpy").attr("ascontiguousarray")(stream, "uint8");
    info = contiguous.cast<py::buffer>().request();
  }
  const auto* bytes = static_cast<const std::uint8_t*>(info.ptr);
  const std::int64_t length = info.size;
  const py::ssize_t n = element_count(dims), w = row_length(dims);
  std::vector<std::uint16_t, HugePageAllocator<std::uint16_t>> image;
  {
    const py::gil_scoped_release unlocked;
    // The stream must hold the shape's pixels before their memory is taken.
    check_stream(bytes, length, n, w);
    // Zeros: an image one pixel wide predicts from the output's prior content.
    allocate("shape", &image, n);
    decode_stream(bytes, length, image.data(), n, w);
  }
  return adopt(std::move(image), dims);
}

}  // namespace

void bind_files(py::module_& m) {
  m.def("read_mar345", &read_mar345, py::arg("path"),
        R"(read_mar345(path) -> (image, header)

Reads a MAR345 image file (.mar1200 ... .mar3450, either byte order).
path: a str, bytes or os.PathLike.

Returns the image as a (size, size) uint32 array, rows as stored, every
pixel at its full intensity (the overflow records of pixels above 65535
applied), and the header as a dict: 'byte_order' ('little' or 'big'),
'size', 'words' (the 16 binary header words, in file order), 'overflow_pixels'
(the number of overflow records), the geometry the file gives or None
('pixel_length_um', 'pixel_height_um', 'distance_mm', 'wavelength_angstrom',
'center_x_px', 'center_y_px'; the text keywords win over the binary words;
a pixel size the header leaves out is its scan mode's, which
'pixel_size_from_scan_mode' says), and 'keywords' (every text line up to END
OF HEADER, read as Latin-1: its first word to the rest of the line; lines
starting with the same word, such as REMARK, are joined with newlines).

A file that is not a readable MAR345 image raises ValueError, one that
cannot be read OSError, with the message vokip-reduce prints for it
('PATH: what is wrong').)");
  m.def("decode", &decode, py::arg("stream"), py::arg("shape"),
        R"(decode(stream, shape) -> numpy.ndarray of uint16

Decodes a bare MAR packed pixel stream (no header in front: the bytes after
a file's 'CCP4 packed image' line) with the module's decoder (UNPCK).

stream: bytes, bytearray, memoryview or an array of 8-bit integers.
shape: the image's shape, e.g. (rows, columns), or the pixel count; the
last dimension is the row length the predictor uses. Pixels are the 16-bit
values of the stream: a pixel above 65535 is stored in a file's overflow
records, which read_mar345 applies. Raises ValueError when the stream ends
before the last pixel (or its data do not decode), before the image's memory
is taken.)");
}

}  // namespace vokip::python
