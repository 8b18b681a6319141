// The installer against a failing or hostile file system, run as the real
// program beside an install.data made by installdata: a disk that fills up
// halfway, one without room for the interceptor links, a read-only file
// system, an install.data it may not read, a prefix below a file, links
// where the installation expects a directory or a file. Every failure must
// end with exactly one line naming it, "Install failed" and status 1, never
// with the success line, and must leave everything outside the installation
// directory as it was.
//
// The file-system cases mount a small tmpfs, which needs root (CI runs the
// tests as root); elsewhere they are skipped.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "tests/archive/ArchiveTestSupport.h"
#include "tests/installer/InstallTestSupport.h"
#include "tests/support/TestSupport.h"
#include "tests/support/TreeSnapshot.h"

namespace {

using installtest::failure;
using installtest::kSuccess;
using installtest::noise;
using testsupport::readFile;
using testsupport::RunResult;
using testsupport::snapshotOf;
using testsupport::TreeSnapshot;
using testsupport::writeFile;

// Larger than the tmpfs of the disk-full case, so that the disk fills up
// while this file is written, after bin/ is complete.
const size_t kBigFileSize = 200000;
// The account that cannot read a file of mode 0 (root can).
const char kNobody[] = "65534";

class InstallerFaultTest : public installtest::InstallTest {
 protected:
  void SetUp() override {
    InstallTest::SetUp();
    // A product whose sizes the cases count on: bin/ first in the archive,
    // then lib/ with one big file.
    for (const char* d : {"product", "product/bin", "product/lib"}) {
      ASSERT_EQ(0, mkdir(d, 0755)) << d;
    }
    writeFile("product/bin/vntc", "#!/bin/sh\necho vntc\n", 0755);
    writeFile("product/bin/vnt01", "#!/bin/sh\n", 0755);
    writeFile("product/lib/big", noise(kBigFileSize), 0644);
    ASSERT_NO_FATAL_FAILURE(pack({"bin", "lib"}));
    // The world outside.
    ASSERT_EQ(0, mkdir("outside", 0755));
    writeFile("outside/victim", "precious");
    outside_ = snapshotOf(dir_ + "/outside");
  }

  void TearDown() override {
    if (mounted_) umount2((dir_ + "/mnt").c_str(), MNT_DETACH);
    InstallTest::TearDown();
  }

  // Mounts a tmpfs with `options` on "mnt"; false, with the reason in
  // skipReason_, where that is not possible.
  bool mountTmpfs(const std::string& options) {
    if (geteuid() != 0) {
      skipReason_ = "mounting a tmpfs needs root (CI runs the tests as root)";
      return false;
    }
    std::string target = dir_ + "/mnt";
    if (mkdir(target.c_str(), 0755) != 0 ||
        mount("tmpfs", target.c_str(), "tmpfs", 0, options.c_str()) != 0) {
      skipReason_ = "cannot mount a tmpfs here: " + std::string(strerror(errno));
      return false;
    }
    mounted_ = true;
    return true;
  }

  // One line naming the failure, then "Install failed", status 1, no
  // success line, and the outside as it was.
  void expectFailure(const RunResult& result, const std::string& line) {
    EXPECT_EQ(failure(line), result.err);
    EXPECT_EQ(1, result.status);
    EXPECT_EQ(std::string::npos, result.out.find(kSuccess)) << result.out;
    expectOutsideUntouched();
  }

  void expectOutsideUntouched() {
    TreeSnapshot now = snapshotOf(dir_ + "/outside");
    EXPECT_EQ(outside_.entries, now.entries);
    EXPECT_EQ(outside_.linkGroups, now.linkGroups);
  }

  static std::vector<std::string> listing(const std::string& path) {
    std::vector<std::string> names;
    for (const auto& [name, description] : snapshotOf(path).entries) {
      if (!name.empty() && name.find('/') == std::string::npos) names.push_back(name);
    }
    return names;
  }

  // The command words that run a program as nobody (root runs the tests),
  // for whom the private directory is opened; false, with the reason in
  // skipReason_, where no other user can be had.
  bool asNobody(std::vector<std::string>* argv) {
    if (geteuid() != 0) {
      skipReason_ = "needs root, to run the installer as another user";
      return false;
    }
    if (access("/usr/bin/setpriv", X_OK) != 0) {
      skipReason_ = "needs setpriv to drop root";
      return false;
    }
    *argv = {"/usr/bin/setpriv", std::string("--reuid=") + kNobody,
             std::string("--regid=") + kNobody, "--clear-groups"};
    if (chmod(dir_.c_str(), 0755) != 0) return false;
    std::vector<std::string> help = *argv;
    help.push_back(kit_ + "/install");
    help.push_back("--help");
    if (testsupport::run(help).out.find("Usage: install") == std::string::npos) {
      skipReason_ = "nobody cannot run the installer here (a directory on its way is private)";
      return false;
    }
    return true;
  }

  bool mounted_ = false;
  std::string skipReason_;
  TreeSnapshot outside_;
};

TEST_F(InstallerFaultTest, DiskFullHalfwayFailsWithTheWriteError) {
  if (!mountTmpfs("size=64k")) GTEST_SKIP() << skipReason_;
  expectFailure(install({"--prefix", dir_ + "/mnt"}),
                "File write error: lib/big: No space left on device");
  EXPECT_EQ(readFile("product/bin/vntc"), readFile(dir_ + "/mnt/bin/vntc")) << "bin/ came first";
}

// The files fit, the interceptor links do not: without them the product
// does not work, so this is no success either, also for a compiler found
// along PATH, where other trouble only skips that directory.
TEST_F(InstallerFaultTest, NoRoomForTheInterceptorsFails) {
  // The root, bin, its two files, lib and its file take six inodes; the
  // four build tools' links four more.
  if (!mountTmpfs("size=1m,nr_inodes=10")) GTEST_SKIP() << skipReason_;
  ASSERT_EQ(0, mkdir("compilers", 0755));
  writeFile("compilers/gcc", "#!/bin/sh\n", 0755);
  testsupport::RunOptions options;
  options.env["PATH"] = dir_ + "/compilers";
  expectFailure(install({"--prefix", dir_ + "/mnt"}, options),
                "Exception: bin/gcc: create symbolic link failure: No space left on device");
  EXPECT_EQ((std::vector<std::string>{"Validation", "codesign_allocate", "libtool", "strip",
                                      "vnt01", "vntc"}),
            listing(dir_ + "/mnt/bin"));
  EXPECT_EQ(readFile("product/lib/big"), readFile(dir_ + "/mnt/lib/big"));
}

TEST_F(InstallerFaultTest, ReadOnlyFileSystemFailsAndKeepsTheEarlierInstallation) {
  if (!mountTmpfs("size=1m")) GTEST_SKIP() << skipReason_;
  std::string mnt = dir_ + "/mnt";
  ASSERT_EQ(0, install({"--prefix", mnt}).status);
  ASSERT_EQ(0, mount("tmpfs", mnt.c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY, "size=1m"));
  expectFailure(install({"--prefix", mnt}),
                "Exception: bin/vntc: remove file failure: Read-only file system");
  EXPECT_EQ(readFile("product/lib/big"), readFile(mnt + "/lib/big"));
  expectFailure(install({"--prefix", mnt + "/new"}),
                "Exception: " + mnt + "/new/: make directory failure: Read-only file system");
}

// Root reads a file of mode 0 all the same: as root, the installer runs as
// nobody here.
TEST_F(InstallerFaultTest, InstallDataWithoutReadPermissionFailsToOpen) {
  std::vector<std::string> argv;
  if (geteuid() == 0 && !asNobody(&argv)) GTEST_SKIP() << skipReason_;
  ASSERT_EQ(0, mkdir("home", 0755));
  ASSERT_EQ(0, chmod("home", 0777));
  ASSERT_EQ(0, chmod((kit_ + "/install.data").c_str(), 0));
  argv.push_back(kit_ + "/install");
  argv.push_back("--prefix=" + dir_ + "/home/inst");
  testsupport::RunOptions options;
  options.env["PATH"] = emptyPath_;
  expectFailure(testsupport::run(argv, options),
                "File open error: " + kit_ + "/install.data: Permission denied");
  EXPECT_EQ(std::vector<std::string>{}, listing(dir_ + "/home/inst"));
}

TEST_F(InstallerFaultTest, PrefixBelowAFileFails) {
  writeFile("afile", "a file, not a directory");
  expectFailure(install({"--prefix", dir_ + "/afile/inst"}),
                "Exception: " + dir_ + "/afile/inst/: make directory failure: File exists");
  EXPECT_EQ("a file, not a directory", readFile("afile"));
}

// A bin that leads outside is never written through, whether the directory
// it reaches is empty or looks like an earlier installation.
TEST_F(InstallerFaultTest, BinThatIsASymbolicLinkIsRefused) {
  writeFile("outside/vnt01", "#!/bin/sh\n", 0755);
  ASSERT_EQ(0, mkdir("outside/empty", 0755));
  outside_ = snapshotOf(dir_ + "/outside");
  const struct {
    const char* prefix;
    const char* target;
  } cases[] = {{"/to-empty", "/outside/empty"}, {"/to-earlier", "/outside"}};
  for (const auto& c : cases) {
    std::string prefix = dir_ + c.prefix;
    ASSERT_EQ(0, mkdir(prefix.c_str(), 0755));
    ASSERT_EQ(0, symlink((dir_ + c.target).c_str(), (prefix + "/bin").c_str()));
    expectFailure(install({"--prefix", prefix}),
                  "Exception: Archive: symbolic link in the way: bin");
  }
}

// An earlier installation holds a link to a file outside where the archive
// has a regular file: the link itself is replaced, the file it pointed to
// stays as it was.
TEST_F(InstallerFaultTest, LinkToAFileOutsideIsReplacedNotWrittenThrough) {
  ASSERT_EQ(0, mkdir(prefix_.c_str(), 0755));
  ASSERT_EQ(0, mkdir((prefix_ + "/lib").c_str(), 0755));
  ASSERT_EQ(0, symlink((dir_ + "/outside/victim").c_str(), (prefix_ + "/lib/big").c_str()));
  RunResult result = install({"--prefix", prefix_});
  EXPECT_EQ("", result.err);
  EXPECT_EQ(0, result.status);
  ASSERT_GE(result.out.size(), kSuccess.size());
  EXPECT_EQ(kSuccess, result.out.substr(result.out.size() - kSuccess.size()));
  struct stat status;
  ASSERT_EQ(0, lstat((prefix_ + "/lib/big").c_str(), &status));
  EXPECT_TRUE(S_ISREG(status.st_mode));
  EXPECT_EQ(readFile("product/lib/big"), readFile(prefix_ + "/lib/big"));
  expectOutsideUntouched();
}

// An upgrade over an installation that holds a link to a directory outside
// (lib/jre, say): the archive makes a directory, replaces it by a hard link
// to that link, then writes below the name. Nothing is written through it,
// as root or as another user to whom the outside belongs.
TEST_F(InstallerFaultTest, HardLinkToALinkOutsideGetsNothingWrittenThrough) {
  ASSERT_NO_FATAL_FAILURE(writeInstallData(
      testsupport::buildArchive({{Archive::kDirectory, "lib/", "", 040755},
                                 {Archive::kDirectory, "lib/j/", "", 040755},
                                 {Archive::kHardLink, "lib/j", "lib/jre"},
                                 {Archive::kFile, "lib/j/victim", "evil", 0644},
                                 {Archive::kDirectory, "lib/j/new/", "", 040755}})));
  // The installation directory of `user` ("root" or "nobody"), holding
  // the link, and the run of the installer by `command` into it.
  auto attack = [&](const std::string& user, const std::vector<std::string>& command) {
    SCOPED_TRACE("as " + user);
    std::string prefix = dir_ + "/as-" + user;
    ASSERT_EQ(0, mkdir(prefix.c_str(), 0755));
    ASSERT_EQ(0, mkdir((prefix + "/lib").c_str(), 0755));
    ASSERT_EQ(0, symlink((dir_ + "/outside").c_str(), (prefix + "/lib/jre").c_str()));
    if (!command.empty()) {
      testsupport::chownTree(prefix, testsupport::kNobody);
      testsupport::chownTree(dir_ + "/outside", testsupport::kNobody);
    }
    std::vector<std::string> argv = command;
    argv.insert(argv.end(), {kit_ + "/install", "--prefix", prefix});
    testsupport::RunOptions options;
    options.env["PATH"] = emptyPath_;
    expectFailure(testsupport::run(argv, options),
                  "Exception: Archive: symbolic link in the way: lib/j");
  };
  attack("root", {});
  std::vector<std::string> nobody;
  if (!asNobody(&nobody)) GTEST_SKIP() << "as root only: " << skipReason_;
  attack("nobody", nobody);
  testsupport::chownTree(dir_ + "/outside", 0);
}

// Vendor trees often hold read-only directories (0555) and files (0444).
// Another user than root installs one, the interceptors in its read-only
// bin included, and the installed tree has the archive's modes.
TEST_F(InstallerFaultTest, ReadOnlyProductInstallsAsAnotherUserWithItsModes) {
  std::vector<std::string> argv;
  if (!asNobody(&argv)) GTEST_SKIP() << skipReason_;
  for (const char* d : {"ro", "ro/bin", "ro/lib", "ro/share", "ro/share/doc"}) {
    ASSERT_EQ(0, mkdir(d, 0755)) << d;
  }
  writeFile("ro/bin/vntc", "#!/bin/sh\necho vntc\n", 0555);
  writeFile("ro/bin/vnt01", "#!/bin/sh\n", 0555);
  writeFile("ro/lib/libvnt.a", "archive", 0444);
  writeFile("ro/share/doc/README", "Read me.\n", 0444);
  for (const char* d : {"ro/share/doc", "ro/share", "ro/lib", "ro/bin"}) {
    ASSERT_EQ(0, chmod(d, 0555)) << d;
  }
  testsupport::RunResult packed =
      testsupport::run({testsupport::installdataProgram(), "create", "-o", kit_ + "/install.data",
                        "-C", dir_ + "/ro", "bin", "lib", "share"});
  ASSERT_EQ(0, packed.status) << packed.err;
  ASSERT_EQ(0, mkdir("home", 0755));
  ASSERT_EQ(0, chown("home", testsupport::kNobody, testsupport::kNobody));
  argv.insert(argv.end(), {kit_ + "/install", "--prefix=" + dir_ + "/home/inst"});
  testsupport::RunOptions options;
  options.env["PATH"] = emptyPath_;
  RunResult result = testsupport::run(argv, options);
  EXPECT_EQ("", result.err);
  EXPECT_EQ(0, result.status);
  TreeSnapshot installed = snapshotOf(dir_ + "/home/inst");
  for (const std::string& tool : installtest::kTools) {
    EXPECT_EQ("link vntc", installed.entries["bin/" + tool]) << tool;
  }
  for (auto entry = installed.entries.begin(); entry != installed.entries.end();) {
    bool interceptor = entry->first.compare(0, 4, "bin/") == 0 && entry->second == "link vntc";
    entry = interceptor ? installed.entries.erase(entry) : std::next(entry);
  }
  TreeSnapshot product = snapshotOf(dir_ + "/ro");
  EXPECT_EQ(product.entries, installed.entries);
}

}  // namespace
