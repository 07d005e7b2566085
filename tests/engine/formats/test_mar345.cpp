// Reading MAR345 files: both byte orders, the header's geometry, overflow
// records, and one clear error for every kind of damaged file.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "engine/base/error.h"
#include "engine/formats/files.h"
#include "engine/formats/mar345.h"
#include "support/mar345_writer.h"
#include "support/test_files.h"

namespace vokip {
namespace {

std::vector<std::uint16_t> ramp(int size) {
  std::vector<std::uint16_t> low(static_cast<std::size_t>(size) * size);
  for (std::size_t i = 0; i < low.size(); ++i) low[i] = static_cast<std::uint16_t>(100 + i % 97);
  return low;
}

// The header, or the error's message.
struct Mar345Parse {
  Mar345Header header;
  std::string error;
  bool ok() const { return error.empty(); }
};

Mar345Parse parse(const std::vector<std::uint8_t>& bytes) {
  Mar345Parse p;
  try {
    p.header = parse_mar345(bytes.data(), bytes.size());
  } catch (const Error& e) {
    p.error = e.what();
    EXPECT_FALSE(p.error.empty());
  }
  return p;
}

// The message of the Error the call throws, or "" when it throws none.
template <class Call>
std::string error_of(Call&& call) {
  try {
    call();
  } catch (const Error& e) {
    return e.what();
  }
  return "";
}

void put_u32_le(std::vector<std::uint8_t>* b, std::size_t at, std::uint32_t v) {
  for (int k = 0; k < 4; ++k) (*b)[at + k] = static_cast<std::uint8_t>(v >> (8 * k));
}

std::size_t find(const std::vector<std::uint8_t>& b, const std::string& text) {
  const auto at = std::search(b.begin(), b.end(), text.begin(), text.end());
  return at == b.end() ? std::string::npos : static_cast<std::size_t>(at - b.begin());
}

TEST(Mar345File, BothByteOrdersReadTheSameImage) {
  const std::vector<OverflowRecord> overflow = {{5, 70000}, {37, 1234567}, {64, 65536}};
  for (ByteOrder order : {ByteOrder::little, ByteOrder::big}) {
    SCOPED_TRACE(order == ByteOrder::little ? "little-endian" : "big-endian");
    Mar345Contents c = small_contents(8, ramp(8), overflow, order);
    const std::vector<std::uint8_t> bytes = write_mar345(c);
    const Mar345Parse p = parse(bytes);
    ASSERT_TRUE(p.ok()) << p.error;
    const Mar345Header& h = p.header;
    EXPECT_EQ(h.byte_order, order);
    EXPECT_EQ(h.size, 8);
    EXPECT_EQ(h.words[0], 1234);
    EXPECT_EQ(h.words[5], 64);
    ASSERT_EQ(h.overflow.size(), 3u);
    for (std::size_t k = 0; k < overflow.size(); ++k) {
      EXPECT_EQ(h.overflow[k].address, overflow[k].address);
      EXPECT_EQ(h.overflow[k].value, overflow[k].value);
    }
    EXPECT_DOUBLE_EQ(*h.geometry.pixel_x_um, 150);
    EXPECT_DOUBLE_EQ(*h.geometry.pixel_y_um, 150);
    EXPECT_DOUBLE_EQ(*h.geometry.distance_mm, 100);
    EXPECT_DOUBLE_EQ(*h.geometry.wavelength_angstrom, 1.0);
    EXPECT_DOUBLE_EQ(*h.geometry.center_x_px, 4);
    EXPECT_DOUBLE_EQ(*h.geometry.center_y_px, 4);
    // The stream is exactly the packed bytes, after the marker line.
    ASSERT_EQ(h.stream_length, c.stream.size());
    EXPECT_EQ(h.stream_offset + h.stream_length, bytes.size());
    EXPECT_EQ(0, std::memcmp(bytes.data() + h.stream_offset, c.stream.data(), c.stream.size()));
    // Records start right after the 4096-byte header, padded to 8 pairs.
    EXPECT_EQ(h.stream_offset, 4096u + 64 + std::strlen("\nCCP4 packed image, X: 0008, Y: 0008\n"));
  }
}

TEST(Mar345File, TextKeywordsWinOverBinaryWords) {
  Mar345Contents c = small_contents(8, ramp(8));
  std::vector<std::uint8_t> bytes = write_mar345(c);
  put_u32_le(&bytes, 4 * 9, 250000);   // distance word: 250 mm
  put_u32_le(&bytes, 4 * 8, 1541800);  // wavelength word: 1.5418 A
  const Mar345Parse p = parse(bytes);
  ASSERT_TRUE(p.ok()) << p.error;
  EXPECT_DOUBLE_EQ(*p.header.geometry.distance_mm, 100);
  EXPECT_DOUBLE_EQ(*p.header.geometry.wavelength_angstrom, 1.0);
}

TEST(Mar345File, BinaryWordsServeWhenTheTextIsSilent) {
  Mar345Contents c = small_contents(8, ramp(8));
  c.distance_mm.reset();
  c.wavelength_angstrom.reset();
  c.center_x_px.reset();
  std::vector<std::uint8_t> bytes = write_mar345(c);
  put_u32_le(&bytes, 4 * 9, 250500);
  put_u32_le(&bytes, 4 * 8, 1541800);
  const Mar345Parse p = parse(bytes);
  ASSERT_TRUE(p.ok()) << p.error;
  EXPECT_DOUBLE_EQ(*p.header.geometry.distance_mm, 250.5);
  EXPECT_DOUBLE_EQ(*p.header.geometry.wavelength_angstrom, 1.5418);
  EXPECT_FALSE(p.header.geometry.center_x_px.has_value());

  // A writer that leaves pixel size 1 in the words gives no pixel size.
  c.pixel_um.reset();
  const Mar345Parse q = parse(write_mar345(c));
  ASSERT_TRUE(q.ok()) << q.error;
  EXPECT_FALSE(q.header.geometry.pixel_x_um.has_value());
  bool has_program = false;
  for (const auto& [key, rest] : q.header.keywords)
    has_program |= key == "PROGRAM" && rest == "vokip";
  EXPECT_TRUE(has_program);
}

TEST(Mar345File, PixelSizeLeftOutIsTheScanModes) {
  // 1200 pixels are a scan mode of 150 um pixels, 1800 of 100 um; 1201 none.
  for (const auto& [size, pixel_um] : {std::pair{1200, 150.0}, {1800, 100.0}, {1201, 0.0}}) {
    SCOPED_TRACE(size);
    Mar345Contents c = small_contents(size, std::vector<std::uint16_t>(size * size, 7));
    c.pixel_um.reset();
    const Mar345Parse p = parse(write_mar345(c));
    ASSERT_TRUE(p.ok()) << p.error;
    EXPECT_EQ(p.header.geometry.pixel_x_um.value_or(0), pixel_um);
    EXPECT_EQ(p.header.geometry.pixel_y_um.value_or(0), pixel_um);
    EXPECT_EQ(p.header.geometry.pixel_size_from_scan_mode, pixel_um > 0);
  }
}

struct BadFile {
  const char* what;
  std::vector<std::uint8_t> bytes;
  const char* message;  // part of the error
};

std::vector<BadFile> bad_files() {
  const Mar345Contents good = small_contents(8, ramp(8), {{3, 80000}});
  const std::vector<std::uint8_t> bytes = write_mar345(good);
  const std::size_t marker = find(bytes, "CCP4 packed image");
  std::vector<BadFile> bad;
  bad.push_back({"empty", {}, "empty file"});
  std::vector<std::uint8_t> b(bytes.begin(), bytes.begin() + 3);
  bad.push_back({"three bytes", b, "not a MAR345 image"});
  b = bytes;
  put_u32_le(&b, 0, 0x4D4D002A);
  bad.push_back({"wrong byte-order word", b, "byte-order word is 0x4D4D002A"});
  b.assign(bytes.begin(), bytes.begin() + 1000);
  bad.push_back({"header cut short", b, "header cut short: the file has 1000 bytes"});
  b = write_mar345(small_contents(8, ramp(8)));
  b.resize(4096);
  bad.push_back({"header only", b, "no 'CCP4 packed image"});
  b.assign(bytes.begin(), bytes.begin() + 4096 + 64);
  bad.push_back({"header and records only", b, "no 'CCP4 packed image"});
  b = bytes;
  std::memcpy(b.data() + marker, "CCP4 PACKED IMAGE", 17);
  bad.push_back({"wrong marker", b, "no 'CCP4 packed image"});
  b = bytes;
  std::memcpy(b.data() + marker, "CCP4 packed image, X: 0009, Y: 0008", 35);
  bad.push_back(
      {"size mismatch", b, "the header gives 8 x 8 pixels but the packed-image line X: 9"});
  b = bytes;
  std::memcpy(b.data() + marker, "CCP4 packed image: width 8 height 8", 35);
  bad.push_back({"malformed marker line", b, "malformed line"});
  b.assign(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(marker) + 20);
  bad.push_back({"cut inside the marker line", b, "ends inside the 'CCP4 packed image' line"});
  b.assign(bytes.begin(), bytes.end() - static_cast<std::ptrdiff_t>(good.stream.size()));
  bad.push_back({"no stream", b, "packed stream cut short: 0 bytes"});
  const std::size_t high_line = find(bytes, "HIGH           1");
  b = bytes;
  std::memcpy(b.data() + high_line, "REMARK", 6);
  put_u32_le(&b, 8, 1000000);
  bad.push_back({"overflow count larger than the file (binary word)", b,
                 "overflow count HIGH 1000000 needs 8000000 bytes of records"});
  b = bytes;
  std::memcpy(b.data() + high_line, "HIGH           9999999", 22);
  bad.push_back(
      {"overflow count larger than the file (text)", b, "needs 80000000 bytes of records"});
  b = bytes;
  std::memcpy(b.data() + high_line, "HIGH           -4", 17);
  bad.push_back({"negative overflow count", b, "negative overflow count HIGH -4"});
  b = bytes;
  std::memcpy(b.data() + high_line, "HIGH           lots", 19);
  bad.push_back({"overflow count not a number", b, "is not a count"});
  // Counts no integer type holds, and one whose record size would overflow.
  for (const char* huge : {"HIGH           1e30", "HIGH           2305843009213693952"}) {
    b = bytes;
    std::memcpy(b.data() + high_line, huge, std::strlen(huge));
    bad.push_back({huge, b, "is not a count"});
  }
  b = bytes;
  put_u32_le(&b, 4096, 65);
  bad.push_back({"overflow address past the end", b, "addresses pixel 65, outside 1..64"});
  b = bytes;
  put_u32_le(&b, 4096, 0);
  bad.push_back({"overflow address 0", b, "addresses pixel 0, outside 1..64"});
  // A record holds what the 16-bit stream cannot; -1 would read as 4294967295.
  for (const auto& [value, message] :
       {std::pair{0xFFFFFFFFu,
                  "overflow record 1 of 1 gives pixel 3 the value -1, not a count "
                  "above 65535"},
        std::pair{65535u, "gives pixel 3 the value 65535, not a count above 65535"}}) {
    b = bytes;
    put_u32_le(&b, 4100, value);
    bad.push_back({message, b, message});
  }
  b = bytes;
  put_u32_le(&b, 4, 0);
  bad.push_back({"image size 0", b, "image size 0 in the header"});
  b = bytes;
  put_u32_le(&b, 4, 40000);
  bad.push_back({"image size too large", b, "image size 40000 in the header"});
  return bad;
}

TEST(Mar345File, EveryKindOfBadFileGetsItsOwnError) {
  for (const BadFile& bad : bad_files()) {
    SCOPED_TRACE(bad.what);
    const Mar345Parse p = parse(bad.bytes);
    EXPECT_FALSE(p.ok());
    EXPECT_NE(p.error.find(bad.message), std::string::npos) << p.error;
  }
}

TEST(Mar345File, RecordsThatRunIntoTheMarkerAreCorrupt) {
  // Eight records fill a group exactly; a HIGH of 9 then claims a second
  // group where the marker line stands.
  std::vector<OverflowRecord> eight;
  for (std::uint32_t a = 1; a <= 8; ++a) eight.push_back({a, 70000 + a});
  std::vector<std::uint8_t> b = write_mar345(small_contents(8, ramp(8), eight));
  ASSERT_TRUE(parse(b).ok());
  const std::size_t high_line = find(b, "HIGH           8");
  b[high_line + 15] = '9';
  const Mar345Parse p = parse(b);
  EXPECT_FALSE(p.ok());
  EXPECT_NE(p.error.find("run into the 'CCP4 packed image' line"), std::string::npos) << p.error;
}

TEST(Mar345File, NoPrefixOrDamageCrashesTheReader) {
  const std::vector<std::uint8_t> bytes = write_mar345(small_contents(8, ramp(8), {{3, 80000}}));
  std::size_t readable = 0;
  for (std::size_t n = 0; n <= bytes.size(); ++n) {
    std::vector<std::uint8_t> prefix(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n));
    const Mar345Parse p = parse(prefix);
    if (p.ok()) {
      ++readable;
      EXPECT_LE(p.header.stream_offset + p.header.stream_length, n);
    } else {
      EXPECT_FALSE(p.error.empty());
    }
  }
  // A prefix is readable once a stream byte follows the marker line; whether
  // the stream holds every pixel is for the decoder to find out.
  const Mar345Parse whole = parse(bytes);
  EXPECT_EQ(readable, whole.header.stream_length);

  std::mt19937 random(7);
  std::uniform_int_distribution<std::size_t> where(0, bytes.size() - 1);
  std::uniform_int_distribution<int> value(0, 255);
  for (int trial = 0; trial < 3000; ++trial) {
    std::vector<std::uint8_t> damaged = bytes;
    for (int k = 0; k < 4; ++k) damaged[where(random)] = static_cast<std::uint8_t>(value(random));
    const Mar345Parse p = parse(damaged);
    if (p.ok()) {
      EXPECT_EQ(p.header.size, 8);
      for (const OverflowRecord& r : p.header.overflow) {
        EXPECT_GE(r.address, 1u);
        EXPECT_LE(r.address, 64u);
      }
    }
  }
}

TEST(Mar345File, MissingAndUnreadableFilesSayWhy) {
  std::vector<std::uint8_t> bytes;
  std::string error = error_of([&] { read_file("/nonexistent/vokip/image.mar1200", &bytes); });
  EXPECT_NE(error.find("cannot open"), std::string::npos) << error;
  error = error_of([&] { read_file("/tmp", &bytes); });
  EXPECT_NE(error.find("not a regular file"), std::string::npos) << error;
  try {
    read_file("/tmp");
    ADD_FAILURE() << "a folder was read";
  } catch (const Error& e) {
    EXPECT_EQ(e.kind(), Error::Kind::io);
  }

  TempDir dir;
  const std::vector<std::uint8_t> written = write_mar345(small_contents(8, ramp(8)));
  write_bytes(dir.file("a.mar1200"), written);
  EXPECT_EQ(read_file(dir.file("a.mar1200")), written);
}

}  // namespace
}  // namespace vokip
