#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "io/PrintStream.h"
#include "io/RandomAccessFile.h"
#include "tests/support/TestStreams.h"
#include "tests/support/TestSupport.h"

namespace {

using testsupport::readFile;
using testsupport::RecordingSink;

class PrintStreamTest : public testsupport::TempDirTest {};

TEST_F(PrintStreamTest, OverAStreamItBuffersAndBorrows) {
  RecordingSink sink;
  {
    PrintStream out(&sink);
    out.write("hello", 5);
    EXPECT_EQ("", sink.data);
  }
  EXPECT_EQ("hello", sink.data);
  EXPECT_EQ(0, sink.flushes);
  EXPECT_EQ(0, sink.closes);
}

TEST_F(PrintStreamTest, FromAPathItCreatesWritesAndClosesTheFile) {
  testsupport::writeFile("report", "old content that goes");
  int before = testsupport::openDescriptorCount();
  {
    PrintStream out(String("report"));
    std::string text(5000, 'x');
    out.write(text.data(), static_cast<uint32_t>(text.size()));
    out.write("end", 3);
  }
  EXPECT_EQ(std::string(5000, 'x') + "end", readFile("report"));
  EXPECT_EQ(before, testsupport::openDescriptorCount());

  { PrintStream out(String("fresh")); }
  struct stat status;
  ASSERT_EQ(0, stat("fresh", &status));
  EXPECT_EQ(0600u, status.st_mode & 07777);
  EXPECT_EQ("", readFile("fresh"));
}

TEST_F(PrintStreamTest, UncreatableFileRaises) {
  EXPECT_THROW_TEXT(PrintStream(String("missing/report")), RandomAccessFile::Exception,
                    "File create error: missing/report: No such file or directory");
}

}  // namespace
