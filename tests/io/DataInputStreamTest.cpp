#include <gtest/gtest.h>

#include <cstdlib>
#include <new>
#include <string>

#include "io/DataInputStream.h"
#include "tests/support/TestStreams.h"
#include "tests/support/TestSupport.h"

// This test program counts its allocations, so that a test can show that a
// corrupt length is not taken on trust. The replacement allocates with
// malloc, which GCC takes for a mismatch where it inlines new beside delete.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
namespace {
size_t largestAllocation = 0;
}  // namespace

void* operator new(size_t size) {
  if (size > largestAllocation) largestAllocation = size;
  if (void* block = malloc(size == 0 ? 1 : size)) return block;
  throw std::bad_alloc();
}
void operator delete(void* block) noexcept { free(block); }
void operator delete(void* block, size_t) noexcept { free(block); }

namespace {

using testsupport::MemorySource;
using testsupport::str;

TEST(DataInputStreamTest, ReadUnsignedIsBigEndianWithoutSignExtension) {
  struct {
    std::string data;
    uint32_t width;
    uint64_t value;
  } cases[] = {
      {"\x12\x34", 2, 0x1234},
      {"\xFF\xFF\xFF\xFE", 4, 0xFFFFFFFEu},
      {"\x80", 1, 0x80},
      {"\x01\x02\x03\x04\x05\x06\x07\x08", 8, 0x0102030405060708u},
      {"\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF", 8, UINT64_MAX},
      {"", 0, 0},
  };
  for (const auto& c : cases) {
    MemorySource source(c.data + "tail", {1});
    DataInputStream data(&source);
    EXPECT_EQ(c.value, data.readUnsigned(c.width)) << "width " << c.width;
    EXPECT_EQ(c.width, source.position()) << "width " << c.width;
  }
}

TEST(DataInputStreamTest, ReadStringTakesTheLengthThenTheBytes) {
  MemorySource source(std::string("\0\0\0\0\0\0\0\x05"
                                  "a\0b\0c"
                                  "rest",
                                  17),
                      {3});
  DataInputStream data(&source);
  EXPECT_EQ("", str(data.readString()));
  EXPECT_EQ(4u, source.position());
  EXPECT_EQ(std::string("a\0b\0c", 5), str(data.readString()));
  EXPECT_EQ(13u, source.position());
}

TEST(DataInputStreamTest, ShortInputRaises) {
  struct {
    const char* name;
    std::string data;
    void (*read)(DataInputStream&);
  } cases[] = {
      {"integer", "\x12", [](DataInputStream& data) { data.readUnsigned(2); }},
      {"string length", std::string("\0\0", 2), [](DataInputStream& data) { data.readString(); }},
      {"string body",
       std::string("\0\0\0\x0A"
                   "abcd",
                   8),
       [](DataInputStream& data) { data.readString(); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    MemorySource source(c.data);
    DataInputStream data(&source);
    EXPECT_THROW_TEXT(c.read(data), Exception, "Exception: unexpected end of input");
  }
}

// A corrupt length near 4 GiB before a few bytes: memory follows the bytes
// that arrive, not the length.
TEST(DataInputStreamTest, CorruptLengthDoesNotAllocateWhatNeverArrives) {
  MemorySource source(std::string("\xFF\xFF\xFF\xF0", 4) + std::string(100, 'x'));
  DataInputStream data(&source);
  largestAllocation = 0;
  EXPECT_THROW_TEXT(data.readString(), Exception, "Exception: unexpected end of input");
  EXPECT_GE(256u * 1024, largestAllocation);
}

TEST(DataInputStreamTest, LongStringArrivesWhole) {
  std::string text(300 * 1000, 'q');
  for (size_t i = 0; i < text.size(); i += 997) text[i] = static_cast<char>(i);
  std::string length = {'\0', static_cast<char>(text.size() >> 16),
                        static_cast<char>(text.size() >> 8), static_cast<char>(text.size())};
  MemorySource source(length + text, {1000, 7});
  DataInputStream data(&source);
  EXPECT_EQ(text, str(data.readString()));
}

}  // namespace
