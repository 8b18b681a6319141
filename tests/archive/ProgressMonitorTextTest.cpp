#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "archive/ProgressMonitorText.h"
#include "tests/support/TestStreams.h"

namespace {

using testsupport::RecordingSink;

std::string rewrite(int percent) {
  char text[16];
  snprintf(text, sizeof text, "\b\b\b\b%3d%%", percent);
  return text;
}

TEST(ProgressMonitorTextTest, RewritesOncePerPercentAndEndsTheLine) {
  RecordingSink sink;
  {
    ProgressMonitorText monitor(200, &sink);
    EXPECT_EQ("  0%", sink.data);
    for (uint32_t current = 1; current <= 200; ++current) monitor.update(current);
  }
  std::string expected = "  0%";
  for (int percent = 1; percent <= 100; ++percent) expected += rewrite(percent);
  EXPECT_EQ(expected + "\n", sink.data);
  EXPECT_EQ(102u, sink.writes.size());
  for (size_t i = 1; i + 1 < sink.writes.size(); ++i) EXPECT_EQ(8u, sink.writes[i]);
}

TEST(ProgressMonitorTextTest, DestructionAlwaysShowsTheWholeWork) {
  RecordingSink sink;
  {
    ProgressMonitorText monitor(100, &sink);
    monitor.update(57);
    monitor.update(57);
  }
  EXPECT_EQ("  0%" + rewrite(57) + "\b\b\b\b100%\n", sink.data);
}

TEST(ProgressMonitorTextTest, PercentageIsExactOnLargeTotalsAndCapped) {
  struct {
    uint32_t total, current;
    std::string shown;
  } cases[] = {
      {100000000, 50000000, rewrite(50)},
      {4000000000u, 3999999999u, rewrite(99)},
      {10, 25, rewrite(100)},
      {1000, 9, ""},
      {0, 0, rewrite(100)},  // nothing to do is complete
  };
  for (const auto& c : cases) {
    RecordingSink sink;
    ProgressMonitorText monitor(c.total, &sink);
    monitor.update(c.current);
    EXPECT_EQ("  0%" + c.shown, sink.data) << c.total << " " << c.current;
  }
}

TEST(ProgressMonitorTextTest, FailingOutputAtDestructionIsDropped) {
  RecordingSink sink;
  {
    ProgressMonitorText monitor(10, &sink);
    sink.failWrites = true;
  }
  EXPECT_EQ("  0%", sink.data);
}

}  // namespace
