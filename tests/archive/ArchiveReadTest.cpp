// Extraction: what ArchiveRead makes of each entry on disk, and that hostile
// archives touch nothing outside the directory they are extracted into.
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "archive/ArchiveRead.h"
#include "archive/ArchiveReadVerbose.h"
#include "io/ReadAheadInputStream.h"
#include "tests/archive/ArchiveTestSupport.h"
#include "tests/support/TestSupport.h"

namespace {

using testsupport::buildArchive;
using testsupport::EntrySpec;
using testsupport::FailingSource;
using testsupport::MemorySource;
using testsupport::readFile;
using testsupport::writeFile;

// Extracts into "inst" inside the private directory; the private directory
// itself stands for the world outside.
class ArchiveReadTest : public testsupport::TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    ASSERT_EQ(0, mkdir("outside", 0755));
    writeFile("outside/victim", "precious");
    ASSERT_EQ(0, mkdir("inst", 0755));
    ASSERT_EQ(0, chdir("inst"));
    umask(0);  // as the installer: archived modes apply exactly
  }

  void extract(const std::vector<EntrySpec>& entries, bool verbose = false) {
    std::string bytes = buildArchive(entries);
    MemorySource source(bytes);
    ArchiveReadVerbose archive(&source, false);
    archive.verbose = verbose;
    archive.extract();
  }

  // The world outside is as SetUp left it.
  void expectOutsideUntouched() {
    EXPECT_EQ("precious", readFile(dir_ + "/outside/victim"));
    struct stat status;
    ASSERT_EQ(0, lstat((dir_ + "/outside/victim").c_str(), &status));
    EXPECT_EQ(1u, status.st_nlink);
    std::string listing;
    DIR* d = opendir((dir_ + "/outside").c_str());
    while (struct dirent* e = readdir(d)) listing += std::string(e->d_name) + " ";
    closedir(d);
    EXPECT_EQ(3u, std::count(listing.begin(), listing.end(), ' ')) << listing;
  }

  static uint32_t modeOf(const char* path) {
    struct stat status;
    EXPECT_EQ(0, lstat(path, &status)) << path;
    return status.st_mode & 07777;
  }
};

TEST_F(ArchiveReadTest, FileWithoutDirectoryEntriesGetsItsParentsMade) {
  extract({{Archive::kFile, "a/b/c", "data", 0640, 1000000000}});
  EXPECT_EQ(0755u, modeOf("a"));
  EXPECT_EQ(0755u, modeOf("a/b"));
  EXPECT_EQ(0640u, modeOf("a/b/c"));
  struct stat status;
  ASSERT_EQ(0, stat("a/b/c", &status));  // before reading it changes the access time
  EXPECT_EQ(1000000000, status.st_mtime);
  EXPECT_EQ(1000000000, status.st_atime);
  EXPECT_EQ("data", readFile("a/b/c"));
}

TEST_F(ArchiveReadTest, DirectoryEntriesTakeTheirModeUnlessTheyExist) {
  ASSERT_EQ(0, mkdir("x", 0711));
  extract({{Archive::kDirectory, "a/b/", "", 040700}, {Archive::kDirectory, "x/", "", 040700}});
  EXPECT_EQ(0755u, modeOf("a"));
  EXPECT_EQ(0700u, modeOf("a/b"));
  EXPECT_EQ(0711u, modeOf("x")) << "an existing directory is left as it is";
}

TEST_F(ArchiveReadTest, ModesWithoutWritePermissionApplyAfterTheContent) {
  extract({{Archive::kFile, "ro", "read only", 0444, 5},
           {Archive::kFile, "rx", "#!/bin/sh\n", 0555, 6},
           {Archive::kFile, "empty", "", 0700, 7}});
  EXPECT_EQ(0444u, modeOf("ro"));
  EXPECT_EQ("read only", readFile("ro"));
  EXPECT_EQ(0555u, modeOf("rx"));
  EXPECT_EQ(0700u, modeOf("empty"));
  EXPECT_EQ("", readFile("empty"));
}

TEST_F(ArchiveReadTest, RegularFileReplacesWhateverIsThere) {
  writeFile("file", "old");
  ASSERT_EQ(0, symlink((dir_ + "/outside/victim").c_str(), "link"));
  ASSERT_EQ(0, mkdir("tree", 0755));
  ASSERT_EQ(0, mkdir("tree/locked", 0755));
  writeFile("tree/locked/f", "x");
  ASSERT_EQ(0, chmod("tree/locked", 0500));
  extract({{Archive::kFile, "file", "new", 0644},
           {Archive::kFile, "link", "not through the link", 0644},
           {Archive::kFile, "tree", "flat", 0644}});
  EXPECT_EQ("new", readFile("file"));
  EXPECT_EQ("not through the link", readFile("link"));
  EXPECT_EQ(0644u, modeOf("link")) << "the link itself was replaced";
  EXPECT_EQ("flat", readFile("tree"));
  expectOutsideUntouched();
}

// One body buffer serves every entry: it grows across its page-mapped sizes
// with the bytes that arrive, and a smaller body after a larger one, or a
// larger one after that, gets exactly its own bytes.
TEST_F(ArchiveReadTest, BodiesOfEverySizeKeepTheirOwnBytes) {
  auto pattern = [](size_t size, uint32_t seed) {
    std::string text(size, '\0');
    for (char& byte : text) {
      seed = seed * 1103515245u + 12345u;
      byte = static_cast<char>(seed >> 16);
    }
    return text;
  };
  const std::vector<size_t> sizes{3000000, 10, 1 << 20, 5000000, 0, 70000};
  std::vector<EntrySpec> entries;
  for (size_t i = 0; i < sizes.size(); ++i) {
    entries.push_back({Archive::kFile, "f" + std::to_string(i), pattern(sizes[i], i + 1), 0644});
  }
  extract(entries);
  for (size_t i = 0; i < sizes.size(); ++i) {
    EXPECT_TRUE(pattern(sizes[i], i + 1) == readFile("f" + std::to_string(i))) << "f" << i;
  }
}

TEST_F(ArchiveReadTest, LinksAreMadeEvenBeforeTheirTargets) {
  extract({{Archive::kSymbolicLink, "lib/x", "y"},
           {Archive::kFile, "lib/y", "target", 0644},
           {Archive::kHardLink, "bin/h", "lib/y"}});
  char text[16] = {};
  ASSERT_EQ(1, readlink("lib/x", text, sizeof text));
  EXPECT_EQ("y", std::string(text));
  EXPECT_EQ("target", readFile("lib/x"));
  struct stat a, b;
  ASSERT_EQ(0, stat("lib/y", &a));
  ASSERT_EQ(0, stat("bin/h", &b));
  EXPECT_EQ(a.st_ino, b.st_ino);
}

TEST_F(ArchiveReadTest, VerboseListingNamesEveryEntry) {
  testing::internal::CaptureStderr();
  extract({{Archive::kDirectory, "bin/", "", 040755},
           {Archive::kFile, "bin/tool", std::string(1234, 't'), 0755},
           {Archive::kHardLink, "bin/cc", "bin/tool"},
           {Archive::kSymbolicLink, "lib/x", "y"}},
          true);
  EXPECT_EQ(
      "           bin/\n"
      "      1234 bin/tool\n"
      "           bin/cc link to bin/tool\n"
      "           lib/x -> y\n",
      testing::internal::GetCapturedStderr());
}

TEST_F(ArchiveReadTest, UnknownTypeIsCorruptAfterTheHookRan) {
  testing::internal::CaptureStderr();
  EXPECT_THROW_TEXT(extract({{5, "strange", "?"}}, true), Exception, "Exception: Archive corrupt");
  EXPECT_EQ("", testing::internal::GetCapturedStderr());
  EXPECT_NE(0, access("strange", F_OK));
}

struct UnsafeCase {
  const char* name;
  EntrySpec entry;
  std::string text;
};

void PrintTo(const UnsafeCase& c, std::ostream* out) { *out << c.name; }

class UnsafeNameTest : public ArchiveReadTest, public ::testing::WithParamInterface<UnsafeCase> {};

// A hostile archive names something outside, or the installation directory
// itself, or its parent: nothing is created or removed, and the failure
// names the entry.
TEST_P(UnsafeNameTest, IsRefusedBeforeAnythingIsCreated) {
  writeFile("keep", "kept");
  EXPECT_THROW_TEXT(extract({GetParam().entry}), Exception, "Exception: " + GetParam().text);
  EXPECT_EQ("kept", readFile("keep"));
  expectOutsideUntouched();
}

const std::string kVictim = "../outside/victim";

INSTANTIATE_TEST_SUITE_P(
    Names, UnsafeNameTest,
    ::testing::Values(
        UnsafeCase{"Parent",
                   {Archive::kFile, kVictim, "x", 0644},
                   "Archive: unsafe entry name: " + kVictim},
        UnsafeCase{"Absolute",
                   {Archive::kFile, "/tmp/x", "x", 0644},
                   "Archive: unsafe entry name: /tmp/x"},
        UnsafeCase{"ClimbsLater",
                   {Archive::kFile, "a/../../x", "x", 0644},
                   "Archive: unsafe entry name: a/../../x"},
        UnsafeCase{"Empty", {Archive::kFile, "", "x", 0644}, "Archive: unsafe entry name: "},
        UnsafeCase{"Dot", {Archive::kFile, ".", "x", 0644}, "Archive: unsafe entry name: ."},
        UnsafeCase{"DotDot", {Archive::kFile, "..", "x", 0644}, "Archive: unsafe entry name: .."},
        UnsafeCase{
            "TrailingDot", {Archive::kSymbolicLink, "a/.", "x"}, "Archive: unsafe entry name: a/."},
        UnsafeCase{
            "FileWithSlash", {Archive::kFile, "a/", "x", 0644}, "Archive: unsafe entry name: a/"},
        UnsafeCase{"DirectoryAbove",
                   {Archive::kDirectory, "../outside/new/", "", 040755},
                   "Archive: unsafe entry name: ../outside/new/"},
        UnsafeCase{"ZeroByte",
                   {Archive::kFile, std::string("..\0x", 4), "x", 0644},
                   std::string("Archive: unsafe entry name: ..\0x", 32)},
        UnsafeCase{"HardLinkTarget",
                   {Archive::kHardLink, "h", kVictim},
                   "Archive: unsafe link target: " + kVictim},
        UnsafeCase{"HardLinkAbsolute",
                   {Archive::kHardLink, "h", "/etc/passwd"},
                   "Archive: unsafe link target: /etc/passwd"}),
    [](const ::testing::TestParamInfo<UnsafeCase>& info) { return info.param.name; });

TEST_F(ArchiveReadTest, DotComponentsInsideNamesStayValid) {
  extract({{Archive::kDirectory, "./", "", 040755},
           {Archive::kDirectory, "./bin/", "", 040755},
           {Archive::kFile, "./bin/vntc", "w", 0755},
           {Archive::kFile, "a/./b", "b", 0644}});
  EXPECT_EQ("w", readFile("bin/vntc"));
  EXPECT_EQ("b", readFile("a/b"));
}

TEST_F(ArchiveReadTest, ExistingLinkWhereADirectoryBelongsIsRefused) {
  ASSERT_EQ(0, symlink((dir_ + "/outside").c_str(), "bin"));
  EXPECT_THROW_TEXT(extract({{Archive::kFile, "bin/victim", "evil", 0644}}), Exception,
                    "Exception: Archive: symbolic link in the way: bin");
  EXPECT_THROW_TEXT(extract({{Archive::kDirectory, "bin/sub/", "", 040755}}), Exception,
                    "Exception: Archive: symbolic link in the way: bin");
  EXPECT_THROW_TEXT(extract({{Archive::kHardLink, "h", "bin/victim"}}), Exception,
                    "Exception: Archive: symbolic link in the way: bin");
  expectOutsideUntouched();
}

TEST_F(ArchiveReadTest, LinksTheArchiveMadeAreNeverWrittenThrough) {
  std::string outside = dir_ + "/outside";
  // "a" becomes a link to the outside before the link planned below it,
  // which would then be made outside.
  EXPECT_THROW_TEXT(extract({{Archive::kDirectory, "a/", "", 040755},
                             {Archive::kSymbolicLink, "a", outside},
                             {Archive::kSymbolicLink, "a/new", "y"}}),
                    Exception, "Exception: Archive: symbolic link in the way: a");
  expectOutsideUntouched();
}

TEST_F(ArchiveReadTest, FallbackCopyNeverWritesThroughALink) {
  // The second link of the same name cannot be made: its fallback copies
  // "data" in its place, and must replace the first link, not write into
  // the file it points to.
  extract({{Archive::kSymbolicLink, "x", dir_ + "/outside/victim"},
           {Archive::kSymbolicLink, "x", "data"},
           {Archive::kFile, "data", "inside", 0644}});
  EXPECT_EQ("inside", readFile("x"));
  expectOutsideUntouched();
}

// A decoder failure reaches the reader at the same point with a read-ahead
// thread in between as without: where a marker is read, it becomes the
// missing end marker; elsewhere it passes as it is; and the entries before
// it are extracted either way. A failure past the end entry is never met.
TEST_F(ArchiveReadTest, DecoderFailureBehindAReadAheadIsMetWhereItWouldBe) {
  std::string first(5000, 'a'), second(3000, 'b');
  std::string bytes =
      buildArchive({{Archive::kFile, "one", first, 0644}, {Archive::kFile, "two", second, 0644}});
  // File header, then the first entry: marker, header block, name, content,
  // CRC and padding.
  size_t secondMarker = 8 + 8 + 16 + Archive::bodyLength(3, 5000);
  struct {
    size_t end;
    const char* message;
    bool secondMade;
  } cases[] = {
      {secondMarker, "Exception: missing EOF marker (writer crashed)", false},
      {secondMarker + 4, "Exception: missing EOF marker (writer crashed)", false},
      {secondMarker + 8 + 16 + 100, "Exception: data corrupt (LzmaDec_DecodeToDic)", false},
      {bytes.size() - 20, "Exception: data corrupt (LzmaDec_DecodeToDic)", true},
      // After the end entry's header block nothing more is read.
      {bytes.size() - 8, nullptr, true},
  };
  struct {
    uint32_t chunkSize, chunks;  // 0: no read-ahead
  } ways[] = {{0, 0}, {64, 2}, {4096, 8}, {1, 1}};
  for (const auto& c : cases) {
    for (const auto& way : ways) {
      SCOPED_TRACE(testing::Message() << "failure at " << c.end << ", read-ahead " << way.chunks
                                      << " x " << way.chunkSize);
      testsupport::removeTree(dir_ + "/inst/one");
      testsupport::removeTree(dir_ + "/inst/two");
      // The archive's bytes up to the failure a decoder below the reader
      // raises there.
      FailingSource source(bytes, c.end,
                           [] { throw Exception("data corrupt (LzmaDec_DecodeToDic)"); });
      std::unique_ptr<ReadAheadInputStream> ahead;
      InputStream* in = &source;
      if (way.chunkSize != 0) {
        ahead.reset(new ReadAheadInputStream(&source, way.chunkSize, way.chunks));
        in = ahead.get();
      }
      ArchiveReadVerbose archive(in, false);
      if (c.message != nullptr) {
        EXPECT_THROW_TEXT(archive.extract(), Exception, c.message);
      } else {
        archive.extract();
      }
      EXPECT_EQ(first, readFile("one"));
      EXPECT_EQ(c.secondMade, access("two", F_OK) == 0);
    }
  }
}

}  // namespace
