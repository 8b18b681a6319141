#include <gtest/gtest.h>

#include <cstring>

#include "BuildConstants.h"
#include "archive/CipherKey.h"
#include "io/ByteOrder.h"

namespace {

struct Block {
  uint32_t v0, v1;
};

// A block's bytes: v0 then v1, each little-endian.
void toBytes(Block block, unsigned char* bytes) {
  storeLittleEndian32(bytes, block.v0);
  storeLittleEndian32(bytes + 4, block.v1);
}

// The published TEA known answers on words.
TEST(CipherKeyTest, MatchesThePublishedKnownAnswers) {
  struct {
    CipherKey key;
    Block plain, scrambled;
  } cases[] = {
      {CipherKey(0, 0, 0, 0), {0, 0}, {0x41EA3A0A, 0x94BAA940}},
      {CipherKey(0, 0, 0, 0), {0x01020304, 0x05060708}, {0x6A2F9CF3, 0xFCCF3C55}},
      {CipherKey(0x01234567, 0x12345678, 0x23456789, 0x3456789A), {0, 0}, {0x34E943B0, 0x900F5DCB}},
  };
  for (const auto& c : cases) {
    unsigned char plain[8], scrambled[8], out[8];
    toBytes(c.plain, plain);
    toBytes(c.scrambled, scrambled);
    c.key.encipher(plain, out);
    EXPECT_EQ(0, memcmp(scrambled, out, 8)) << std::hex << c.plain.v0;
    c.key.decipher(scrambled, out);
    EXPECT_EQ(0, memcmp(plain, out, 8)) << std::hex << c.plain.v0;
  }
}

TEST(CipherKeyTest, DefaultKeyIsTheBuildConstant) {
  CipherKey built(VANTOREL_KEY0, VANTOREL_KEY1, VANTOREL_KEY2, VANTOREL_KEY3);
  unsigned char block[8] = {1, 2, 3, 4, 5, 6, 7, 8}, expected[8], got[8];
  built.encipher(block, expected);
  CipherKey().encipher(block, got);
  EXPECT_EQ(0, memcmp(expected, got, 8));
}

TEST(CipherKeyTest, BlocksRoundTripInPlace) {
  CipherKey key(0xDEADBEEF, 1, 0x80000000, 0xFFFFFFFF);
  unsigned char original[24], blocks[24];
  for (int i = 0; i < 24; ++i) original[i] = static_cast<unsigned char>(i * 37 + 200);
  memcpy(blocks, original, sizeof blocks);
  for (int i = 0; i < 3; ++i) key.encipher(blocks + 8 * i, blocks + 8 * i);
  EXPECT_NE(0, memcmp(original, blocks, sizeof blocks));
  key.decipherBlocks(blocks, blocks, 3);
  EXPECT_EQ(0, memcmp(original, blocks, sizeof blocks));
}

}  // namespace
