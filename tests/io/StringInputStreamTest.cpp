#include <gtest/gtest.h>

#include <string>

#include "io/StringInputStream.h"
#include "tests/support/TestSupport.h"

namespace {

TEST(StringInputStreamTest, ReadsInPiecesThenEnds) {
  StringInputStream in("hello", 5);
  char buffer[16];
  ASSERT_EQ(3, in.read(buffer, 3));
  EXPECT_EQ("hel", std::string(buffer, 3));
  EXPECT_EQ(0, in.read(buffer, 0));
  ASSERT_EQ(2, in.read(buffer, 10));
  EXPECT_EQ("lo", std::string(buffer, 2));
  EXPECT_EQ(-1, in.read(buffer, 10));
  EXPECT_EQ(-1, in.read(buffer, 0));
}

TEST(StringInputStreamTest, NullBytesAreEmpty) {
  StringInputStream in(nullptr, 5);
  char byte;
  EXPECT_EQ(-1, in.read(&byte, 1));
}

TEST(StringInputStreamTest, ReadsAStringWithZeroBytesInPlace) {
  String text("a\0b", 3);
  StringInputStream in(text);
  char buffer[8];
  ASSERT_EQ(3, in.read(buffer, sizeof buffer));
  EXPECT_EQ(std::string("a\0b", 3), std::string(buffer, 3));
  EXPECT_EQ(-1, in.read(buffer, sizeof buffer));
}

}  // namespace
