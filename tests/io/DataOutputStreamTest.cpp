#include <gtest/gtest.h>

#include <string>

#include "io/DataOutputStream.h"
#include "tests/support/TestStreams.h"
#include "tests/support/TestSupport.h"

namespace {

using testsupport::RecordingSink;

TEST(DataOutputStreamTest, WriteUnsignedWritesTheLowBytesBigEndianInOneCall) {
  struct {
    uint64_t value;
    uint32_t width;
    std::string data;
  } cases[] = {
      {0x1234, 4, std::string("\0\0\x12\x34", 4)},
      {0x1234, 1, "\x34"},
      {0x1234, 2, "\x12\x34"},
      {0x0102030405060708u, 8, "\x01\x02\x03\x04\x05\x06\x07\x08"},
      {0xFFFFFFFEu, 4, "\xFF\xFF\xFF\xFE"},
  };
  for (const auto& c : cases) {
    RecordingSink sink;
    DataOutputStream data(&sink);
    data.writeUnsigned(c.value, c.width);
    EXPECT_EQ(c.data, sink.data) << "width " << c.width;
    EXPECT_EQ(std::vector<uint32_t>{c.width}, sink.writes);
    EXPECT_EQ(c.width, data.size());
  }
}

TEST(DataOutputStreamTest, WriteStringWritesLengthThenBytesAndCountsThem) {
  RecordingSink sink;
  DataOutputStream data(&sink);
  data.writeUnsigned(1, 2);
  data.writeString(String("a\0c", 3));
  data.writeString(String());
  EXPECT_EQ(std::string("\0\x01"
                        "\0\0\0\x03"
                        "a\0c"
                        "\0\0\0\0",
                        13),
            sink.data);
  EXPECT_EQ(13u, data.size());
}

TEST(DataOutputStreamTest, FailedWriteIsNotCountedAndFlushAndClosePassDown) {
  RecordingSink sink;
  DataOutputStream data(&sink);
  data.write("abc", 3);
  sink.failWrites = true;
  EXPECT_THROW_TEXT(data.writeUnsigned(7, 4), Exception, "Exception: sink write failure");
  EXPECT_EQ(3u, data.size());
  data.flush();
  data.close();
  EXPECT_EQ(1, sink.flushes);
  EXPECT_EQ(1, sink.closes);
}

}  // namespace
