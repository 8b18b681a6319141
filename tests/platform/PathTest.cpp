#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include "lang/Exception.h"
#include "platform/Path.h"
#include "tests/support/TestSupport.h"

namespace {

using testsupport::readFile;
using testsupport::str;
using testsupport::writeFile;

Path pathOf(const std::string& text) {
  return Path(text.data(), static_cast<uint32_t>(text.size()));
}

// Runs a test under the case-insensitive rule and restores the rule found.
class FoldedPathTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = Path::caseSensitive();
    Path::setCaseSensitive(false);
  }
  void TearDown() override { Path::setCaseSensitive(saved_); }

 private:
  bool saved_ = true;
};

int sign(int value) { return value < 0 ? -1 : value > 0 ? 1 : 0; }

// Checks that equals, hashCode and compareTo agree for a and b under the rule
// in force.
void expectConsistent(const Path& a, const Path& b, bool equal, const std::string& context) {
  EXPECT_EQ(equal, a.equals(b)) << context;
  EXPECT_EQ(equal, b.equals(a)) << context;
  EXPECT_EQ(equal, a.equals(b.c_str())) << context;
  EXPECT_EQ(equal, a.compareTo(b) == 0) << context;
  EXPECT_EQ(sign(a.compareTo(b)), -sign(b.compareTo(a))) << context;
  if (equal) {
    EXPECT_EQ(a.hashCode(), b.hashCode()) << context;
  }
}

struct EqualityCase {
  const char* a;
  const char* b;
  bool sensitiveEqual;
  bool foldedEqual;
};

const EqualityCase kEqualityCases[] = {
    {"ABC/x", "abc/X", false, true},
    {"abc", "abc", true, true},
    {"", "", true, true},
    {"a", "ab", false, false},
    // Only the 26 ASCII capitals fold: not the bytes next to them, not the
    // upper half (Latin-1 capital and small a with diaeresis).
    {"@[\\]^_", "`{|}~\x7f", false, false},
    {"\xC4", "\xE4", false, false},
    // Longer than the 16 bytes the hash samples directly.
    {"/Applications/Vantorel/Bin/Tool", "/applications/vantorel/bin/tool", false, true},
};

TEST(PathTest, CaseSensitiveComparisonIsByteExact) {
  for (const EqualityCase& c : kEqualityCases) {
    expectConsistent(Path(c.a), Path(c.b), c.sensitiveEqual, std::string(c.a) + " vs " + c.b);
  }
}

TEST_F(FoldedPathTest, FoldedComparisonIgnoresAsciiCaseOnly) {
  for (const EqualityCase& c : kEqualityCases) {
    expectConsistent(Path(c.a), Path(c.b), c.foldedEqual, std::string(c.a) + " vs " + c.b);
  }
}

TEST(PathTest, StartUpProbeFoundTmpCaseSensitiveAndLeftNothingBehind) {
  // The probe ran before main; /tmp on Linux tells the case of names apart.
  EXPECT_TRUE(Path::caseSensitive());
  std::string probe = "/tmp/Path.CaseSensitive" + std::to_string(getpid());
  struct stat status;
  EXPECT_NE(0, lstat(probe.c_str(), &status)) << probe;
}

TEST(PathTest, CompareToTakesBytesAsSignedAndFoldsOnlyUnderTheRule) {
  struct {
    const char* a;
    const char* b;
    int sensitive;
    int folded;
  } cases[] = {
      {"B", "a", 'B' - 'a', 'b' - 'a'},
      {"a", "B", 'a' - 'B', 'a' - 'b'},
      {"\x80", "a", -128 - 'a', -128 - 'a'},  // String's order would be unsigned
      {"ab", "abcd", -2, -2},
      {"abc", "ab", 1, 1},
  };
  bool saved = Path::caseSensitive();
  for (const auto& c : cases) {
    Path::setCaseSensitive(true);
    EXPECT_EQ(c.sensitive, Path(c.a).compareTo(Path(c.b))) << c.a << " vs " << c.b;
    Path::setCaseSensitive(false);
    EXPECT_EQ(c.folded, Path(c.a).compareTo(Path(c.b))) << c.a << " vs " << c.b;
  }
  Path::setCaseSensitive(saved);
}

TEST_F(FoldedPathTest, PrefixSuffixAndSearchFollowTheRule) {
  Path path("/Usr/Local/Bin");
  EXPECT_TRUE(path.startsWith("/usr/LOCAL"));
  EXPECT_TRUE(path.startsWith(String("/usr/")));
  EXPECT_TRUE(path.startsWith(""));
  EXPECT_FALSE(path.startsWith("/usr/local/bin/"));
  // A Path suffix compares under the rule, a plain String exactly.
  EXPECT_TRUE(path.endsWith(Path("local/bin")));
  EXPECT_FALSE(path.endsWith(String("local/bin")));
  EXPECT_TRUE(path.endsWith(String("Local/Bin")));
  EXPECT_FALSE(path.endsWith(Path("/x/usr/local/bin")));

  EXPECT_EQ(5, path.indexOf(Path("LOCAL")));
  EXPECT_EQ(-1, path.indexOf(Path("LOCAL"), 6));
  EXPECT_EQ(11, path.indexOf(Path("bin"), -3));
  EXPECT_EQ(14, path.indexOf(Path(""), 14));
  EXPECT_EQ(-1, path.indexOf(Path(""), 15));
  EXPECT_EQ(-1, path.indexOf(Path("/usr/local/bin/x")));

  Path::setCaseSensitive(true);
  EXPECT_FALSE(path.startsWith("/usr"));
  EXPECT_FALSE(path.endsWith(Path("local/bin")));
  EXPECT_EQ(-1, path.indexOf(Path("LOCAL")));
  EXPECT_EQ(5, path.indexOf(Path("Local")));
}

TEST_F(FoldedPathTest, JoiningYieldsAPathThatComparesUnderTheRule) {
  static_assert(std::is_same_v<decltype(Path("a") + "b"), Path>);
  static_assert(std::is_same_v<decltype(Path("a") + String("b")), Path>);
  Path joined = Path("/Dir/") + "File";
  EXPECT_EQ("/Dir/File", str(joined)) << "no separator is inserted";
  EXPECT_TRUE(joined == String("/dir/file"));
}

struct SplitCase {
  const char* path;
  const char* directory;
  const char* base;
  const char* extension;
  const char* getDirectory;
};

TEST(PathTest, SplitsIntoDirectoryBaseAndExtension) {
  const SplitCase cases[] = {
      {"/a/b.tar.gz", "/a/", "b.tar", ".gz", "/a/"},
      {"/x/.hidden.txt", "/x/", ".hidden", ".txt", "/x/"},
      {".profile", "", ".profile", "", "./"},
      {".bashrc", "", ".bashrc", "", "./"},
      {"archive.tar.gz", "", "archive.tar", ".gz", "./"},
      {"file.", "", "file.", "", "./"},
      {"a.", "", "a.", "", "./"},
      {"dir/", "dir/", "", "", "dir/"},
      {"a/b/", "a/b/", "", "", "a/b/"},
      {"name", "", "name", "", "./"},
      {"/name", "/", "name", "", "/"},
      {"", "", "", "", "./"},
      {"/", "/", "", "", "/"},
      {"x", "", "x", "", "./"},
      {"d.x/file", "d.x/", "file", "", "d.x/"},
      {"a/..", "a/", "..", "", "a/"},
      {"a/.b", "a/", ".b", "", "a/"},
      {"a/..b", "a/", ".", ".b", "a/"},
  };
  for (const SplitCase& c : cases) {
    Path path(c.path);
    Path directory("unset"), base("unset"), extension("unset");
    path.split(&directory, &base, &extension);
    EXPECT_EQ(c.directory, str(directory)) << c.path;
    EXPECT_EQ(c.base, str(base)) << c.path;
    EXPECT_EQ(c.extension, str(extension)) << c.path;
    EXPECT_EQ(c.getDirectory, str(path.getDirectory())) << c.path;
    EXPECT_EQ(c.base, str(path.getBaseName())) << c.path;
    EXPECT_EQ(c.extension, str(path.getExtension())) << c.path;
    EXPECT_EQ(std::string(c.base) + c.extension, str(path.getName())) << c.path;
  }
  Path extension;
  Path("/a/b.c").split(nullptr, nullptr, &extension);  // absent out-parameters
  EXPECT_EQ(".c", str(extension));
}

TEST(PathTest, NextComponentWalksComponentsWithTheirKinds) {
  const int D = Path::Component::kDirectory;
  const int F = Path::Component::kFinal;
  struct {
    const char* path;
    std::vector<std::pair<std::string, int>> components;
  } cases[] = {
      {"", {}},
      {"/", {{"/", D}}},
      {"//a//b/", {{"/", D}, {"a", D}, {"b", D}}},
      {"x/y", {{"x", D}, {"y", F}}},
      {"/usr/bin/cc", {{"/", D}, {"usr", D}, {"bin", D}, {"cc", F}}},
      {"a/./..", {{"a", D}, {".", D}, {"..", D}}},
      {"..", {{"..", D}}},
  };
  for (const auto& c : cases) {
    Path path(c.path);
    Path::Component cursor;
    EXPECT_EQ(0u, cursor.position());
    EXPECT_EQ(0, cursor.kind());
    for (int walk = 0; walk < 2; ++walk) {  // the cursor resets and walks again
      std::vector<std::pair<std::string, int>> seen;
      while (path.nextComponent(cursor)) {
        seen.emplace_back(str(cursor.name()), cursor.kind());
        ASSERT_LE(seen.size(), 10u) << c.path;
      }
      EXPECT_EQ(c.components, seen) << c.path << " walk " << walk;
      EXPECT_EQ(0u, cursor.position()) << c.path;
      EXPECT_TRUE(cursor.name().isEmpty()) << c.path;
    }
  }
}

TEST(PathTest, NextComponentPositionIsAfterTheSlashes) {
  Path path("a//b");
  Path::Component cursor;
  ASSERT_TRUE(path.nextComponent(cursor));
  EXPECT_EQ(3u, cursor.position());
  ASSERT_TRUE(path.nextComponent(cursor));
  EXPECT_EQ(4u, cursor.position()) << "the end of the text until the walk resets";
}

TEST(PathTest, TrailingSlashIsAddedOnlyWhereMissing) {
  struct {
    const char* path;
    const char* expected;
  } cases[] = {{"", ""}, {"a", "a/"}, {"a/", "a/"}, {"/", "/"}, {"a//", "a//"}};
  for (const auto& c : cases) {
    Path original(c.path);
    EXPECT_EQ(c.expected, str(original.withTrailingSlash())) << c.path;
    EXPECT_EQ(c.path, str(original)) << "withTrailingSlash leaves the original";
    Path path(c.path);
    Path& same = path.addTrailingSlash();
    EXPECT_EQ(&path, &same);
    EXPECT_EQ(c.expected, str(path)) << c.path;
  }
}

TEST(PathTest, CanonicalFormOfAbsolutePaths) {
  struct {
    const char* path;
    const char* expected;
  } cases[] = {
      {"", ""},
      {"/", "/"},
      {"//", "/"},
      {"/a/b/../d", "/a/d"},
      {"/a/./b/", "/a/b/"},
      {"/a/b/..", "/a/"},
      {"/a/b/.", "/a/b/"},
      {"/..", "/"},
      {"/../../a/..", "/"},
      {"/a//b", "/a/b"},
      {"/a/b/../../..", "/"},
      {"/a/.../b", "/a/.../b"},
      {"/a/b/c/../../d/./e/", "/a/d/e/"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.expected, str(Path(c.path).getCanonical())) << c.path;
}

// Relative paths are made absolute with the current directory.
class PathInDirectoryTest : public testsupport::TempDirTest {};

TEST_F(PathInDirectoryTest, CanonicalFormOfRelativePaths) {
  std::string parent = dir_.substr(0, dir_.rfind('/') + 1);
  struct {
    const char* path;
    std::string expected;
  } cases[] = {
      {"x", dir_ + "/x"},           {".", dir_ + "/"},         {"./", dir_ + "/"}, {"..", parent},
      {"../y/./z", parent + "y/z"}, {"a//b/", dir_ + "/a/b/"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.expected, str(Path(c.path).getCanonical())) << c.path;
}

TEST_F(PathInDirectoryTest, CurrentDirectoryEndsWithOneSlash) {
  EXPECT_EQ(dir_ + "/", str(Path::getCurrentDirectory()));
  ASSERT_EQ(0, chdir("/tmp"));
  EXPECT_EQ("/tmp/", str(Path::getCurrentDirectory()));
  ASSERT_EQ(0, chdir("/"));
  EXPECT_EQ("/", str(Path::getCurrentDirectory()));
}

TEST_F(PathInDirectoryTest, CurrentDirectoryIsReadAtAnyLength) {
  std::string expected = dir_;
  std::string name(200, 'd');
  while (expected.size() <= 3000) {
    ASSERT_EQ(0, mkdir(name.c_str(), 0755));
    ASSERT_EQ(0, chdir(name.c_str()));
    expected += "/" + name;
  }
  EXPECT_EQ(expected + "/", str(Path::getCurrentDirectory()));
  EXPECT_EQ(expected + "/f", str(Path("f").getCanonical()));
}

TEST_F(PathInDirectoryTest, CurrentDirectoryFailureNamesTheActionAndTheReason) {
  ASSERT_EQ(0, mkdir("gone", 0755));
  ASSERT_EQ(0, chdir("gone"));
  ASSERT_EQ(0, rmdir((dir_ + "/gone").c_str()));
  EXPECT_THROW_TEXT(Path::getCurrentDirectory(), Exception,
                    "Exception: get current directory failure: No such file or directory");
  EXPECT_THROW_TEXT(Path("x").getCanonical(), Exception,
                    "Exception: get current directory failure: No such file or directory");
  EXPECT_EQ("/a/", str(Path("/a/b/..").getCanonical())) << "absolute paths need no directory";
}

struct RelativeCase {
  const char* path;
  const char* base;
  const char* expected;
};

const RelativeCase kRelativeCases[] = {
    {"/a/b/d.txt", "/a/", "b/d.txt"},
    {"/a/x", "/a/b/e/", "../../x"},
    {"/a/b/", "/a/b/f", "./"},
    {"/a/b", "/a/b", "./"},
    {"/a/b/", "/a/b/", "./"},
    {"/a/b/x", "/a/b/f", "x"},
    // A base without a trailing "/" is a file: its own name adds no level.
    {"/a/x", "/a/b/e", "../x"},
    {"/a/c/x", "/a/b/f", "../c/x"},
    {"/", "/a/", "../"},
    {"/a/", "/", "a/"},
    {"/a/./b/../c", "/a/d/../", "c"},
    {"/a/b/c/d", "/a/x/y/z/", "../../../b/c/d"},
};

TEST(PathTest, ComputeRelativeWalksUpFromTheBaseDirectory) {
  for (const RelativeCase& c : kRelativeCases) {
    EXPECT_EQ(c.expected, str(Path(c.path).computeRelative(Path(c.base))))
        << c.path << " relative to " << c.base;
  }
}

TEST(PathTest, RelativeToGivesTheSameAnswersFromTheMemo) {
  // Twice over: the second round is answered from the memo wherever the
  // first round stored an answer.
  for (int round = 0; round < 2; ++round) {
    for (const RelativeCase& c : kRelativeCases) {
      EXPECT_EQ(c.expected, str(Path(c.path).relativeTo(Path(c.base))))
          << c.path << " relative to " << c.base << " round " << round;
    }
  }
}

TEST_F(FoldedPathTest, ComputeRelativeMatchesComponentsUnderTheRule) {
  EXPECT_EQ("x", str(Path("/A/B/x").computeRelative(Path("/a/b/"))));
  Path::setCaseSensitive(true);
  EXPECT_EQ("../../A/B/x", str(Path("/A/B/x").computeRelative(Path("/a/b/"))));
}

TEST_F(PathInDirectoryTest, RelativeToMemoServesEveryNameInTheDirectory) {
  ASSERT_EQ(0, mkdir("one", 0755));
  ASSERT_EQ(0, mkdir("two", 0755));
  Path base = pathOf(dir_ + "/");
  ASSERT_EQ(0, chdir("one"));
  EXPECT_EQ("one/sub/x", str(Path("sub/x").relativeTo(base)));
  // The result of a ".." name does not end in that name: it is not stored.
  EXPECT_EQ("one/", str(Path("up/..").relativeTo(base)));

  // The memo is keyed on the texts as passed in, so after a change of the
  // current directory it still answers for the directory of the first call.
  ASSERT_EQ(0, chdir("../two"));
  EXPECT_EQ("one/sub/y", str(Path("sub/y").relativeTo(base)));
  EXPECT_EQ("two/sub/y", str(Path("sub/y").computeRelative(base)));
  EXPECT_EQ("two/up/z", str(Path("up/z").relativeTo(base))) << "nothing was stored for up/";
}

TEST_F(PathInDirectoryTest, ResolveLinksReplacesEachLinkByItsTarget) {
  ASSERT_EQ(0, mkdir("real", 0755));
  ASSERT_EQ(0, mkdir("real/inner", 0755));
  ASSERT_EQ(0, symlink("real", "rel"));
  ASSERT_EQ(0, symlink((dir_ + "/real").c_str(), "abs"));
  ASSERT_EQ(0, symlink("rel", "chain"));
  ASSERT_EQ(0, symlink("inner/", "real/in"));
  ASSERT_EQ(0, symlink("../real", "real/up"));
  std::string d = dir_ + "/";
  struct {
    std::string path;
    std::string expected;
  } cases[] = {
      {d + "real/file", d + "real/file"},
      {d + "rel/file", d + "real/file"},
      {d + "abs/file", d + "real/file"},
      {d + "chain/file", d + "real/file"},
      {d + "rel", d + "real"},
      {d + "rel//file", d + "real/file"},
      {d + "rel/in/file", d + "real/inner/file"},
      {d + "rel/up/up/x", d + "real/../real/../real/x"},
      {d + "missing/rel/x", d + "missing/rel/x"},
      {"rel/x", "real/x"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.expected, str(pathOf(c.path).resolveLinks())) << c.path;
}

TEST_F(PathInDirectoryTest, ResolveLinksStopsOnACycle) {
  ASSERT_EQ(0, symlink("loop2", "loop1"));
  ASSERT_EQ(0, symlink("loop1", "loop2"));
  ASSERT_EQ(0, symlink("self", "self"));
  // After the bound of 64 substitutions: an even count leads back to loop1.
  static_assert(Path::kMaxLinkSubstitutions % 2 == 0);
  EXPECT_EQ(dir_ + "/loop1/x", str(pathOf(dir_ + "/loop1/x").resolveLinks()));
  EXPECT_EQ(dir_ + "/self", str(pathOf(dir_ + "/self").resolveLinks()));
}

TEST_F(PathInDirectoryTest, ResolveLinksReadsLinkTextsOfAnyLength) {
  ASSERT_EQ(0, mkdir("real", 0755));
  std::string target;
  while (target.size() < 3000) target += "./";
  target += "real";
  ASSERT_EQ(0, symlink(target.c_str(), "long"));
  EXPECT_EQ(dir_ + "/" + target + "/x", str(pathOf(dir_ + "/long/x").resolveLinks()));
}

TEST_F(PathInDirectoryTest, ReadLinkGivesTheTextOrNamesThePathAndTheReason) {
  std::string target(3000, 'x');
  ASSERT_EQ(0, symlink(target.c_str(), "long"));
  writeFile("file", "not a link");
  EXPECT_EQ(target, str(Path("long").readLink()));
  EXPECT_THROW_TEXT(Path("file").readLink(), Exception,
                    "Exception: file: readlink failure: Invalid argument");
  EXPECT_THROW_TEXT(Path("missing").readLink(), Exception,
                    "Exception: missing: readlink failure: No such file or directory");
}

TEST_F(PathInDirectoryTest, InstallRootIsTwoLevelsAboveTheProgram) {
  struct {
    std::string invocation;
    std::string program;
    std::string root;
  } cases[] = {
      {"/opt/x/bin/install", "/opt/x/bin/install", "/opt/x/"},
      {"/opt\\x\\bin\\install", "/opt\\x\\bin\\install", "/opt/x/"},
      {"./bin/install", dir_ + "/./bin/install", dir_ + "/"},
  };
  for (const auto& c : cases) {
    Path::setProgramPath(c.invocation.c_str());
    EXPECT_EQ(c.program, str(Path::getProgramPath())) << c.invocation;
    EXPECT_EQ(c.root, str(Path::getInstallRoot())) << c.invocation;
  }
}

// The program path never depends on a later change of directory: a name
// found through a relative PATH entry, or nowhere, is taken from the
// directory the program was started in, and only an executable file can be
// the program a shell ran.
TEST_F(PathInDirectoryTest, ProgramPathIsAbsoluteAgainstTheStartingDirectory) {
  for (const char* d : {"bin", "noexec", "isdir", "isdir/install"}) ASSERT_EQ(0, mkdir(d, 0755));
  testsupport::writeFile("install", "", 0755);
  testsupport::writeFile("bin/install", "", 0755);
  testsupport::writeFile("noexec/install", "", 0644);
  struct {
    const char* invocation;
    std::optional<std::string> path;
    std::string program;
  } cases[] = {
      {"/opt/v/install", "", "/opt/v/install"},
      {"./install", "", dir_ + "/./install"},
      {"bin/../install", "", dir_ + "/bin/../install"},
      {"install", ":/nonexistent", dir_ + "/./install"},
      {"install", ".", dir_ + "/./install"},
      {"install", "bin", dir_ + "/bin/install"},
      {"install", std::nullopt, dir_ + "/./install"},
      {"install", dir_ + "/bin", dir_ + "/bin/install"},
      {"install", "/nonexistent", dir_ + "/install"},
      {"install", "noexec:bin", dir_ + "/bin/install"},
      {"install", "isdir:bin", dir_ + "/bin/install"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(0, testsupport::inChild([&] {
                if (c.path) {
                  setenv("PATH", c.path->c_str(), 1);
                } else {
                  unsetenv("PATH");
                }
                Path::setProgramPath(c.invocation);
                EXPECT_EQ(c.program, str(Path::getProgramPath()))
                    << c.invocation << " " << c.path.value_or("unset");
              }));
  }
  // Only when the directory started in cannot be read does the name stay
  // relative; the installer then refuses to go on.
  EXPECT_EQ(0, testsupport::inChild([&] {
              ASSERT_EQ(0, mkdir("gone", 0755));
              ASSERT_EQ(0, chdir("gone"));
              ASSERT_EQ(0, rmdir((dir_ + "/gone").c_str()));
              setenv("PATH", ":", 1);
              Path::setProgramPath("install");
              EXPECT_EQ("install", str(Path::getProgramPath()));
            }));
}

// The probe runs against a private directory here; at start-up it runs
// against /tmp. Its file is named after this process.
class CaseProbeTest : public testsupport::TempDirTest {
 protected:
  std::string probeName() const { return dir_ + "/Path.CaseSensitive" + std::to_string(getpid()); }
  std::string lowerName() const { return dir_ + "/path.casesensitive" + std::to_string(getpid()); }
  bool probe() const { return Path::probeCaseSensitive((dir_ + "/").c_str()); }
  std::vector<std::string> entries() const {
    std::vector<std::string> names;
    DIR* directory = opendir(dir_.c_str());
    if (directory == nullptr) return names;
    while (const struct dirent* entry = readdir(directory)) {
      std::string name = entry->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    closedir(directory);
    return names;
  }
};

TEST_F(CaseProbeTest, RemovesTheFileItCreated) {
  errno = EINTR;
  EXPECT_TRUE(probe());
  EXPECT_EQ(EINTR, errno) << "the probe leaves errno alone";
  EXPECT_TRUE(entries().empty());
}

TEST_F(CaseProbeTest, PlantedLinkIsNeitherFollowedNorRemoved) {
  ASSERT_EQ(0, mkdir("outside", 0755));
  writeFile(dir_ + "/outside/target", "precious");
  ASSERT_EQ(0, symlink((dir_ + "/outside/target").c_str(), probeName().c_str()));
  EXPECT_TRUE(probe());
  EXPECT_EQ("precious", readFile(dir_ + "/outside/target"));
  char text[4096];
  ssize_t n = readlink(probeName().c_str(), text, sizeof text);
  ASSERT_GT(n, 0) << "the planted link is still there";
  EXPECT_EQ(dir_ + "/outside/target", std::string(text, static_cast<size_t>(n)));
  // A dangling link must not create its target either.
  ASSERT_EQ(0, unlink(probeName().c_str()));
  ASSERT_EQ(0, symlink((dir_ + "/outside/new").c_str(), probeName().c_str()));
  EXPECT_TRUE(probe());
  struct stat status;
  EXPECT_NE(0, lstat((dir_ + "/outside/new").c_str(), &status));
}

TEST_F(CaseProbeTest, ExistingFileIsNeitherTruncatedNorRemoved) {
  writeFile(probeName(), "someone else's");
  EXPECT_TRUE(probe());
  EXPECT_EQ("someone else's", readFile(probeName()));
}

TEST_F(CaseProbeTest, AnotherFileUnderTheLowerCasedNameDoesNotMakeNamesFold) {
  writeFile(lowerName(), "other");
  EXPECT_TRUE(probe());
  EXPECT_EQ("other", readFile(lowerName()));
  EXPECT_EQ(std::vector<std::string>{lowerName().substr(dir_.size() + 1)}, entries());
  // Nor a link there to the probe's own name.
  ASSERT_EQ(0, unlink(lowerName().c_str()));
  ASSERT_EQ(0, symlink(probeName().c_str(), lowerName().c_str()));
  EXPECT_TRUE(probe());
}

TEST_F(CaseProbeTest, FifoUnderTheLowerCasedNameDoesNotBlock) {
  ASSERT_EQ(0, mkfifo(lowerName().c_str(), 0600));
  EXPECT_TRUE(probe());
  struct stat status;
  ASSERT_EQ(0, lstat(lowerName().c_str(), &status));
  EXPECT_TRUE(S_ISFIFO(status.st_mode));
  EXPECT_NE(0, lstat(probeName().c_str(), &status));
}

TEST_F(CaseProbeTest, UnwritableDirectoryLeavesNamesCaseSensitive) {
  EXPECT_TRUE(Path::probeCaseSensitive((dir_ + "/missing/").c_str()));
  EXPECT_TRUE(entries().empty());
}

}  // namespace
