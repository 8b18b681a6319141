#include "io/BufferedInputStream.h"

#include <gtest/gtest.h>

#include "tests/support/TestStreams.h"
#include "tests/support/TestSupport.h"

namespace {

using testsupport::MemorySource;

TEST(BufferedInputStreamTest, ServesEachRequestFromOneFill) {
  MemorySource source(std::string(5000, 'x'));
  BufferedInputStream in(&source);
  std::vector<char> buffer(8192);
  EXPECT_EQ(4096, in.read(buffer.data(), 8192));
  EXPECT_EQ(904, in.read(buffer.data(), 8192));
  EXPECT_EQ(-1, in.read(buffer.data(), 8192));
  EXPECT_EQ((std::vector<uint32_t>{4096, 4096, 4096}), source.requested);
}

TEST(BufferedInputStreamTest, SmallReadsCostOneSourceReadPer4096Bytes) {
  std::string data;
  for (int i = 0; i < 10000; ++i) data += static_cast<char>(i * 7);
  MemorySource source(data);
  BufferedInputStream in(&source);
  std::string got;
  char byte;
  while (in.read(&byte, 1) == 1) got += byte;
  EXPECT_EQ(data, got);
  EXPECT_EQ(4, source.reads);  // three fills and the end
}

TEST(BufferedInputStreamTest, ZeroLengthReadStillFills) {
  MemorySource source("abc");
  BufferedInputStream in(&source);
  char buffer[4];
  EXPECT_EQ(0, in.read(buffer, 0));
  EXPECT_EQ(1, source.reads);
  EXPECT_EQ(3, in.read(buffer, 4));
  EXPECT_EQ(-1, in.read(buffer, 0));
}

TEST(BufferedInputStreamTest, ReadFullyRaisesAfterStoringWhatArrived) {
  MemorySource source("abcdef", 4);
  BufferedInputStream in(&source);
  char buffer[10] = {};
  EXPECT_THROW_TEXT(in.readFully(buffer, 10), Exception, "Exception: unexpected end of input");
  EXPECT_EQ("abcdef", std::string(buffer, 6));
  in.readFully(buffer, 0);  // reads nothing
}

TEST(BufferedInputStreamTest, DestroyingAFilterLeavesTheSourceOpen) {
  MemorySource source("abcdef");
  {
    BufferedInputStream in(&source);
    char buffer[2];
    in.read(buffer, 2);
  }
  EXPECT_EQ(0, source.closes);
  BufferedInputStream in(&source);
  in.close();
  EXPECT_EQ(1, source.closes);
}

}  // namespace
