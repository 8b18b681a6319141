// Capturing a descriptor into a String through a private temporary file.
// The temporary directory is a private one for the whole test program, set
// before anything asks for it (the process caches it).
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "io/RandomAccessFile.h"
#include "platform/DescriptorRedirectString.h"
#include "platform/Path.h"
#include "platform/Process.h"
#include "tests/support/TestSupport.h"

namespace {

using testsupport::readFile;
using testsupport::str;
using testsupport::writeFile;

[[maybe_unused]] const bool kPrivateTemporaryDirectory =
    testsupport::usePrivateTemporaryDirectory();

std::string temporaryDirectory() { return str(Path::getTemporaryDirectory()); }

// The capture files in the temporary directory.
std::vector<std::string> temporaryNames() {
  std::vector<std::string> names;
  DIR* directory = opendir(temporaryDirectory().c_str());
  if (directory == nullptr) return names;
  while (const struct dirent* entry = readdir(directory)) {
    std::string name = entry->d_name;
    if (name.rfind("DescriptorRedirect-", 0) == 0) names.push_back(name);
  }
  closedir(directory);
  return names;
}

// The temporary file name for counter value `counter`.
std::string nameFor(long counter) {
  return "DescriptorRedirect-" + std::to_string(getpid()) + "-" + std::to_string(counter);
}

// The counter value the next capture starts with, found from the name a
// capture of its own used.
long nextCounter() {
  String ignored;
  std::string name;
  {
    DescriptorRedirectString capture(ignored, STDERR_FILENO);
    std::vector<std::string> names = temporaryNames();
    if (names.size() == 1) name = names[0];
  }
  return std::stol(name.substr(name.rfind('-') + 1)) + 1;
}

class DescriptorRedirectStringTest : public testsupport::TempDirTest {};

TEST_F(DescriptorRedirectStringTest, CapturesOwnAndChildOutputAfterTheEnd) {
  String out("before");
  {
    DescriptorRedirectString capture(out, STDOUT_FILENO);
    printf("parent\n");
    fflush(stdout);  // before the child writes after it
    char* const argv[] = {const_cast<char*>("/bin/sh"), const_cast<char*>("-c"),
                          const_cast<char*>("echo child; echo not captured >/dev/null >&2"),
                          nullptr};
    EXPECT_EQ(0, runProcess(argv, nullptr));
    EXPECT_EQ("before", str(out)) << "the output arrives only at the end";
  }
  EXPECT_EQ("parent\nchild\n", str(out));

  std::string large(100000, 'x');
  for (size_t i = 0; i < large.size(); i += 77) large[i] = static_cast<char>('a' + i % 26);
  {
    DescriptorRedirectString capture(out, STDOUT_FILENO);
    fwrite(large.data(), 1, large.size(), stdout);
  }
  EXPECT_EQ(large, str(out));
}

TEST_F(DescriptorRedirectStringTest, TheFileIsPrivateAndRemovedAndEachCaptureHasItsOwn) {
  String outer, inner;
  {
    DescriptorRedirectString first(outer, STDOUT_FILENO);
    DescriptorRedirectString second(inner, STDERR_FILENO);
    std::vector<std::string> names = temporaryNames();
    ASSERT_EQ(2u, names.size());
    EXPECT_NE(names[0], names[1]);
    for (const std::string& name : names) {
      struct stat status;
      ASSERT_EQ(0, lstat((temporaryDirectory() + name).c_str(), &status));
      EXPECT_TRUE(S_ISREG(status.st_mode)) << name;
      EXPECT_EQ(0600u, status.st_mode & 07777) << name;
    }
  }
  EXPECT_TRUE(temporaryNames().empty());
}

// Names planted in the temporary directory (links to a file elsewhere, a
// file of someone else's) are skipped, and neither they nor what they point
// at are touched.
TEST_F(DescriptorRedirectStringTest, PlantedNamesAreSkippedAndLeftAlone) {
  writeFile(dir_ + "/precious", "precious");
  long next = nextCounter();
  for (long c = next; c < next + 3; ++c) {
    ASSERT_EQ(0,
              symlink((dir_ + "/precious").c_str(), (temporaryDirectory() + nameFor(c)).c_str()));
  }
  writeFile(temporaryDirectory() + nameFor(next + 3), "theirs");
  String out;
  {
    DescriptorRedirectString capture(out, STDOUT_FILENO);
    printf("captured");
  }
  EXPECT_EQ("captured", str(out));
  EXPECT_EQ("precious", readFile(dir_ + "/precious"));
  EXPECT_EQ("theirs", readFile(temporaryDirectory() + nameFor(next + 3)));
  for (long c = next; c < next + 3; ++c) {
    struct stat status;
    ASSERT_EQ(0, lstat((temporaryDirectory() + nameFor(c)).c_str(), &status));
    EXPECT_TRUE(S_ISLNK(status.st_mode)) << "a planted link was removed";
  }
  EXPECT_EQ(4u, temporaryNames().size()) << "only the capture's own file is gone";
  for (long c = next; c < next + 4; ++c) unlink((temporaryDirectory() + nameFor(c)).c_str());
}

TEST_F(DescriptorRedirectStringTest, WhenEveryNameIsTakenTheFileErrorIsRaised) {
  writeFile(dir_ + "/precious", "precious");
  long next = nextCounter();
  const long attempts = DescriptorRedirectString::kMaxNameAttempts;
  for (long c = next; c < next + attempts; ++c) {
    ASSERT_EQ(0,
              symlink((dir_ + "/precious").c_str(), (temporaryDirectory() + nameFor(c)).c_str()));
  }
  String out("untouched");
  EXPECT_THROW_TEXT(DescriptorRedirectString(out, STDOUT_FILENO), RandomAccessFile::Exception,
                    "File create error: " + temporaryDirectory() + nameFor(next + attempts - 1) +
                        ": File exists");
  EXPECT_EQ("untouched", str(out));
  EXPECT_EQ("precious", readFile(dir_ + "/precious"));
  EXPECT_EQ(static_cast<size_t>(attempts), temporaryNames().size());
  for (long c = next; c < next + attempts; ++c) unlink((temporaryDirectory() + nameFor(c)).c_str());
}

}  // namespace
