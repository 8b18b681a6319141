#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "archive/ProgressMonitorInputStream.h"
#include "tests/support/TestStreams.h"

namespace {

using testsupport::MemorySource;

class RecordingMonitor : public ProgressMonitor {
 public:
  explicit RecordingMonitor(uint32_t total) : ProgressMonitor(total) {}
  void update(uint32_t current) override { updates.push_back(current); }
  std::vector<uint32_t> updates;
};

TEST(ProgressMonitorInputStreamTest, ReadsAreCutToTheChunkAndReported) {
  RecordingMonitor monitor(1000);  // chunk 1000 / 500 + 1 = 3
  MemorySource source("abcdefgh");
  ProgressMonitorInputStream in(&source, &monitor);
  char buffer[4096];
  EXPECT_EQ(3, in.read(buffer, sizeof buffer));
  EXPECT_EQ(2, in.read(buffer, 2));
  EXPECT_EQ(3, in.read(buffer, sizeof buffer));
  EXPECT_EQ(-1, in.read(buffer, sizeof buffer));
  EXPECT_EQ((std::vector<uint32_t>{3, 5, 8}), monitor.updates);
}

TEST(ProgressMonitorInputStreamTest, SmallTotalPassesOneByteAtATime) {
  RecordingMonitor monitor(0);
  MemorySource source("xy");
  ProgressMonitorInputStream in(&source, &monitor);
  char buffer[16];
  EXPECT_EQ(1, in.read(buffer, sizeof buffer));
  in.close();
  EXPECT_EQ(1, source.closes);
}

}  // namespace
