#include "archive/Crc32.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(Crc32Test, KnownAnswers) {
  // The check value of this CRC (no reflection, initial 0, no final XOR)
  // over "abc".
  Crc32 crc;
  crc.update("abc", 3);
  EXPECT_EQ(0x2C17398Cu, crc.value());
  crc.reset();
  EXPECT_EQ(0u, crc.value());
  crc.update("", 0);
  EXPECT_EQ(0u, crc.value());
}

TEST(Crc32Test, SlicingAgreesWithTheBytewiseReferenceForAnySplit) {
  std::string data(300, 0);
  uint32_t seed = 12345;
  for (char& c : data) {
    seed = seed * 1103515245 + 12345;
    c = static_cast<char>(seed >> 16);
  }
  for (uint32_t length = 0; length <= data.size(); length += 7) {
    Crc32 reference;
    reference.updateBytewise(data.data(), length);
    for (uint32_t split = 0; split <= length; split += 5) {
      Crc32 fast;
      fast.update(data.data(), split);
      fast.update(data.data() + split, length - split);
      ASSERT_EQ(reference.value(), fast.value()) << "length " << length << " split " << split;
    }
  }
}

}  // namespace
