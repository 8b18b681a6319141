#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "lang/Exception.h"
#include "platform/DescriptorRedirect.h"
#include "tests/support/TestSupport.h"

namespace {

using testsupport::readFile;

// The lowest descriptor number not in use.
int lowestFreeDescriptor() {
  int probe = dup(0);
  close(probe);
  return probe;
}

void writeText(int descriptor, const std::string& text) {
  ASSERT_EQ(static_cast<ssize_t>(text.size()), write(descriptor, text.data(), text.size()));
}

// A target descriptor writing to "before.txt" and a source writing to
// "redirected.txt", in a private directory.
class DescriptorRedirectTest : public testsupport::TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    target_ = open("before.txt", O_WRONLY | O_CREAT | O_TRUNC, 0600);
    source_ = open("redirected.txt", O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(target_, 0);
    ASSERT_GE(source_, 0);
  }
  void TearDown() override {
    close(target_);
    close(source_);
    TempDirTest::TearDown();
  }
  int target_ = -1;
  int source_ = -1;
};

TEST_F(DescriptorRedirectTest, RedirectsForItsLifetimeThenRestores) {
  int free = lowestFreeDescriptor();
  writeText(target_, "1 ");
  {
    DescriptorRedirect redirect(source_, target_);
    writeText(target_, "2 ");
    EXPECT_EQ(FD_CLOEXEC, fcntl(free, F_GETFD) & FD_CLOEXEC)
        << "children must not inherit the saved descriptor";
  }
  writeText(target_, "3 ");
  EXPECT_EQ("1 3 ", readFile(dir_ + "/before.txt"));
  EXPECT_EQ("2 ", readFile(dir_ + "/redirected.txt"));
  EXPECT_EQ(free, lowestFreeDescriptor()) << "the saved descriptor was closed";
}

// Text buffered by the C library while the redirection is in force belongs
// to the redirection, even without a line feed.
TEST_F(DescriptorRedirectTest, StandardOutputBufferedInsideGoesIntoTheRedirection) {
  {
    DescriptorRedirect redirect(source_, STDOUT_FILENO);
    printf("buffered, no line feed");
  }
  EXPECT_EQ("buffered, no line feed", readFile(dir_ + "/redirected.txt"));
}

TEST_F(DescriptorRedirectTest, FailuresRaiseAndLeaveNothingRedirected) {
  int free = lowestFreeDescriptor();
  EXPECT_THROW_TEXT(DescriptorRedirect(source_, free), Exception,
                    "Exception: dup: Bad file descriptor");
  EXPECT_THROW_TEXT(DescriptorRedirect(900, target_), Exception,
                    "Exception: dup2: Bad file descriptor");
  writeText(target_, "still here");
  EXPECT_EQ("still here", readFile(dir_ + "/before.txt"));
  EXPECT_EQ(free, lowestFreeDescriptor()) << "a failed redirection leaks no descriptor";
}

}  // namespace
