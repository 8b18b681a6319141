#include "io/TmpFile.h"

#include "lang/Exception.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tests/support/TestSupport.h"

namespace {

bool exists(const char* path) {
  struct stat status;
  return lstat(path, &status) == 0;
}

class TmpFileTest : public testsupport::TempDirTest {};

TEST_F(TmpFileTest, RemovesFilesAndEmptyDirectoriesOnce) {
  testsupport::writeFile("a", "x");
  ASSERT_EQ(0, mkdir("d", 0755));
  ASSERT_EQ(0, mkdir("full", 0755));
  testsupport::writeFile("full/keep", "x");
  {
    TmpFile files(String("a"));
    files.add(String("d"));
    files.add(String("gone"));  // never existed: ignored
    files.add(String("full"));  // not empty: ignored
    for (int i = 0; i < 20; ++i) files.add(String("n") + String::valueOf(i));  // grows
  }
  EXPECT_FALSE(exists("a"));
  EXPECT_FALSE(exists("d"));
  EXPECT_TRUE(exists("full/keep"));
}

TEST_F(TmpFileTest, RemovesWhileUnwinding) {
  testsupport::writeFile("a", "x");
  try {
    TmpFile files(String("a"));
    throw Exception("failure");
  } catch (const Exception&) {
  }
  EXPECT_FALSE(exists("a"));
}

}  // namespace
