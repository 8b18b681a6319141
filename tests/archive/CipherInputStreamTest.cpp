#include <gtest/gtest.h>

#include <string>

#include "archive/CipherInputStream.h"
#include "archive/CipherOutputStream.h"
#include "tests/support/TestStreams.h"
#include "tests/support/TestSupport.h"

namespace {

using testsupport::MemorySource;
using testsupport::readAll;
using testsupport::RecordingSink;

const CipherKey kKey(0x9E3779B9, 0x7F4A7C15, 0xF39CC060, 0x5CEDC834);

std::string scramble(const std::string& plain, const CipherKey& key = kKey) {
  RecordingSink sink;
  CipherOutputStream out(&sink, key);
  out.write(plain.data(), static_cast<uint32_t>(plain.size()));
  out.close();
  return sink.data;
}

std::string sample(size_t size) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i * 131 + (i >> 8));
  return bytes;
}

// What a reader gets back: the bytes, then the zero padding of the last block.
std::string padded(const std::string& plain) {
  return plain + std::string((8 - plain.size() % 8) % 8, '\0');
}

TEST(CipherInputStreamTest, EveryLengthRoundTripsWithItsPadding) {
  for (size_t size = 0; size <= 40; ++size) {
    std::string plain = sample(size);
    MemorySource source(scramble(plain));
    CipherInputStream in(&source, kKey);
    EXPECT_EQ(padded(plain), readAll(in, 5)) << "length " << size;
    char byte;
    EXPECT_EQ(-1, in.read(&byte, 1)) << "length " << size;
  }
}

TEST(CipherInputStreamTest, DefaultKeyReadsWhatTheDefaultKeyWrote) {
  std::string plain = sample(64);
  MemorySource source(scramble(plain, CipherKey()));
  CipherInputStream in(&source);
  EXPECT_EQ(plain, readAll(in));
}

// Regression: a block split across two reads of the source (a pipe, a
// terminal) was deciphered with stale bytes.
TEST(CipherInputStreamTest, SourceDeliveringBlocksInPiecesReadsTheSame) {
  std::string plain = sample(1000);
  for (uint32_t length : {1u, 7u, 100u, 128u, 4096u}) {
    MemorySource source(scramble(plain), {1, 2, 3, 4, 5, 6, 7});
    CipherInputStream in(&source, kKey);
    EXPECT_EQ(plain, readAll(in, length)) << "reads of " << length;
  }
}

TEST(CipherInputStreamTest, ReadReturnsWhatIsAskedUnlessTheSourceEnds) {
  std::string plain = sample(300);
  MemorySource source(scramble(plain));
  CipherInputStream in(&source, kKey);
  char buffer[400];
  EXPECT_EQ(-1, in.read(buffer, 0)) << "nothing deciphered yet";
  ASSERT_EQ(3, in.read(buffer, 3));
  EXPECT_EQ(0, in.read(buffer, 0)) << "deciphered bytes wait";
  ASSERT_EQ(200, in.read(buffer + 3, 200));
  ASSERT_EQ(101, in.read(buffer + 203, 197));
  EXPECT_EQ(padded(plain), std::string(buffer, 304));
  EXPECT_EQ(-1, in.read(buffer, 10));
}

// Only at the very end of the source may a block be partial; its bytes are
// deciphered as if zeros followed, never with leftovers of earlier blocks.
TEST(CipherInputStreamTest, PartialLastBlockIsDecipheredWithZeros) {
  std::string scrambled = scramble(sample(16));
  std::string tail = scrambled.substr(8, 5) + std::string(3, '\0');
  char expected[8];
  kKey.decipher(tail.data(), expected);
  MemorySource source(scrambled.substr(0, 13), {3});
  CipherInputStream in(&source, kKey);
  EXPECT_EQ(sample(8) + std::string(expected, 5), readAll(in));
}

TEST(CipherInputStreamTest, CloseClosesTheSource) {
  MemorySource source("");
  CipherInputStream in(&source, kKey);
  in.close();
  EXPECT_EQ(1, source.closes);
}

}  // namespace
