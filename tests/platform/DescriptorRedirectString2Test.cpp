#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "lang/Exception.h"
#include "platform/DescriptorRedirectString2.h"
#include "platform/Process.h"
#include "tests/support/TestSupport.h"

namespace {

using testsupport::str;

[[maybe_unused]] const bool kPrivateTemporaryDirectory =
    testsupport::usePrivateTemporaryDirectory();

class DescriptorRedirectString2Test : public testsupport::TempDirTest {};

TEST_F(DescriptorRedirectString2Test, CapturesBothDescriptorsInWritingOrder) {
  String out;
  {
    DescriptorRedirectString2 capture(out, STDOUT_FILENO, STDERR_FILENO);
    printf("parent out\n");
    fflush(stdout);  // standard error is not buffered
    fprintf(stderr, "parent error\n");
    char* const argv[] = {const_cast<char*>("/bin/sh"), const_cast<char*>("-c"),
                          const_cast<char*>("echo a; echo b >&2; echo c; echo d >&2"), nullptr};
    EXPECT_EQ(0, runProcess(argv, nullptr));
  }
  EXPECT_EQ("parent out\nparent error\na\nb\nc\nd\n", str(out));
}

TEST_F(DescriptorRedirectString2Test, AFailedSecondRedirectionUndoesTheFirst) {
  String out("untouched");
  EXPECT_THROW_TEXT(DescriptorRedirectString2(out, STDOUT_FILENO, 900), Exception,
                    "Exception: dup: Bad file descriptor");
  String check;
  {
    DescriptorRedirectString2 capture(check, STDOUT_FILENO, STDERR_FILENO);
    printf("fine");
  }
  EXPECT_EQ("fine", str(check));
}

}  // namespace
