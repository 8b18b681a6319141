// Extraction: what ArchiveRead makes of each entry on disk, and that hostile
// archives touch nothing outside the directory they are extracted into.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <thread>

#include "archive/ArchiveRead.h"
#include "archive/ArchiveReadVerbose.h"
#include "io/ReadAheadInputStream.h"
#include "platform/DestinationTree.h"
#include "tests/archive/ArchiveTestSupport.h"
#include "tests/support/TestSupport.h"
#include "tests/support/TreeSnapshot.h"

namespace {

using testsupport::buildArchive;
using testsupport::EntrySpec;
using testsupport::FailingSource;
using testsupport::MemorySource;
using testsupport::readFile;
using testsupport::snapshotOf;
using testsupport::TreeSnapshot;
using testsupport::writeFile;

// Extracts into "inst" inside the private directory; beside it, "outside"
// stands for the world outside: a file, a directory with a file, a link.
class ArchiveReadTest : public testsupport::TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    ASSERT_EQ(0, mkdir("outside", 0755));
    ASSERT_EQ(0, mkdir("outside/dir", 0755));
    writeFile("outside/victim", "precious");
    writeFile("outside/dir/inner", "also precious");
    ASSERT_EQ(0, symlink("victim", "outside/link"));
    outside_ = snapshotOf(dir_ + "/outside");
    ASSERT_EQ(0, mkdir("inst", 0755));
    ASSERT_EQ(0, chdir("inst"));
    umask(0);  // as the installer: archived modes apply exactly
  }

  void extract(const std::vector<EntrySpec>& entries, bool verbose = false) {
    std::string bytes = buildArchive(entries);
    MemorySource source(bytes);
    ArchiveReadVerbose archive(&source, false);
    archive.verbose = verbose;
    DestinationTree tree(Path("."), resolution_);
    archive.extract(tree);
    tree.applyDirectoryModes();
  }

  // The world outside is as SetUp left it: names, types, modes, contents,
  // link texts and link counts.
  void expectOutsideUntouched() {
    TreeSnapshot now = snapshotOf(dir_ + "/outside");
    EXPECT_EQ(outside_.entries, now.entries);
    EXPECT_EQ(outside_.linkGroups, now.linkGroups);
  }

  static uint32_t modeOf(const char* path) {
    struct stat status;
    EXPECT_EQ(0, lstat(path, &status)) << path;
    return status.st_mode & 07777;
  }

  // How extract() resolves names.
  DestinationTree::Resolution resolution_ = DestinationTree::kWholeName;
  TreeSnapshot outside_;
};

// The hostile cases, each run with both resolutions of the tree: openat2
// for whole names, and the portable component walk.
class SafeExtractionTest : public ArchiveReadTest,
                           public ::testing::WithParamInterface<DestinationTree::Resolution> {
 protected:
  void SetUp() override {
    ArchiveReadTest::SetUp();
    resolution_ = GetParam();
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

TEST_P(SafeExtractionTest, RegularFileReplacesWhateverIsThere) {
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

TEST_P(SafeExtractionTest, ExistingLinkWhereADirectoryBelongsIsRefused) {
  ASSERT_EQ(0, symlink((dir_ + "/outside").c_str(), "bin"));
  EXPECT_THROW_TEXT(extract({{Archive::kFile, "bin/victim", "evil", 0644}}), Exception,
                    "Exception: Archive: symbolic link in the way: bin");
  EXPECT_THROW_TEXT(extract({{Archive::kDirectory, "bin/sub/", "", 040755}}), Exception,
                    "Exception: Archive: symbolic link in the way: bin");
  EXPECT_THROW_TEXT(extract({{Archive::kHardLink, "h", "bin/victim"}}), Exception,
                    "Exception: Archive: symbolic link in the way: bin");
  expectOutsideUntouched();
}

TEST_P(SafeExtractionTest, LinksTheArchiveMadeAreNeverWrittenThrough) {
  std::string outside = dir_ + "/outside";
  // "a" becomes a link to the outside before the link planned below it,
  // which would then be made outside.
  EXPECT_THROW_TEXT(extract({{Archive::kDirectory, "a/", "", 040755},
                             {Archive::kSymbolicLink, "a", outside},
                             {Archive::kSymbolicLink, "a/new", "y"}}),
                    Exception, "Exception: Archive: symbolic link in the way: a");
  expectOutsideUntouched();
}

TEST_P(SafeExtractionTest, FallbackCopyNeverWritesThroughALink) {
  // The second link of the same name cannot be made: its fallback copies
  // "data" in its place, and must replace the first link, not write into
  // the file it points to.
  extract({{Archive::kSymbolicLink, "x", dir_ + "/outside/victim"},
           {Archive::kSymbolicLink, "x", "data"},
           {Archive::kFile, "data", "inside", 0644}});
  EXPECT_EQ("inside", readFile("x"));
  expectOutsideUntouched();
}

// An attack: what an earlier installation (or another user) left in the
// installation directory, and the archive that tries to reach outside
// through it. "@" stands for the outside directory.
struct AttackCase {
  const char* name;
  // Symbolic links in the installation directory: name, text.
  std::vector<std::pair<std::string, std::string>> links;
  std::vector<EntrySpec> entries;
  // The failure, or "" when the archive extracts.
  std::string error;
  // What one name below the installation directory is afterwards, as a
  // TreeSnapshot describes it ("" for nothing there); no name, no check.
  std::string checked = "";
  std::string made = "";
};

std::string expandAt(const std::string& text, const std::string& outside) {
  std::string result;
  for (char c : text) result += c == '@' ? outside : std::string(1, c);
  return result;
}

const EntrySpec kDirectoryD = {Archive::kDirectory, "d/", "", 040755};
const EntrySpec kDReplacedByALink = {Archive::kHardLink, "d", "jre"};
const std::string kLinkInTheWayD = "Exception: Archive: symbolic link in the way: d";

const AttackCase kAttacks[] = {
    // A directory entry, a hard link of the same name to a link that leads
    // outside, then entries below the name.
    {"FileBelowAHardLinkToALink",
     {{"jre", "@"}},
     {kDirectoryD, kDReplacedByALink, {Archive::kFile, "d/victim", "evil", 0644}},
     kLinkInTheWayD,
     "d",
     "link @"},
    {"DirectoryBelowAHardLinkToALink",
     {{"jre", "@"}},
     {kDirectoryD, kDReplacedByALink, {Archive::kDirectory, "d/new/", "", 040755}},
     kLinkInTheWayD},
    {"FileReplacingATreeBelowAHardLinkToALink",
     {{"jre", "@"}},
     {kDirectoryD, kDReplacedByALink, {Archive::kFile, "d/dir", "flat", 0644}},
     kLinkInTheWayD},
    {"HardLinkBelowAHardLinkToALink",
     {{"jre", "@"}},
     {kDirectoryD, kDReplacedByALink, {Archive::kHardLink, "d/h", "keep"}},
     kLinkInTheWayD},
    {"SymbolicLinkBelowAHardLinkToALink",
     {{"jre", "@"}},
     {kDirectoryD, kDReplacedByALink, {Archive::kSymbolicLink, "d/s", "victim"}},
     kLinkInTheWayD},
    {"NameSpelledOtherwiseBelowAHardLinkToALink",
     {{"jre", "@"}},
     {kDirectoryD, kDReplacedByALink, {Archive::kFile, ".//d/victim", "evil", 0644}},
     "Exception: Archive: symbolic link in the way: ./d"},
    {"HardLinkTargetBelowALink",
     {{"jre", "@"}},
     {{Archive::kHardLink, "h", "jre/victim"}},
     "Exception: Archive: symbolic link in the way: jre"},
    // An upgrade over an installation that legitimately holds such a link.
    {"UpgradeThroughALinkOfTheEarlierInstallation",
     {{"lib/jre", "@"}},
     {{Archive::kDirectory, "lib/", "", 040755},
      {Archive::kDirectory, "lib/j/", "", 040755},
      {Archive::kHardLink, "lib/j", "lib/jre"},
      {Archive::kFile, "lib/j/victim", "evil", 0644}},
     "Exception: Archive: symbolic link in the way: lib/j"},
    // The archive's own link is made last; entries below it are refused
    // by name before it exists.
    {"FileBelowALinkTheArchiveMakes",
     {},
     {{Archive::kSymbolicLink, "s", "@"}, {Archive::kFile, "s/victim", "evil", 0644}},
     "Exception: Archive: symbolic link in the way: s",
     "s",
     ""},
    // What is allowed: a hard link to a link is the link itself, and a link
    // where a file goes is replaced by the file.
    {"HardLinkToALinkIsTheLinkItself",
     {{"jre", "@"}},
     {{Archive::kHardLink, "h", "jre"}},
     "",
     "h",
     "link @"},
    {"LinkWhereAFileGoesIsReplaced",
     {{"victim", "@/victim"}},
     {{Archive::kFile, "victim", "new", 0600, 7}},
     "",
     "victim",
     "file 384 7 new"},
};

// Each attack into a directory of its own below `base`, with the world
// outside checked after each: nothing there is created, changed or
// removed, and nothing already installed is removed by a refusal.
void runAttacks(const std::string& base, const std::string& outside,
                const std::function<void(const std::vector<EntrySpec>&)>& extract,
                const std::function<void()>& expectOutsideUntouched) {
  for (const AttackCase& c : kAttacks) {
    SCOPED_TRACE(c.name);
    std::string inst = base + "/" + c.name;
    ASSERT_EQ(0, mkdir(inst.c_str(), 0755));
    ASSERT_EQ(0, chdir(inst.c_str()));
    writeFile("keep", "kept");
    for (const auto& [name, text] : c.links) {
      size_t slash = name.rfind('/');
      if (slash != std::string::npos) {
        ASSERT_EQ(0, mkdir(name.substr(0, slash).c_str(), 0755));
      }
      ASSERT_EQ(0, symlink(expandAt(text, outside).c_str(), name.c_str()));
    }
    std::vector<EntrySpec> entries = c.entries;
    for (EntrySpec& e : entries) e.content = expandAt(e.content, outside);
    if (c.error.empty()) {
      extract(entries);
    } else {
      EXPECT_THROW_TEXT(extract(entries), Exception, expandAt(c.error, outside));
    }
    EXPECT_EQ("kept", readFile("keep"));
    if (!c.checked.empty()) {
      std::map<std::string, std::string> made = snapshotOf(inst).entries;
      EXPECT_EQ(expandAt(c.made, outside), made.count(c.checked) ? made[c.checked] : "")
          << c.checked;
    }
    expectOutsideUntouched();
  }
}

TEST_P(SafeExtractionTest, AttacksChangeNothingOutsideAsRootOrAsAnotherUser) {
  std::string outside = dir_ + "/outside";
  auto extractor = [this](const std::vector<EntrySpec>& entries) { extract(entries); };
  auto check = [this] { expectOutsideUntouched(); };
  runAttacks(dir_ + "/inst", outside, extractor, check);
  // Another user, to whom the world outside belongs so that nothing but
  // the extraction stands in the way.
  if (geteuid() != 0) GTEST_SKIP() << "needs root, to act as another user";
  ASSERT_EQ(0, chmod(dir_.c_str(), 0755));
  ASSERT_EQ(0, mkdir((dir_ + "/as-nobody").c_str(), 0755));
  testsupport::chownTree(dir_ + "/as-nobody", testsupport::kNobody);
  testsupport::chownTree(outside, testsupport::kNobody);
  int status = testsupport::inChild([&] {
    testsupport::becomeNobody();
    runAttacks(dir_ + "/as-nobody", outside, extractor, check);
  });
  testsupport::chownTree(outside, 0);
  EXPECT_EQ(0, status);
}

// Opens the directory of `name` below `base` as another user would who
// acts in the installation directory only: never through a link, its own
// included. Sets `last` to the name's last component; -1 when it cannot.
int openParentSafely(const std::string& base, const std::string& name, std::string* last) {
  int parent = open(base.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  size_t start = 0;
  for (size_t slash; parent >= 0 && (slash = name.find('/', start)) != std::string::npos;) {
    int next = openat(parent, name.substr(start, slash - start).c_str(),
                      O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    close(parent);
    parent = next;
    start = slash + 1;
  }
  *last = name.substr(start);
  return parent;
}

// Another thread, standing for a user who may write the installation
// directory, keeps putting links to the outside where the archive's names
// and their directories are, for a second of extractions: in even rounds
// it plants a link at one name that the archive writes again and again, in
// the moment between its removal and its creation; in odd rounds it
// replaces random files and directories. Each extraction ends either way;
// nothing outside changes.
TEST_P(SafeExtractionTest, RaceForTheNamesChangesNothingOutside) {
  std::vector<EntrySpec> entries;
  std::vector<std::pair<std::string, bool>> names;  // name, whether a directory
  for (int d = 0; d < 4; ++d) {
    std::string dir = "d" + std::to_string(d);
    entries.push_back({Archive::kDirectory, dir + "/", "", 040755});
    entries.push_back({Archive::kDirectory, dir + "/sub/", "", 040555});
    names.push_back({dir, true});
    names.push_back({dir + "/sub", true});
    for (int f = 0; f < 20; ++f) {
      std::string file = dir + "/sub/f" + std::to_string(f);
      entries.push_back({Archive::kFile, file, "written", 0644});
      entries.push_back({Archive::kHardLink, dir + "/h" + std::to_string(f), file});
      entries.push_back({Archive::kSymbolicLink, dir + "/s" + std::to_string(f), "sub"});
      names.push_back({file, false});
      names.push_back({dir + "/h" + std::to_string(f), false});
    }
  }
  entries.push_back({Archive::kDirectory, "hot/", "", 040755});
  for (int i = 0; i < 200; ++i) entries.push_back({Archive::kFile, "hot/f", "written", 0644});

  const std::string outside = dir_ + "/outside";
  const std::string victim = outside + "/victim";
  std::atomic<bool> stop(false);
  std::atomic<int> round(0);
  std::thread attacker([&] {
    uint32_t seed = 12345;
    while (!stop.load()) {
      int now = round.load();
      std::string base = dir_ + "/race" + std::to_string(now);
      std::string last;
      if (now % 2 == 0) {
        int hot = openParentSafely(base, "hot/f", &last);
        while (hot >= 0 && !stop.load() && round.load() == now) {
          symlinkat(victim.c_str(), hot, last.c_str());
        }
        if (hot >= 0) close(hot);
        continue;
      }
      seed = seed * 1103515245u + 12345u;
      const auto& [name, directory] = names[(seed >> 8) % names.size()];
      int parent = openParentSafely(base, name, &last);
      if (parent < 0) continue;
      if (directory) {
        renameat(parent, last.c_str(), parent, (last + "~").c_str());
      } else {
        unlinkat(parent, last.c_str(), 0);
      }
      symlinkat(directory ? outside.c_str() : victim.c_str(), parent, last.c_str());
      close(parent);
    }
  });
  int rounds = 0;
  int refused = 0;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
  while (std::chrono::steady_clock::now() < deadline) {
    std::string inst = dir_ + "/race" + std::to_string(rounds);
    ASSERT_EQ(0, mkdir(inst.c_str(), 0755));
    ASSERT_EQ(0, chdir(inst.c_str()));
    try {
      extract(entries);
    } catch (const Exception&) {
      ++refused;
    }
    round.store(++rounds);
  }
  stop.store(true);
  attacker.join();
  ASSERT_EQ(0, chdir(dir_.c_str()));
  expectOutsideUntouched();
  RecordProperty("rounds", rounds);
  RecordProperty("refused", refused);
}

// Vendor trees often hold read-only directories and files. Another user
// than root extracts them all the same, and they end with the archive's
// modes.
TEST_P(SafeExtractionTest, ReadOnlyDirectoriesExtractAsAnotherUserWithTheirModes) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root, to act as another user";
  ASSERT_EQ(0, chmod(dir_.c_str(), 0755));
  ASSERT_EQ(0, mkdir((dir_ + "/as-nobody").c_str(), 0755));
  ASSERT_EQ(0, chown((dir_ + "/as-nobody").c_str(), testsupport::kNobody, testsupport::kNobody));
  int status = testsupport::inChild([&] {
    testsupport::becomeNobody();
    ASSERT_EQ(0, chdir((dir_ + "/as-nobody").c_str()));
    extract({{Archive::kDirectory, "ro/", "", 040555},
             {Archive::kDirectory, "ro/sub/", "", 040555},
             {Archive::kDirectory, "ro/sub/private/", "", 040500},
             {Archive::kFile, "ro/sub/private/f", "deep", 0444},
             {Archive::kFile, "ro/g", "read only", 0444},
             {Archive::kHardLink, "ro/h", "ro/g"},
             {Archive::kSymbolicLink, "ro/s", "g"}});
    EXPECT_EQ(0555u, modeOf("ro"));
    EXPECT_EQ(0555u, modeOf("ro/sub"));
    EXPECT_EQ(0500u, modeOf("ro/sub/private"));
    EXPECT_EQ(0444u, modeOf("ro/sub/private/f"));
    EXPECT_EQ("read only", readFile("ro/h"));
    EXPECT_EQ("read only", readFile("ro/s"));
  });
  EXPECT_EQ(0, status);
}

// A link costs one lookup of its directory, however deep: 200 links two
// thousand directories down extract as any others. (bench: see README.)
TEST_P(SafeExtractionTest, TwoHundredLinksTwoThousandDirectoriesDown) {
  std::string deep;
  for (int i = 0; i < 2000; ++i) deep += "d/";
  std::vector<EntrySpec> entries = {{Archive::kDirectory, deep, "", 040755},
                                    {Archive::kFile, deep + "f", "at the bottom", 0644}};
  for (int i = 0; i < 200; ++i) {
    entries.push_back({Archive::kSymbolicLink, deep + "l" + std::to_string(i), "f"});
  }
  extract(entries);
  EXPECT_EQ("at the bottom", readFile(deep + "f"));
  for (int i = 0; i < 200; ++i) {
    EXPECT_EQ("f", testsupport::linkText(deep + "l" + std::to_string(i))) << i;
  }
  // TearDown's walk would take seconds at this depth.
  EXPECT_EQ(0, testsupport::run({"/bin/rm", "-rf", dir_ + "/inst/d"}).status);
}

INSTANTIATE_TEST_SUITE_P(Resolutions, SafeExtractionTest,
                         ::testing::Values(DestinationTree::kWholeName,
                                           DestinationTree::kComponentWalk),
                         [](const ::testing::TestParamInfo<DestinationTree::Resolution>& info) {
                           return info.param == DestinationTree::kWholeName ? "WholeName"
                                                                            : "ComponentWalk";
                         });

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
