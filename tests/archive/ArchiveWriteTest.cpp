// The archive writer against a tree that changes: an archive holds one
// state of every file, or the writer fails naming the file that changed.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <string>

#include "archive/ArchiveWrite.h"
#include "io/InputStream.h"
#include "tests/archive/ArchiveTestSupport.h"
#include "tests/support/TestStreams.h"
#include "tests/support/TestSupport.h"

namespace {

using testsupport::readFile;
using testsupport::writeFile;

// Runs `during` while a file's content is being read: after the first
// bytes have arrived, before the rest.
class ChangingWriter : public ArchiveWrite {
 public:
  ChangingWriter(OutputStream* out, std::function<void()> during)
      : ArchiveWrite(out, false), during_(std::move(during)) {}

  uint32_t readContents(InputStream& in, char* buffer, uint32_t size) override {
    uint32_t first = ArchiveWrite::readContents(in, buffer, size < 3 ? size : 3);
    if (during_) during_();
    return first + ArchiveWrite::readContents(in, buffer + first, size - first);
  }

 private:
  std::function<void()> during_;
};

void setTime(const char* name, time_t seconds, long nanoseconds) {
  struct timespec times[2] = {{seconds, nanoseconds}, {seconds, nanoseconds}};
  ASSERT_EQ(0, utimensat(AT_FDCWD, name, times, AT_SYMLINK_NOFOLLOW)) << name;
}

class ArchiveWriteTest : public testsupport::TempDirTest {};

TEST_F(ArchiveWriteTest, FileThatChangesAfterItWasListedFailsByName) {
  struct {
    const char* name;
    // After the listing, before anything is written.
    std::function<void()> before;
    // While the file is read.
    std::function<void()> during;
    // "" when the archive is written.
    std::string error;
  } cases[] = {
      {"Unchanged", {}, {}, ""},
      {"GrowsWhileRead", {}, [] { writeFile("f", "content and more"); },
       "Exception: f: file changed as we read it"},
      {"ShrinksWhileRead", {}, [] { ASSERT_EQ(0, truncate("f", 4)); },
       "Exception: f: file changed as we read it"},
      {"TouchedWhileRead", {}, [] { setTime("f", 1000000001, 0); },
       "Exception: f: file changed as we read it"},
      {"TouchedWithinTheSecond", {}, [] { setTime("f", 1000000000, 5000); },
       "Exception: f: file changed as we read it"},
      {"ReplacedBeforeItsTurn",
       [] {
         writeFile("other", "content", 0644);
         setTime("other", 1000000000, 0);
         ASSERT_EQ(0, rename("other", "f"));
       },
       {}, "Exception: f: file changed as we read it"},
      {"LinkPutInItsPlace",
       [] {
         writeFile("other", "content", 0644);
         ASSERT_EQ(0, unlink("f"));
         ASSERT_EQ(0, symlink("other", "f"));
       },
       {}, "Exception: f: file changed as we read it"},
      {"FifoPutInItsPlace",
       [] {
         ASSERT_EQ(0, unlink("f"));
         ASSERT_EQ(0, mkfifo("f", 0644));
       },
       {}, "Exception: f: file changed as we read it"},
      {"RemovedBeforeItsTurn", [] { ASSERT_EQ(0, unlink("f")); }, {},
       "File open error: f: No such file or directory"},
  };
  for (const auto& c : cases) {
    unlink("f");
    writeFile("f", "content", 0644);
    setTime("f", 1000000000, 0);
    ArchiveWrite::Listing listing;
    listing.add(Path("f"));
    if (c.before) c.before();
    testsupport::RecordingSink sink;
    try {
      ChangingWriter writer(&sink, c.during);
      writer.write(listing);
      writer.finish();
      EXPECT_EQ("", c.error) << c.name;
      std::string archive = sink.data;
      EXPECT_NE(std::string::npos, archive.find("fcontent")) << c.name;
    } catch (const Exception& e) {
      EXPECT_EQ(c.error, testsupport::str(e.toString())) << c.name;
    }
  }
}

}  // namespace
