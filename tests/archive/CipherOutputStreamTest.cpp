#include <gtest/gtest.h>

#include <string>

#include "archive/CipherOutputStream.h"
#include "tests/support/TestStreams.h"
#include "tests/support/TestSupport.h"

namespace {

using testsupport::RecordingSink;

const CipherKey kKey(0x11111111, 0x22222222, 0x33333333, 0x44444444);

// Each 8-byte block of `plain` (a multiple of 8) enciphered by itself.
std::string encipherBlocks(const std::string& plain) {
  std::string scrambled(plain.size(), '\0');
  for (size_t i = 0; i < plain.size(); i += 8) kKey.encipher(&plain[i], &scrambled[i]);
  return scrambled;
}

TEST(CipherOutputStreamTest, CloseCompletesTheLastBlockWithZeros) {
  RecordingSink sink;
  CipherOutputStream out(&sink, kKey);
  out.write("thirteen byte", 13);
  EXPECT_EQ(std::vector<uint32_t>{8}, sink.writes);
  out.close();
  EXPECT_EQ(encipherBlocks(std::string("thirteen byte\0\0\0", 16)), sink.data);
  EXPECT_EQ((std::vector<uint32_t>{8, 8}), sink.writes);
  EXPECT_EQ(1, sink.closes);
}

TEST(CipherOutputStreamTest, BlocksDoNotDependOnHowTheWritesAreCut) {
  RecordingSink whole, pieces;
  {
    CipherOutputStream out(&whole, kKey);
    out.write("abcdefghijklmnopq", 17);
    out.close();
  }
  {
    CipherOutputStream out(&pieces, kKey);
    for (const char* piece : {"abc", "def", "gh", "", "ijklmnopq"}) out.write(piece, strlen(piece));
    out.close();
  }
  EXPECT_EQ(whole.data, pieces.data);
  EXPECT_EQ(24u, pieces.data.size());
  EXPECT_EQ((std::vector<uint32_t>{8, 8, 8}), pieces.writes);
}

TEST(CipherOutputStreamTest, FlushIsNeverPossible) {
  RecordingSink sink;
  CipherOutputStream out(&sink, kKey);
  EXPECT_THROW_TEXT(out.flush(), Exception, "Exception: CipherOutputStream::flush not possible");
  out.write("abc", 3);
  EXPECT_THROW_TEXT(out.flush(), Exception, "Exception: CipherOutputStream::flush not possible");
  EXPECT_EQ(0, sink.flushes);
}

TEST(CipherOutputStreamTest, DestructionWritesTheWaitingBlockButDoesNotClose) {
  RecordingSink sink;
  { CipherOutputStream(&sink, kKey).write("abcdefghij", 10); }
  EXPECT_EQ(encipherBlocks(std::string("abcdefghij\0\0\0\0\0\0", 16)), sink.data);
  EXPECT_EQ(0, sink.closes);
}

TEST(CipherOutputStreamTest, DestructionDropsAFailingWrite) {
  RecordingSink sink;
  {
    CipherOutputStream out(&sink, kKey);
    out.write("abc", 3);
    sink.failWrites = true;
  }
  EXPECT_EQ("", sink.data);
}

// A block whose write failed is not written again on close.
TEST(CipherOutputStreamTest, FailedBlockIsNotRepeated) {
  RecordingSink sink;
  CipherOutputStream out(&sink, kKey);
  out.write("abcd", 4);
  sink.failWrites = true;
  EXPECT_THROW_TEXT(out.write("efgh", 4), Exception, "Exception: sink write failure");
  sink.failWrites = false;
  out.close();
  EXPECT_EQ("", sink.data);
}

}  // namespace
