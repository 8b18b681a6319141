#include <gtest/gtest.h>

#include "io/StringOutputStream.h"
#include "tests/support/TestSupport.h"

namespace {

using testsupport::str;

TEST(StringOutputStreamTest, WritesAppendToTheTarget) {
  String target;
  StringOutputStream out(&target);
  out.write("ab", 2);
  out.write("cd", 2);
  out.write(nullptr, 0);
  out.flush();
  out.close();
  EXPECT_EQ("abcd", str(target));
}

TEST(StringOutputStreamTest, SharersOfTheTargetKeepTheirValue) {
  String target("head");
  String before = target;
  StringOutputStream out(&target);
  out.write("\0tail", 5);
  EXPECT_EQ(std::string("head\0tail", 9), str(target));
  EXPECT_EQ("head", str(before));
}

}  // namespace
