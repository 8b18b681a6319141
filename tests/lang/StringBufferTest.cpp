#include "lang/StringBuffer.h"

#include <gtest/gtest.h>

#include "lang/Boolean.h"
#include "lang/Integer.h"
#include "tests/support/TestSupport.h"

namespace {

using testsupport::str;

TEST(StringBufferTest, CapacityFollowsTheConstructionRules) {
  EXPECT_EQ(16u, StringBuffer().capacity());
  EXPECT_EQ(16u, StringBuffer(0u).capacity());
  EXPECT_EQ(16u, StringBuffer(1u).capacity());
  EXPECT_EQ(32u, StringBuffer(17u).capacity());
  EXPECT_EQ(16u, StringBuffer("").capacity());
  EXPECT_EQ(16u, StringBuffer("fifteen bytes!!").capacity());
  EXPECT_EQ(32u, StringBuffer("sixteen bytes!!!").capacity());
  EXPECT_EQ(32u, StringBuffer(String("seventeen bytes!!")).capacity());
}

TEST(StringBufferTest, GrowthDoublesOrTakesTheNextMultipleOfSixteen) {
  std::string seventeen(17, 'x');
  StringBuffer a;
  a.append(seventeen.c_str());
  EXPECT_EQ(32u, a.capacity());

  std::string forty(40, 'y');
  StringBuffer b;
  b.append(forty.c_str());
  EXPECT_EQ(48u, b.capacity());

  StringBuffer c;
  for (int i = 0; i < 15; ++i) c.append('z');
  EXPECT_EQ(16u, c.capacity());
  c.append('z');  // 16 bytes need 17 with the terminator
  EXPECT_EQ(32u, c.capacity());
  EXPECT_EQ(std::string(16, 'z'), str(c.toString()));
}

TEST(StringBufferTest, EditsKeepTheBytes) {
  StringBuffer buffer("hello");
  buffer.append(" world");
  buffer.append("xx!yy", 2, 1);
  buffer.insert(0, String(">> "));
  buffer.insert(buffer.length(), String("<<"));
  EXPECT_EQ(">> hello world!<<", str(buffer.toString()));
  buffer.append(static_cast<const char*>(nullptr));
  buffer.setLength(3);
  EXPECT_EQ(">> ", str(buffer.toString()));
  buffer.setLength(5);
  EXPECT_EQ(std::string(">> \0\0", 5), str(buffer.toString()));
  buffer.append(Integer(42));
  buffer.append(Boolean::TRUE);
  EXPECT_EQ(std::string(">> \0\0" "42true", 11), str(buffer.toString()));
}

TEST(StringBufferTest, ToStringCopiesTheBytes) {
  StringBuffer buffer("abc");
  String text = buffer.toString();
  buffer.setLength(0);
  buffer.append("xyz");
  EXPECT_EQ("abc", str(text));
}

TEST(BoxedValueTest, IntegerAndBooleanConvert) {
  struct {
    const char* text;
    int radix;
    int value;
  } cases[] = {{"0x1f", 16, 31}, {"12abc", 10, 12}, {"abc", 10, 0}, {"-7", 10, -7}};
  for (const auto& c : cases) EXPECT_EQ(c.value, Integer(String(c.text), c.radix).intValue());
  EXPECT_TRUE(Integer(5).equals(Integer(5)));
  EXPECT_EQ(5u, Integer(5).hashCode());
  EXPECT_EQ("-3", str(Integer(-3).toString()));
  EXPECT_TRUE(Boolean::parseBoolean(String("TrUe")));
  EXPECT_FALSE(Boolean::parseBoolean(String("yes")));
  EXPECT_EQ("false", str(Boolean::FALSE.toString()));
  EXPECT_FALSE(Boolean::TRUE.equals(Boolean(true))) << "identity equality";
}

TEST(ObjectTest, DefaultTextIsTheHashInHex) {
  struct Fixed : Object {
    uint32_t hashCode() const override { return 0x1f00; }
  } fixed;
  EXPECT_EQ("Object@1f00", str(fixed.toString()));
  Object plain;
  EXPECT_TRUE(plain.equals(plain));
  EXPECT_FALSE(plain.equals(fixed));
}

}  // namespace
