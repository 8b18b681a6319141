#include "lang/String.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstring>

#include "lang/Array.h"
#include "tests/support/TestSupport.h"

namespace {

using testsupport::str;

// The capacity of the block behind a String, read from its header words.
uint32_t blockCapacity(const String& s) {
  // The block header sits right before the block's bytes; for a String that
  // starts at its block's first byte that is right before data().
  const uint32_t* header = reinterpret_cast<const uint32_t*>(s.data()) - 2;
  return header[1];
}
uint32_t blockReferences(const String& s) {
  return (reinterpret_cast<const uint32_t*>(s.data()) - 2)[0];
}

TEST(StringTest, BlocksAreSizedToTheNextMultipleOfEightAboveTheLength) {
  struct {
    uint32_t length;
    uint32_t capacity;
  } cases[] = {{1, 8}, {7, 8}, {8, 16}, {15, 16}, {16, 24}, {100, 104}};
  for (const auto& c : cases) {
    std::string text(c.length, 'x');
    String s(text.data(), c.length);
    EXPECT_EQ(c.capacity, blockCapacity(s)) << "length " << c.length;
    EXPECT_EQ(0, s.data()[c.length]) << "terminator after " << c.length;
  }
  EXPECT_EQ(8u, blockCapacity(String('a')));
}

TEST(StringTest, EmptyStringsAreAllAlike) {
  String fromDefault;
  String fromNull(static_cast<const char*>(nullptr));
  String fromZeroCount("abc", 0);
  String hello("hello");
  String fromSubstring = hello.substring(2, 2);
  for (const String* s : {&fromDefault, &fromNull, &fromZeroCount, &fromSubstring}) {
    EXPECT_EQ(0u, s->length());
    EXPECT_TRUE(s->equals(fromDefault));
    EXPECT_EQ(0u, s->hashCode());
    EXPECT_STREQ("", s->c_str());
    EXPECT_EQ(fromDefault.data(), s->data()) << "all point at the shared empty block";
  }
}

TEST(StringTest, CopiesShareTheBlock) {
  String a("shared text");
  String b = a;
  EXPECT_EQ(a.data(), b.data());
  EXPECT_EQ(2u, blockReferences(a));
  {
    String c(b);
    EXPECT_EQ(3u, blockReferences(a));
  }
  EXPECT_EQ(2u, blockReferences(a));
  b = b;  // self-assignment is harmless
  EXPECT_EQ(2u, blockReferences(a));
  EXPECT_EQ("shared text", str(b));
}

TEST(StringTest, AppendingToOneSharerLeavesTheOtherAlone) {
  String a("ab");
  String b = a;
  a += "x";
  EXPECT_EQ("abx", str(a));
  EXPECT_EQ("ab", str(b));
  EXPECT_EQ(a.data(), b.data()) << "the first append goes in place into the shared block";
  b += "y";
  EXPECT_EQ("aby", str(b));
  EXPECT_EQ("abx", str(a));
  EXPECT_NE(a.data(), b.data()) << "the room after 'ab' is taken, so b moves";
}

TEST(StringTest, RepeatedAppendsStayInPlaceWhileThereIsRoom) {
  String s("a");
  const char* first = s.data();
  for (int i = 0; i < 6; ++i) s += "b";  // 7 bytes fit a capacity of 8
  EXPECT_EQ(first, s.data());
  s += "c";  // 8 bytes do not: one must stay for the terminator
  EXPECT_NE(first, s.data());
  EXPECT_EQ("abbbbbbc", str(s));
  EXPECT_EQ(16u, blockCapacity(s));
}

TEST(StringTest, AppendingAStringToItselfWorks) {
  String s("abc");
  s += s;
  EXPECT_EQ("abcabc", str(s));
  String t("0123456789");
  t += t.substring(2, 5);
  EXPECT_EQ("0123456789234", str(t));
}

TEST(StringTest, ConcatenationSharesTheHeadBlockWhenThereIsRoom) {
  String a("ab");
  String r = a + "cd";
  EXPECT_EQ("abcd", str(r));
  EXPECT_EQ("ab", str(a));
  EXPECT_EQ(a.data(), r.data());
  String r2 = a + "zz";  // the room after a is taken: a new block
  EXPECT_EQ("abzz", str(r2));
  EXPECT_EQ("abcd", str(r));
  EXPECT_EQ("x" + String("y"), String("xy"));
  EXPECT_EQ(String(), String() + String());
}

// Texts may hold zero bytes; a zero byte of someone's text must never be
// taken for the free-room mark, or an append through one String would
// overwrite another String's bytes.
TEST(StringTest, ZeroBytesInTextAreNeverOverwrittenBySharers) {
  String source("ab\0d", 4);
  String head = source.substring(0, 2);
  head += "X";
  EXPECT_EQ(std::string("ab\0d", 4), str(source));
  EXPECT_EQ("abX", str(head));

  String a("ab");
  String b = a;
  a += String("\0z", 2);
  b += "Q";
  EXPECT_EQ(std::string("ab\0z", 4), str(a));
  EXPECT_EQ("abQ", str(b));

  String c("ab");
  String sum = c + String("\0z", 2);
  c += "Q";
  EXPECT_EQ(std::string("ab\0z", 4), str(sum));
  EXPECT_EQ("abQ", str(c));
}

TEST(StringTest, CStrOfASubstringKeepsTheSourceIntact) {
  String hello("hello");
  String el = hello.substring(1, 3);
  EXPECT_EQ(hello.data() + 1, el.data());
  EXPECT_STREQ("el", el.c_str());
  EXPECT_EQ("hello", str(hello));
  EXPECT_NE(hello.data() + 1, el.data()) << "shared block: c_str moved the substring";

  String survivor;
  const char* where;
  {
    String source("hello");
    survivor = source.substring(1, 3);
    where = survivor.data();
  }
  EXPECT_STREQ("el", survivor.c_str());
  EXPECT_EQ(where, survivor.data()) << "sole owner: the terminator is written in place";
}

TEST(StringTest, HashSamplesLongTexts) {
  EXPECT_EQ(489u, String("ab").hashCode());
  EXPECT_EQ(0u, String().hashCode());
  // Texts longer than 16 bytes hash the first byte and 15 samples only.
  std::string longText(100, 'a');
  uint32_t base = String(longText.data(), 100).hashCode();
  longText[1] = 'b';  // (16 * 100 - 1 - k * 100) / 16 never hits index 1
  EXPECT_EQ(base, String(longText.data(), 100).hashCode());
  longText[99] = 'c';  // the first sample is the last byte
  EXPECT_NE(base, String(longText.data(), 100).hashCode());
  EXPECT_EQ(String::hash("hello", 5), String("hello").hashCode());
}

TEST(StringTest, CompareOrdersBytesUnsignedThenByLength) {
  struct {
    const char* a;
    const char* b;
    int sign;
  } cases[] = {{"abc", "abd", -1}, {"ab", "abc", -1}, {"abc", "abc", 0},
               {"\x80", "z", 1},   {"b", "a", 1},     {"", "", 0}};
  for (const auto& c : cases) {
    int result = String(c.a).compareTo(String(c.b));
    EXPECT_EQ(c.sign, (result > 0) - (result < 0)) << c.a << " vs " << c.b;
  }
  EXPECT_EQ(-1, String("ab").compareTo(String("abc")));
  EXPECT_EQ(0, String("ABC").compareToIgnoreCase(String("abc")));
  EXPECT_LT(String("\x80").compareToIgnoreCase(String("a")), 0) << "signed bytes";
  EXPECT_TRUE(String("MiXeD").equalsIgnoreCase("mixed"));
  EXPECT_FALSE(String("\xC3").equalsIgnoreCase("\xE3"));
}

TEST(StringTest, SearchesFollowTheirBoundaryRules) {
  String hello("hello");
  EXPECT_EQ(3, hello.indexOf(String(), 3));
  EXPECT_EQ(2, hello.indexOf('l', -5));
  EXPECT_EQ(-1, hello.indexOf('l', 5));
  EXPECT_EQ(3, hello.indexOf('l', 3));
  EXPECT_EQ(1, hello.indexOf(String("ell")));
  EXPECT_EQ(-1, hello.indexOf(String("ell"), 2));
  EXPECT_EQ(-1, hello.indexOf(String("hello!")));
  EXPECT_EQ(5, hello.indexOf(String(), 5));
  EXPECT_EQ(-1, hello.indexOf(String(), 6));
  EXPECT_TRUE(hello.startsWith(String()));
  EXPECT_TRUE(hello.startsWith("he"));
  EXPECT_FALSE(hello.startsWith("hello world"));
  EXPECT_EQ(3, hello.lastIndexOf('l'));
}

TEST(StringTest, TransformationsShareWhenNothingChanges) {
  String lower("already lower 123");
  EXPECT_EQ(lower.data(), lower.toLowerCase().data());
  String mixed("MiXed\xC3");
  EXPECT_EQ("mixed\xC3", str(mixed.toLowerCase()));
  EXPECT_EQ("MIXED\xC3", str(mixed.toUpperCase()));
  EXPECT_EQ("MiXed\xC3", str(mixed));

  EXPECT_EQ("ab", str(String(" \tab \n").trim()));
  EXPECT_EQ("", str(String("    ").trim()));
  EXPECT_EQ("ab", str(String("\xC3" "ab").trim())) << "bytes above 0x7F count as blanks";
  String padded(" x ");
  EXPECT_EQ(padded.data() + 1, padded.trim().data());

  String path("a/b/c");
  EXPECT_EQ("a\\b\\c", str(path.replace('/', '\\')));
  EXPECT_EQ(path.data(), path.replace('x', 'y').data());
  EXPECT_EQ("x-x-x", str(String("ab-ab-ab").replace(String("ab"), String("x"))));
  EXPECT_EQ("XX", str(String("aaaa").replace(String("aa"), String("X"))));
  EXPECT_EQ("Xa", str(String("aaa").replace(String("aa"), String("X"))));
}

// Names printed to a terminal: no byte of a name can end a line or reach
// the terminal as a command, and every other byte is shown as it is.
TEST(StringTest, EscapeControlsShowsEachControlByteAsACEscape) {
  struct {
    std::string text;
    std::string shown;
  } cases[] = {
      {"bin/gcc caf\xC3\xA9 ~x", "bin/gcc caf\xC3\xA9 ~x"},
      {"a\nInstalled all files successfully", "a\\nInstalled all files successfully"},
      {"\a\b\t\n\v\f\r", "\\a\\b\\t\\n\\v\\f\\r"},
      {"\033[2J\033]0;title\x07", "\\033[2J\\033]0;title\\a"},
      {std::string("a\0b", 3), "a\\000b"},
      {std::string("\x01") + "7\x1f\x7f\x80\xff", "\\0017\\037\\177\x80\xff"},
      {"back\\slash\\n", "back\\slash\\n"},
  };
  for (const auto& c : cases) {
    String text(c.text.data(), static_cast<uint32_t>(c.text.size()));
    EXPECT_EQ(c.shown, str(text.escapeControls())) << c.shown;
  }
  String plain("lib/libvnt.so.1");
  EXPECT_EQ(plain.data(), plain.escapeControls().data()) << "nothing to escape: shared";
}

TEST(StringTest, SplitYieldsEveryPieceBetweenSeparators) {
  struct {
    const char* text;
    std::vector<std::string> pieces;
  } cases[] = {
      {"a,,b,", {"a", "", "b", ""}}, {"", {""}}, {",", {"", ""}}, {"abc", {"abc"}}};
  for (const auto& c : cases) {
    Array<String> pieces = String(c.text).split(',');
    ASSERT_EQ(c.pieces.size(), pieces.length()) << c.text;
    for (uint32_t i = 0; i < pieces.length(); ++i) {
      EXPECT_EQ(c.pieces[i], str(pieces[i])) << c.text << " piece " << i;
    }
  }
  Array<String> pieces = String("a,b").split(',');
  EXPECT_THROW_TEXT(pieces[2], Exception, "Exception: ArrayIndexOutOfBoundsException");
  EXPECT_EQ("[a, b]", str(pieces.toString()));
}

TEST(StringTest, NumbersBecomeTextWithTheirFormats) {
  setlocale(LC_NUMERIC, "C");
  struct {
    String got;
    const char* want;
  } cases[] = {
      {String::valueOf(0.0), "0.0"},
      {String::valueOf(-0.0), "-0.0"},
      {String::valueOf(0.5), "0.500000"},
      {String::valueOf(12345678.0), "1.234568E+07"},
      {String::valueOf(0.0001), "1.000000E-04"},
      {String::valueOf(0.001), "0.001000"},
      {String::valueOf(9999999.0), "9999999.000000"},
      {String::valueOf(1.5f), "1.500000"},
      {String::valueOf(-1), "-1"},
      {String::valueOf(4294967295u), "4294967295"},
      {String::valueOf(-5L), "-5"},
      {String::valueOf(18446744073709551615ULL), "18446744073709551615"},
      {String::valueOf(-9223372036854775807LL - 1), "-9223372036854775808"},
      {String::valueOf(true), "true"},
      {String::valueOf(false), "false"},
      {String::toHexString(255), "ff"},
      {String::toBinaryString(5), "101"},
      {String::toBinaryString(0), "0"},
      {String::toBinaryString(0x80000000u), "10000000000000000000000000000000"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.want, str(c.got));
}

TEST(StringTest, AssignmentFromOwnBytesIsSafe) {
  String s("hello world");
  s = s.c_str() + 6;
  EXPECT_EQ("world", str(s));
}

}  // namespace
