#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "io/RandomAccessFile.h"
#include "platform/DescriptorRedirectFile.h"
#include "tests/support/TestSupport.h"

namespace {

using testsupport::readFile;
using testsupport::writeFile;

int lowestFreeDescriptor() {
  int probe = dup(0);
  close(probe);
  return probe;
}

// Two scratch descriptors to redirect, both on /dev/null.
class DescriptorRedirectFileTest : public testsupport::TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    first_ = open("/dev/null", O_WRONLY);
    second_ = open("/dev/null", O_WRONLY);
  }
  void TearDown() override {
    close(first_);
    close(second_);
    TempDirTest::TearDown();
  }
  static void say(int descriptor, const char* text) {
    ASSERT_EQ(static_cast<ssize_t>(strlen(text)), write(descriptor, text, strlen(text)));
  }
  int first_ = -1;
  int second_ = -1;
};

TEST_F(DescriptorRedirectFileTest, OneDescriptorKeepsOnlyTheRedirection) {
  writeFile(dir_ + "/old.txt", "old content that must go");
  int free = lowestFreeDescriptor();
  {
    DescriptorRedirectFile redirect(String("out.txt"), first_);
    EXPECT_EQ(free, lowestFreeDescriptor()) << "the file's own descriptor is closed at once";
    EXPECT_NE(-1, fcntl(free + 1, F_GETFD)) << "the saved duplicate of the target";
    say(first_, "new");
  }
  {
    DescriptorRedirectFile redirect(String("old.txt"), first_);
    say(first_, "new");
  }
  say(first_, " not in the file");
  EXPECT_EQ("new", readFile(dir_ + "/out.txt"));
  EXPECT_EQ("new", readFile(dir_ + "/old.txt"));
  EXPECT_EQ(free, lowestFreeDescriptor());
  struct stat status;
  ASSERT_EQ(0, stat("out.txt", &status));
  EXPECT_EQ(0600u, status.st_mode & 07777);
}

TEST_F(DescriptorRedirectFileTest, TwoDescriptorsShareTheFileInWritingOrder) {
  int free = lowestFreeDescriptor();
  {
    DescriptorRedirectFile redirect(String("both.txt"), first_, second_);
    say(first_, "a");
    say(second_, "b");
    say(first_, "c");
  }
  say(second_, "after");
  EXPECT_EQ("abc", readFile(dir_ + "/both.txt"));
  EXPECT_EQ(free, lowestFreeDescriptor());
}

TEST_F(DescriptorRedirectFileTest, FailuresPassOn) {
  int free = lowestFreeDescriptor();
  EXPECT_THROW_TEXT(DescriptorRedirectFile(String("missing/out.txt"), first_),
                    RandomAccessFile::Exception,
                    "File create error: missing/out.txt: No such file or directory");
  EXPECT_THROW_TEXT(DescriptorRedirectFile(String("out.txt"), first_, 900), Exception,
                    "Exception: dup: Bad file descriptor");
  say(first_, "x");  // back on /dev/null: the first redirection was undone
  EXPECT_EQ("", readFile(dir_ + "/out.txt"));
  EXPECT_EQ(free, lowestFreeDescriptor());
}

}  // namespace
