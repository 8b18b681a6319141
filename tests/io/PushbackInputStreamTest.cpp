#include "io/PushbackInputStream.h"

#include <gtest/gtest.h>

#include "tests/support/TestStreams.h"

namespace {

using testsupport::MemorySource;

TEST(PushbackInputStreamTest, PushedBackBytesComeFirstLastInFirstOut) {
  MemorySource source("xyz");
  PushbackInputStream in(&source);
  in.unread('b');
  in.unread('a');
  char buffer[8];
  EXPECT_EQ(2, in.read(buffer, 2));
  EXPECT_EQ("ab", std::string(buffer, 2));
  EXPECT_EQ(0, source.reads) << "served from the push-back buffer alone";
  in.unread("12", 2);
  EXPECT_EQ(5, in.read(buffer, 8));
  EXPECT_EQ("12xyz", std::string(buffer, 5));
  in.unread('q');
  EXPECT_EQ(1, in.read(buffer, 8)) << "the source's end adds nothing";
  EXPECT_EQ(-1, in.read(buffer, 8));
}

TEST(PushbackInputStreamTest, GrowsForManyBytes) {
  MemorySource source("");
  PushbackInputStream in(&source);
  std::string data(1000, 0);
  for (int i = 0; i < 1000; ++i) data[i] = static_cast<char>(i);
  in.unread(data.data(), 1000);
  std::string got(1000, 0);
  in.readFully(&got[0], 1000);
  EXPECT_EQ(data, got);
}

}  // namespace
