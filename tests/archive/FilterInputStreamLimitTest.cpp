#include <gtest/gtest.h>

#include <string>

#include "archive/FilterInputStreamLimit.h"
#include "tests/support/TestStreams.h"

namespace {

using testsupport::MemorySource;
using testsupport::readAll;

TEST(FilterInputStreamLimitTest, DeliversExactlyTheSegment) {
  for (uint32_t length : {1u, 5u, 16u, 100u}) {
    MemorySource source("0123456789abcdefREST", {3, 7});
    {
      FilterInputStreamLimit segment(&source, 16);
      EXPECT_EQ("0123456789abcdef", readAll(segment, length)) << "reads of " << length;
      uint32_t readsAtEnd = source.reads;
      char byte;
      EXPECT_EQ(-1, segment.read(&byte, 1));
      EXPECT_EQ(readsAtEnd, source.reads) << "a spent segment leaves the source alone";
    }
    EXPECT_EQ(0, source.closes);
    char rest[4];
    source.readFully(rest, 4);
    EXPECT_EQ("REST", std::string(rest, 4));
  }
}

TEST(FilterInputStreamLimitTest, EndOfTheSourcePassesThrough) {
  MemorySource source("abc");
  FilterInputStreamLimit segment(&source, 16);
  EXPECT_EQ("abc", readAll(segment));
  char byte;
  EXPECT_EQ(-1, segment.read(&byte, 1));
}

}  // namespace
