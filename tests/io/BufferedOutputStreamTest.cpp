#include "io/BufferedOutputStream.h"

#include <gtest/gtest.h>

#include "tests/support/TestStreams.h"
#include "tests/support/TestSupport.h"

namespace {

using testsupport::RecordingSink;

TEST(BufferedOutputStreamTest, PassesAFullBufferOnlyWhenMoreArrives) {
  RecordingSink sink;
  BufferedOutputStream out(&sink);
  std::string block(4096, 'a');
  out.write(block.data(), 4096);
  EXPECT_TRUE(sink.writes.empty());
  out.write("b", 1);
  EXPECT_EQ((std::vector<uint32_t>{4096}), sink.writes);
  out.flush();
  EXPECT_EQ((std::vector<uint32_t>{4096, 1}), sink.writes);
  EXPECT_EQ(1, sink.flushes);
  EXPECT_EQ(block + "b", sink.data);
}

TEST(BufferedOutputStreamTest, LargeWritesGoThroughTheBufferInChunks) {
  RecordingSink sink;
  {
    BufferedOutputStream out(&sink);
    std::string big(10000, 'z');
    out.write(big.data(), 10000);
    EXPECT_EQ((std::vector<uint32_t>{4096, 4096}), sink.writes);
  }
  EXPECT_EQ((std::vector<uint32_t>{4096, 4096, 1808}), sink.writes) << "destruction writes the rest";
  EXPECT_EQ(0, sink.flushes);
  EXPECT_EQ(0, sink.closes);
}

TEST(BufferedOutputStreamTest, FlushAndCloseWriteEvenWhenEmpty) {
  RecordingSink sink;
  BufferedOutputStream out(&sink);
  out.flush();
  out.close();
  EXPECT_EQ((std::vector<uint32_t>{0, 0}), sink.writes);
  EXPECT_EQ(1, sink.flushes);
  EXPECT_EQ(1, sink.closes);
}

TEST(BufferedOutputStreamTest, FailingFinalWritePropagatesFromTheDestructor) {
  RecordingSink sink;
  auto* out = new BufferedOutputStream(&sink);
  out->write("abc", 3);
  sink.failWrites = true;
  EXPECT_THROW_TEXT(delete out, Exception, "Exception: sink write failure");
}

TEST(BufferedOutputStreamTest, FailingFinalWriteIsDroppedWhileUnwinding) {
  RecordingSink sink;
  try {
    BufferedOutputStream out(&sink);
    out.write("abc", 3);
    sink.failWrites = true;
    throw Exception("first failure");
  } catch (const Exception& e) {
    EXPECT_EQ("Exception: first failure", testsupport::str(e.toString()));
  }
}

}  // namespace
