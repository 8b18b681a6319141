#include <gtest/gtest.h>

#include "io/StringBufferOutputStream.h"
#include "tests/support/TestSupport.h"

namespace {

TEST(StringBufferOutputStreamTest, WritesAppendToTheTarget) {
  StringBuffer target("x");
  StringBufferOutputStream out(&target);
  out.write("a\0b", 3);
  out.write("cd", 2);
  out.flush();
  out.close();
  EXPECT_EQ(std::string("xa\0bcd", 6), testsupport::str(target.toString()));
}

}  // namespace
