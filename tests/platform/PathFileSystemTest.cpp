// The file-system operations of Path, each in a private directory.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>

#include "lang/Exception.h"
#include "platform/Path.h"
#include "tests/support/TestSupport.h"

namespace {

using testsupport::becomeNobody;
using testsupport::exists;
using testsupport::inChild;
using testsupport::kNobody;
using testsupport::kSkipStatus;
using testsupport::makeTempDir;
using testsupport::modeOf;
using testsupport::readFile;
using testsupport::removeTree;
using testsupport::str;
using testsupport::writeFile;

Path pathOf(const std::string& text) {
  return Path(text.data(), static_cast<uint32_t>(text.size()));
}

// Sets or removes an environment variable for the life of the object.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, std::optional<std::string> value) : name_(name) {
    const char* old = getenv(name);
    if (old != nullptr) old_ = old;
    set(value);
  }
  ~ScopedEnv() { set(old_); }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  void set(const std::optional<std::string>& value) {
    if (value) {
      setenv(name_, value->c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }

  const char* name_;
  std::optional<std::string> old_;
};

class PathFileSystemTest : public testsupport::TempDirTest {};

TEST_F(PathFileSystemTest, TemporaryDirectoryComesFromTmpdirOrTmp) {
  ASSERT_EQ(0, mkdir("t", 0755));
  writeFile("file", "");
  struct {
    std::optional<std::string> tmpdir;
    std::string expected;
  } cases[] = {
      {std::nullopt, "/tmp/"},
      {"", "/tmp/"},
      {dir_ + "/file", "/tmp/"},
      {dir_ + "/missing", "/tmp/"},
      {dir_ + "/t", dir_ + "/t/"},
      {dir_ + "/t/", dir_ + "/t/"},
      // Relative: made absolute with the current directory of the first call.
      {"t", dir_ + "/t/"},
      {"./t//", dir_ + "/./t//"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(0, inChild([&] {
                ScopedEnv tmpdir("TMPDIR", c.tmpdir);
                EXPECT_EQ(c.expected, str(Path::getTemporaryDirectory()));
              }))
        << "TMPDIR " << c.tmpdir.value_or("unset");
  }
}

TEST_F(PathFileSystemTest, TemporaryDirectoryIsCachedForTheLifeOfTheProcess) {
  ASSERT_EQ(0, mkdir("first", 0755));
  ASSERT_EQ(0, mkdir("second", 0755));
  EXPECT_EQ(0, inChild([&] {
              ScopedEnv tmpdir("TMPDIR", std::string("first"));
              EXPECT_EQ(dir_ + "/first/", str(Path::getTemporaryDirectory()));
              setenv("TMPDIR", (dir_ + "/second").c_str(), 1);
              ASSERT_EQ(0, chdir("/"));
              EXPECT_EQ(dir_ + "/first/", str(Path::getTemporaryDirectory()));
              ASSERT_EQ(0, rmdir((dir_ + "/first").c_str()));
              EXPECT_EQ(dir_ + "/first/", str(Path::getTemporaryDirectory()))
                  << "not examined again";
            }));
}

TEST_F(PathFileSystemTest, TemporaryDirectoryFailsWithoutTmpAndIsExaminedAgainAfterwards) {
  // A root directory without /tmp: this private directory, through chroot.
  writeFile("file", "");
  int status = inChild([&] {
    if (chroot(dir_.c_str()) != 0 || chdir("/") != 0) _exit(kSkipStatus);
    ScopedEnv tmpdir("TMPDIR", std::nullopt);
    EXPECT_THROW_TEXT(Path::getTemporaryDirectory(), Exception,
                      "Exception: invalid temporary directory: ");
    setenv("TMPDIR", "/file", 1);
    EXPECT_THROW_TEXT(Path::getTemporaryDirectory(), Exception,
                      "Exception: invalid temporary directory: /file");
    ASSERT_EQ(0, mkdir("/later", 0755));
    setenv("TMPDIR", "/later", 1);
    EXPECT_EQ("/later/", str(Path::getTemporaryDirectory())) << "a failure caches nothing";
  });
  if (status == kSkipStatus) GTEST_SKIP() << "chroot is not permitted, so /tmp cannot be hidden";
  EXPECT_EQ(0, status);
}

TEST_F(PathFileSystemTest, HomeDirectoryMustBeADirectory) {
  ASSERT_EQ(0, mkdir("home", 0755));
  writeFile("file", "");
  struct {
    std::optional<std::string> home;
    const char* expected;  // null: the exception
  } cases[] = {
      {dir_ + "/home", nullptr},
      {dir_ + "/home/", nullptr},
      {"home", nullptr},
      {std::nullopt, "Exception: cannot determine home directory"},
      {"", "Exception: cannot determine home directory"},
      {dir_ + "/file", "Exception: cannot determine home directory"},
      {dir_ + "/missing", "Exception: cannot determine home directory"},
  };
  for (const auto& c : cases) {
    ScopedEnv home("HOME", c.home);
    if (c.expected == nullptr) {
      std::string expected = *c.home;
      if (expected.back() != '/') expected += '/';
      EXPECT_EQ(expected, str(Path::getHomeDirectory())) << expected;
    } else {
      EXPECT_THROW_TEXT(Path::getHomeDirectory(), Exception, c.expected);
    }
  }
  // Not cached: a later change of HOME is seen.
  ScopedEnv home("HOME", dir_);
  EXPECT_EQ(dir_ + "/", str(Path::getHomeDirectory()));
}

TEST_F(PathFileSystemTest, StatusQueriesFollowLinks) {
  writeFile("plain", "", 0644);
  writeFile("owner", "", 0744);
  writeFile("others", "", 0601);
  ASSERT_EQ(0, mkdir("dir", 0755));
  ASSERT_EQ(0, symlink("owner", "link"));
  ASSERT_EQ(0, symlink("missing", "dangling"));
  ASSERT_EQ(0, mkfifo("fifo", 0755));
  struct {
    const char* path;
    bool file, directory, executable;
  } cases[] = {
      {"plain", true, false, false},     {"owner", true, false, true},
      {"others", true, false, true},     {"dir", false, true, false},
      {"dir/", false, true, false},      {"link", true, false, true},
      {"dangling", false, false, false}, {"fifo", false, false, false},
      {"missing", false, false, false},  {"", false, false, false},
  };
  for (const auto& c : cases) {
    Path path(c.path);
    EXPECT_EQ(c.file, path.isFile()) << c.path;
    EXPECT_EQ(c.directory, path.isDirectory()) << c.path;
    EXPECT_EQ(c.executable, path.isExecutable()) << c.path;
  }
  struct stat status;
  ASSERT_TRUE(Path("link").stat(status));
  EXPECT_TRUE(S_ISREG(status.st_mode));
  EXPECT_FALSE(Path("dangling").stat(status));
}

TEST_F(PathFileSystemTest, MakeDirectoryCreatesParentsAndAcceptsAnExistingDirectory) {
  errno = EINTR;
  Path("a/b/../c/d").makeDirectory(0750);
  EXPECT_EQ(EINTR, errno) << "errno is kept on success";
  for (const char* created : {"a", "a/c", "a/c/d"}) {
    EXPECT_TRUE(Path(created).isDirectory()) << created;
    EXPECT_EQ(0750u, modeOf(created)) << created;
  }
  EXPECT_FALSE(exists("a/b")) << "only the canonical path is created";
  Path("a/c/d").makeDirectory(0700);
  pathOf(dir_ + "/a/c/d/").makeDirectory(0700);
  EXPECT_EQ(0750u, modeOf("a/c/d")) << "an existing directory is left as it is";
  Path("single").makeDirectory(0705);
  EXPECT_EQ(0705u, modeOf("single"));
}

TEST_F(PathFileSystemTest, FailuresNameThePathTheOperationAndTheReason) {
  writeFile("file", "content");
  ASSERT_EQ(0, mkdir("full", 0755));
  writeFile("full/x", "");
  ASSERT_EQ(0, mkdir("dir", 0755));
  struct {
    const char* name;
    std::function<void()> action;
    const char* expected;
  } cases[] = {
      {"chdir", [] { Path("missing").setCurrentDirectory(); },
       "Exception: missing: set current directory failure: No such file or directory"},
      {"mkdir on a file", [] { Path("file").makeDirectory(0755); },
       "Exception: file: make directory failure: File exists"},
      {"mkdir below a file", [] { Path("file/sub").makeDirectory(0755); },
       "Exception: file/sub: make directory failure: File exists"},
      {"mkdir of nothing", [] { Path("").makeDirectory(0755); },
       "Exception: : make directory failure: No such file or directory"},
      {"chmod", [] { Path("missing").setPermissions(0644); },
       "Exception: missing: set file permission failure: No such file or directory"},
      {"utime", [] { Path("missing").setModificationTime(0); },
       "Exception: missing: set modification time failure: No such file or directory"},
      {"fchmod", [] { Path("named").setPermissions(0644, -1); },
       "Exception: named: set file permission failure: Bad file descriptor"},
      {"futimens", [] { Path("named").setModificationTime(0, -1); },
       "Exception: named: set modification time failure: Bad file descriptor"},
      {"rename missing", [] { Path("missing").rename(Path("other")); },
       "Exception: missing: cannot rename to other: No such file or directory"},
      {"rename onto a full directory", [] { Path("dir").rename(Path("full")); },
       "Exception: dir: cannot rename to full: Directory not empty"},
      {"copy from missing", [] { Path("missing").copyTo(Path("x")); },
       "File open error: missing: No such file or directory"},
      {"copy into missing", [] { Path("file").copyTo(Path("nodir/x")); },
       "File create error: nodir/x: No such file or directory"},
      {"copy onto itself", [] { Path("file").copyTo(Path("./file")); },
       "Exception: ./file: cannot copy a file onto itself"},
  };
  for (const auto& c : cases) {
    errno = 0;
    EXPECT_THROW_TEXT(c.action(), Exception, c.expected);
  }
  EXPECT_EQ("content", readFile("file")) << "copying onto itself did not empty the file";
  EXPECT_TRUE(exists("full/x"));
}

TEST_F(PathFileSystemTest, FailuresWithoutPermissionLeaveEverythingInPlace) {
  ASSERT_EQ(0, chmod(dir_.c_str(), 0755));
  ASSERT_EQ(0, mkdir("locked", 0755));
  writeFile("locked/f", "kept");
  ASSERT_EQ(0, mkdir("locked/ro", 0555));
  ASSERT_EQ(0, mkdir("locked/open", 0777));
  int status = inChild([&] {
    becomeNobody();
    EXPECT_THROW_TEXT(Path("locked/f").remove(), Exception,
                      "Exception: locked/f: remove file failure: Permission denied");
    EXPECT_THROW_TEXT(Path("locked/ro").remove(), Exception,
                      "Exception: locked/ro: set file permission failure: Operation not permitted");
    EXPECT_THROW_TEXT(Path("locked/open").remove(), Exception,
                      "Exception: locked/open: remove directory failure: Permission denied");
    EXPECT_THROW_TEXT(Path("locked/new").makeDirectory(0755), Exception,
                      "Exception: locked/new: make directory failure: Permission denied");
    EXPECT_THROW_TEXT(Path("locked/f").setPermissions(0777), Exception,
                      "Exception: locked/f: set file permission failure: Operation not permitted");
  });
  if (status == kSkipStatus) GTEST_SKIP() << "needs root, to act as another user";
  EXPECT_EQ(0, status);
  EXPECT_EQ("kept", readFile("locked/f"));
  EXPECT_EQ(0644u, modeOf("locked/f"));
  EXPECT_EQ(0555u, modeOf("locked/ro"));
  EXPECT_TRUE(exists("locked/open"));
}

// A tree with read-only and unreadable directories, links to a directory
// outside the tree (which must survive) and other kinds of entry.
class RemoveTest : public PathFileSystemTest {
 protected:
  void SetUp() override {
    PathFileSystemTest::SetUp();
    ASSERT_EQ(0, mkdir("outside", 0755));
    writeFile("outside/precious", "keep");
    ASSERT_EQ(0, mkdir("tree", 0755));
    ASSERT_EQ(0, mkdir("tree/ro", 0755));
    writeFile("tree/ro/file", "x", 0444);
    ASSERT_EQ(0, mkdir("tree/ro/inner", 0755));
    writeFile("tree/ro/inner/deep", "y");
    ASSERT_EQ(0, chmod("tree/ro/inner", 0));
    ASSERT_EQ(0, chmod("tree/ro", 0555));
    ASSERT_EQ(0, symlink((dir_ + "/outside").c_str(), "tree/link"));
    ASSERT_EQ(0, symlink("nowhere", "tree/dangling"));
    ASSERT_EQ(0, mkfifo("tree/fifo", 0644));
    writeFile("tree/plain", "z");
  }

  void expectOutsideIntact() {
    EXPECT_EQ("keep", readFile(dir_ + "/outside/precious"));
    EXPECT_EQ(0755u, modeOf(dir_ + "/outside"));
  }
};

TEST_F(RemoveTest, RemovesTheWholeTreeButNothingLinkedFromIt) {
  Path("tree").remove();
  EXPECT_FALSE(exists("tree"));
  expectOutsideIntact();
}

TEST_F(RemoveTest, RemovesByAbsolutePathWithTrailingSlash) {
  pathOf(dir_ + "/tree/").remove();
  EXPECT_FALSE(exists("tree"));
  expectOutsideIntact();
}

TEST_F(RemoveTest, RemovesALinkToADirectoryButNotItsTarget) {
  for (const char* name : {"tree/link", "tree/link/", "tree/link//"}) {
    if (!exists("tree/link")) {
      ASSERT_EQ(0, symlink((dir_ + "/outside").c_str(), "tree/link"));
    }
    Path(name).remove();
    EXPECT_FALSE(exists("tree/link")) << name;
    expectOutsideIntact();
  }
}

TEST_F(RemoveTest, RemovesSingleEntriesAndIgnoresMissingOnes) {
  for (const char* name :
       {"tree/plain", "tree/fifo", "tree/dangling", "tree/missing", "missing/deeper", ""}) {
    Path(name).remove();
    EXPECT_FALSE(exists(name)) << name;
  }
  EXPECT_TRUE(exists("tree/ro/file"));
}

TEST_F(RemoveTest, FailurePartWayGrantsNoRightsToOthers) {
  // As "nobody", over a tree that belongs to nobody but holds a directory of
  // root's: removal stops there, after opening up the read-only directory
  // above it for its owner alone.
  ASSERT_EQ(0, chmod(dir_.c_str(), 0755));
  ASSERT_EQ(0, mkdir("mine", 0755));
  ASSERT_EQ(0, mkdir("mine/ro", 0555));
  int status = inChild([&] {
    if (geteuid() != 0) _exit(kSkipStatus);
    ASSERT_EQ(0, mkdir("mine/ro/roots", 0755));
    writeFile("mine/ro/roots/f", "");
    ASSERT_EQ(0, chown("mine", kNobody, kNobody));
    ASSERT_EQ(0, chown("mine/ro", kNobody, kNobody));
    becomeNobody();
    EXPECT_THROW_TEXT(Path("mine").remove(), Exception,
                      "Exception: mine/ro/roots/f: remove file failure: Permission denied");
  });
  if (status == kSkipStatus) GTEST_SKIP() << "needs root, to act as another user";
  EXPECT_EQ(0, status);
  EXPECT_EQ(0755u, modeOf("mine/ro"));
  EXPECT_TRUE(exists("mine/ro/roots/f"));
}

TEST_F(PathFileSystemTest, SetPermissionsAndModificationTime) {
  writeFile("f", "", 0600);
  Path("f").setPermissions(04751);
  EXPECT_EQ(04751u, modeOf("f"));
  // By name, and on an open descriptor of the file (which the name then
  // only labels), with the same results.
  int descriptor = open("f", O_RDONLY);
  ASSERT_LE(0, descriptor);
  Path("f").setPermissions(0640, descriptor);
  EXPECT_EQ(0640u, modeOf("f"));
  // Beyond the signed 32-bit range: the time is unsigned.
  for (uint32_t time : {0u, 1234567890u, 4000000000u}) {
    for (bool byDescriptor : {false, true}) {
      if (byDescriptor) {
        Path("f").setModificationTime(time, descriptor);
      } else {
        Path("f").setModificationTime(time);
      }
      struct stat status;
      ASSERT_EQ(0, stat("f", &status));
      EXPECT_EQ(static_cast<time_t>(time), status.st_mtime) << time << " " << byDescriptor;
      EXPECT_EQ(static_cast<time_t>(time), status.st_atime) << time << " " << byDescriptor;
      EXPECT_EQ(0, status.st_mtim.tv_nsec) << time << " " << byDescriptor;
    }
  }
  close(descriptor);
}

// Content of `size` bytes that differ from position to position.
std::string pattern(size_t size) {
  std::string content(size, 0);
  for (size_t i = 0; i < size; ++i) content[i] = static_cast<char>(i * 7 + i / 251);
  return content;
}

TEST_F(PathFileSystemTest, CopyCarriesContentTimeAndMode) {
  for (size_t size : {size_t{0}, size_t{1}, size_t{4096}, size_t{4097}, size_t{10000}}) {
    std::string content = pattern(size);
    writeFile("source", content, 0751);
    Path("source").setModificationTime(1000000000);
    writeFile("copy", std::string(20000, 'o'), 0600);  // longer: emptied first
    Path("source").copyTo(Path("copy"));
    struct stat status;  // before reading the copy changes its access time
    ASSERT_EQ(0, stat("copy", &status));
    EXPECT_EQ(1000000000, status.st_mtime) << size;
    EXPECT_EQ(1000000000, status.st_atime) << size;
    EXPECT_EQ(content, readFile("copy")) << size;
    EXPECT_EQ(0751u, modeOf("copy")) << size;
  }
}

TEST_F(PathFileSystemTest, FailingCopyRemovesTheDestination) {
  ASSERT_EQ(0, mkdir("dir", 0755));
  writeFile("copy", "old");
  EXPECT_THROW_TEXT(Path("dir").copyTo(Path("copy")), Exception,
                    "File read error: dir: Is a directory");
  EXPECT_FALSE(exists("copy"));
}

TEST_F(PathFileSystemTest, CopyOntoAHardLinkOfItselfLeavesTheFile) {
  writeFile("file", "content");
  ASSERT_EQ(0, link("file", "alias"));
  EXPECT_THROW_TEXT(Path("file").copyTo(Path("alias")), Exception,
                    "Exception: alias: cannot copy a file onto itself");
  EXPECT_EQ("content", readFile("file"));
}

TEST_F(PathFileSystemTest, RenameReplacesAnExistingDestination) {
  writeFile("a", "new");
  writeFile("b", "old");
  Path("a").rename(Path("b"));
  EXPECT_FALSE(exists("a"));
  EXPECT_EQ("new", readFile("b"));
  ASSERT_EQ(0, mkdir("d1", 0755));
  writeFile("d1/x", "");
  ASSERT_EQ(0, mkdir("d2", 0755));
  Path("d1").rename(Path("d2"));
  EXPECT_TRUE(exists("d2/x"));
}

// A private directory on another file system than the test's own one.
class CrossDeviceRenameTest : public PathFileSystemTest {
 protected:
  void SetUp() override {
    PathFileSystemTest::SetUp();
    struct stat here, shm;
    if (stat("/dev/shm", &shm) != 0 || !S_ISDIR(shm.st_mode) || stat(".", &here) != 0 ||
        here.st_dev == shm.st_dev) {
      GTEST_SKIP() << "/dev/shm is not a second file system here";
    }
    ScopedEnv tmpdir("TMPDIR", std::string("/dev/shm"));
    other_ = makeTempDir("rename");
  }
  void TearDown() override {
    if (!other_.empty()) removeTree(other_);
    PathFileSystemTest::TearDown();
  }

  std::string other_;
};

TEST_F(CrossDeviceRenameTest, CopiesAndRemovesTheSource) {
  std::string content = pattern(9000);
  writeFile("source", content, 0640);
  Path("source").setModificationTime(1111111111);
  writeFile(other_ + "/target", "old");
  Path("source").rename(pathOf(other_ + "/target"));
  EXPECT_FALSE(exists("source"));
  EXPECT_EQ(content, readFile(other_ + "/target"));
  EXPECT_EQ(0640u, modeOf(other_ + "/target"));
  struct stat status;
  ASSERT_EQ(0, stat((other_ + "/target").c_str(), &status));
  EXPECT_EQ(1111111111, status.st_mtime);
}

TEST_F(CrossDeviceRenameTest, DirectoryIsNotMovedAndTheDestinationIsKept) {
  ASSERT_EQ(0, mkdir("dir", 0755));
  writeFile("dir/x", "x");
  writeFile(other_ + "/target", "old");
  std::string expected =
      "Exception: dir: cannot rename to " + other_ + "/target: Invalid cross-device link";
  EXPECT_THROW_TEXT(Path("dir").rename(pathOf(other_ + "/target")), Exception, expected);
  EXPECT_EQ("old", readFile(other_ + "/target"));
  EXPECT_EQ("x", readFile("dir/x"));
}

TEST_F(CrossDeviceRenameTest, FailingCopyKeepsTheSource) {
  writeFile("source", "data", 0000);
  int status = inChild([&] {
    // Unreadable for anyone but root: copying fails as "nobody".
    ASSERT_EQ(0, chmod(dir_.c_str(), 0777));
    ASSERT_EQ(0, chmod(other_.c_str(), 0777));
    becomeNobody();
    EXPECT_THROW_TEXT(Path("source").rename(pathOf(other_ + "/target")), Exception,
                      "File open error: source: Permission denied");
  });
  if (status == kSkipStatus) GTEST_SKIP() << "needs root, to act as another user";
  EXPECT_EQ(0, status);
  EXPECT_EQ("data", readFile("source"));
  EXPECT_FALSE(exists(other_ + "/target"));
}

TEST_F(PathFileSystemTest, DiskUsageCountsWholeUnitsPerEntryAndSkipsLinks) {
  writeFile("empty", "");
  writeFile("one", "x");
  writeFile("exact", std::string(1024, 'x'));
  writeFile("more", std::string(1025, 'x'));
  EXPECT_EQ(0u, Path("empty").getDiskUsage());
  EXPECT_EQ(1u, Path("one").getDiskUsage());
  EXPECT_EQ(1u, Path("exact").getDiskUsage());
  EXPECT_EQ(2u, Path("more").getDiskUsage());
  EXPECT_EQ(0u, Path("missing").getDiskUsage());

  ASSERT_EQ(0, mkdir("tree", 0755));
  ASSERT_EQ(0, mkdir("tree/sub", 0755));
  writeFile("tree/a", std::string(3000, 'a'));    // 3 units
  writeFile("tree/sub/b", std::string(10, 'b'));  // 1 unit
  ASSERT_EQ(0, symlink("..", "tree/sub/up"));     // would loop if followed
  ASSERT_EQ(0, symlink("a", "tree/alias"));
  ASSERT_EQ(0, mkfifo("tree/fifo", 0644));
  struct stat tree, sub;
  ASSERT_EQ(0, stat("tree", &tree));
  ASSERT_EQ(0, stat("tree/sub", &sub));
  uint64_t directories = (tree.st_size + 1023) / 1024 + (sub.st_size + 1023) / 1024;
  EXPECT_EQ(directories + 4, Path("tree/").getDiskUsage());
  EXPECT_EQ(directories + 4, Path("tree").getDiskUsage());
  ASSERT_EQ(0, symlink("tree", "treelink"));
  EXPECT_EQ(directories + 4, Path("treelink/").getDiskUsage()) << "the path itself is followed";
}

TEST_F(PathFileSystemTest, FileSystemTypeByName) {
  EXPECT_EQ("", str(Path("missing").getFileSystemType()));
  if (!Path("/proc/self").isDirectory()) GTEST_SKIP() << "no /proc here";
  EXPECT_EQ("proc", str(Path("/proc/self").getFileSystemType()));
}

}  // namespace
