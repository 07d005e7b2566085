// The bit reader: LSB-first fields of any width at any bit offset, and
// fetching exactly the bytes that hold the reserved bits.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <random>
#include <vector>

#include "decode/bit_reader.h"

namespace {

// Bit i of the stream, counted from bit 0 of byte 0.
unsigned bit_at(const std::vector<std::uint8_t>& bytes, std::int64_t i) {
  return (bytes[static_cast<std::size_t>(i / 8)] >> (i % 8)) & 1u;
}

TEST(BitReader, TakesFieldsLeastSignificantBitFirst) {
  std::vector<std::uint8_t> bytes(16, 0);
  bytes[0] = 0xB4;  // bits 0 0 1 0 1 1 0 1
  bytes[1] = 0x01;  // bits 1 0 0 0 0 0 0 0
  BitReader reader(bytes.data(), 2);
  reader.reserve(16);
  EXPECT_EQ(reader.take(3), 0b100u);
  EXPECT_EQ(reader.take(4), 0b0110u);
  EXPECT_EQ(reader.take(2), 0b11u);
  EXPECT_EQ(reader.bits_taken(), 9);
  EXPECT_EQ(reader.bits_left(), 7);
}

TEST(BitReader, RandomFieldWidthsMatchBitByBitReading) {
  std::mt19937 random(31);
  std::vector<std::uint8_t> bytes(4000);
  for (auto& b : bytes) b = static_cast<std::uint8_t>(random());
  std::unique_ptr<std::uint8_t[]> exact(new std::uint8_t[bytes.size()]);
  std::copy(bytes.begin(), bytes.end(), exact.get());
  BitReader reader(exact.get(), static_cast<std::int64_t>(bytes.size()));
  std::int64_t position = 0;
  while (true) {
    const int width = 1 + static_cast<int>(random() % 32);
    // Reserve a run of 1 to 40 fields at a time, as the decoder does per block.
    const std::int64_t fields = 1 + static_cast<std::int64_t>(random() % 40);
    if (position + fields * width > 8 * static_cast<std::int64_t>(bytes.size())) break;
    reader.reserve(fields * width);
    const std::int64_t reserved_end = position + fields * width;
    for (std::int64_t f = 0; f < fields; ++f) {
      std::uint32_t expected = 0;
      for (int i = 0; i < width; ++i) expected |= bit_at(bytes, position + i) << i;
      ASSERT_EQ(reader.take(width), expected) << "bit " << position << " width " << width;
      position += width;
      // Bytes ahead of the bits taken are fetched only within the reserved run.
      ASSERT_GE(reader.bytes_fetched(), (position + 7) / 8);
      ASSERT_LE(reader.bytes_fetched(), (reserved_end + 7) / 8);
    }
    ASSERT_EQ(reader.bytes_fetched(), (position + 7) / 8);
  }
  EXPECT_EQ(reader.bits_taken(), position);
}

TEST(BitReader, FetchesOnlyTheBytesOfReservedBits) {
  const std::vector<std::uint8_t> bytes(100, 0xFF);
  BitReader reader(bytes.data(), 100);
  reader.reserve(6);
  reader.take(6);
  EXPECT_EQ(reader.bytes_fetched(), 1);
  reader.reserve(3);  // bits 6..8: one more byte
  reader.take(3);
  EXPECT_EQ(reader.bytes_fetched(), 2);
  reader.reserve(7 * 32);  // bits 9..232: bit 232 lies in byte 29
  for (int i = 0; i < 7; ++i) reader.take(32);
  EXPECT_EQ(reader.bytes_fetched(), 30);
  EXPECT_EQ(reader.bits_taken(), 233);
}

}  // namespace
