#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <set>
#include <string>

#include "lang/Exception.h"
#include "platform/DirectoryReader.h"
#include "tests/support/TestSupport.h"

namespace {

using testsupport::str;
using testsupport::writeFile;

class DirectoryReaderTest : public testsupport::TempDirTest {};

std::multiset<std::string> list(DirectoryReader& reader) {
  std::multiset<std::string> names;
  String name;
  while (reader.next(name)) names.insert(str(name));
  return names;
}

TEST_F(DirectoryReaderTest, ListsEveryEntryButDotAndDotDot) {
  // Names that only look like "." and "..", and bytes no encoding claims.
  const std::multiset<std::string> expected = {"file", "sub", "link",      ".hidden",
                                               "...",  "..x", "new\nline", "\xff\x80"};
  ASSERT_EQ(0, mkdir("sub", 0755));
  ASSERT_EQ(0, symlink("nowhere", "link"));
  for (const std::string& name : expected) {
    if (name != "sub" && name != "link") writeFile(name, "");
  }
  DirectoryReader reader(Path("."));
  EXPECT_EQ(expected, list(reader));
  String name("untouched");
  EXPECT_FALSE(reader.next(name)) << "the end stays the end";
  EXPECT_EQ("untouched", str(name));
}

TEST_F(DirectoryReaderTest, EmptyDirectoryYieldsNothing) {
  ASSERT_EQ(0, mkdir("empty", 0755));
  DirectoryReader reader(Path("empty/"));
  EXPECT_TRUE(list(reader).empty());
}

TEST_F(DirectoryReaderTest, OpenFailureNamesThePath) {
  writeFile("file", "");
  EXPECT_THROW_TEXT(DirectoryReader(Path("missing")), Exception,
                    "Exception: missing: directory open failure: No such file or directory");
  EXPECT_THROW_TEXT(DirectoryReader(Path("file")), Exception,
                    "Exception: file: directory open failure: Not a directory");
  DirectoryReader quiet(Path("missing"), DirectoryReader::kQuiet);
  EXPECT_TRUE(list(quiet).empty());
}

}  // namespace
