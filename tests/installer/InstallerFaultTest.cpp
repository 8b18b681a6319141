// The installer against a failing or hostile file system, run as the real
// program beside an install.data made by installdata: a disk that fills up
// halfway, a read-only file system, an unreadable install.data, a prefix
// below a file, links where the installation expects directories or files.
// Every failure must end with exactly one line naming it, "Install failed"
// and status 1, never with the success line, and must leave everything
// outside the installation directory as it was.
//
// The file-system cases mount a small tmpfs, which needs root (CI runs as
// root); elsewhere they are skipped.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "tests/support/TestSupport.h"

namespace {

using testsupport::readFile;
using testsupport::RunOptions;
using testsupport::RunResult;
using testsupport::writeFile;

const char kSuccess[] = "Installed all files successfully\n";
const char kFailed[] = "Install failed\n";
// Larger than the tmpfs of the disk-full case, so that the disk fills up
// while this file is written, after bin/ is complete.
const size_t kBigFileSize = 200000;
// The account that cannot read a file of mode 0 (root can).
const char kNobody[] = "65534";

class InstallerFaultTest : public testsupport::TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    // The product: bin/ first in the archive, then lib/ with the big file.
    ASSERT_EQ(0, mkdir("product", 0755));
    ASSERT_EQ(0, mkdir("product/bin", 0755));
    ASSERT_EQ(0, mkdir("product/lib", 0755));
    writeFile("product/bin/vntc", "#!/bin/sh\necho vntc\n", 0755);
    writeFile("product/bin/vnt01", "#!/bin/sh\n", 0755);
    writeFile("product/lib/big", bigContent(), 0644);
    ASSERT_EQ(0, mkdir("kit", 0755));
    RunResult packed =
        testsupport::run({testsupport::installdataProgram(), "create", "-o",
                          dir_ + "/kit/install.data", "-C", dir_ + "/product", "bin", "lib"});
    ASSERT_EQ(0, packed.status) << packed.err;
    ASSERT_EQ(0, symlink(testsupport::installProgram().c_str(), "kit/install"));
    // The world outside, and a search path without compilers.
    ASSERT_EQ(0, mkdir("outside", 0755));
    writeFile("outside/victim", "precious");
    ASSERT_EQ(0, mkdir("emptypath", 0755));
  }

  void TearDown() override {
    if (mounted_) umount2((dir_ + "/mnt").c_str(), MNT_DETACH);
    TempDirTest::TearDown();
  }

  // Bytes that do not repeat in short cycles, so the file is as big on disk
  // as it says.
  static std::string bigContent() {
    std::string content(kBigFileSize, '\0');
    uint32_t state = 1;
    for (char& byte : content) {
      state = state * 1103515245u + 12345u;
      byte = static_cast<char>(state >> 24);
    }
    return content;
  }

  // Mounts a tmpfs with `options` on "mnt"; false (with the reason in
  // skipReason_) where that is not possible.
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

  // Runs the installer (after the words of `before`) with a PATH of one
  // directory below the private one.
  RunResult install(const std::string& prefix, std::vector<std::string> before = {},
                    const std::string& path = "emptypath") {
    before.push_back(dir_ + "/kit/install");
    before.push_back("--prefix");
    before.push_back(prefix);
    RunOptions options;
    options.env["PATH"] = dir_ + "/" + path;
    return testsupport::run(before, options);
  }

  // One line naming the failure, then "Install failed", status 1, and no
  // success line.
  static void expectFailure(const RunResult& result, const std::string& line) {
    EXPECT_EQ(line + "\n" + kFailed, result.err);
    EXPECT_EQ(1, result.status);
    EXPECT_EQ(std::string::npos, result.out.find(kSuccess)) << result.out;
  }

  void expectOutsideUntouched() {
    EXPECT_EQ("precious", readFile(dir_ + "/outside/victim"));
    struct stat status;
    ASSERT_EQ(0, lstat((dir_ + "/outside/victim").c_str(), &status));
    EXPECT_TRUE(S_ISREG(status.st_mode));
    EXPECT_EQ(1u, status.st_nlink);
    EXPECT_EQ(0644u, status.st_mode & 07777);
    EXPECT_EQ(std::vector<std::string>{"victim"}, listing(dir_ + "/outside"));
  }

  static std::vector<std::string> listing(const std::string& path) {
    std::vector<std::string> names;
    RunResult ls = testsupport::run({"/bin/ls", "-A", path});
    size_t start = 0;
    for (size_t end; (end = ls.out.find('\n', start)) != std::string::npos; start = end + 1) {
      names.push_back(ls.out.substr(start, end - start));
    }
    return names;
  }

  bool mounted_ = false;
  std::string skipReason_;
};

TEST_F(InstallerFaultTest, DiskFullHalfwayFailsWithTheWriteError) {
  if (!mountTmpfs("size=64k")) GTEST_SKIP() << skipReason_;
  RunResult result = install(dir_ + "/mnt");
  expectFailure(result, "File write error: lib/big: No space left on device");
  EXPECT_EQ("#!/bin/sh\necho vntc\n", readFile(dir_ + "/mnt/bin/vntc")) << "bin/ came first";
  expectOutsideUntouched();
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
  RunResult result = install(dir_ + "/mnt", {}, "compilers");
  expectFailure(result,
                "Exception: bin/gcc: create symbolic link failure: No space left on device");
  EXPECT_EQ((std::vector<std::string>{"Validation", "codesign_allocate", "libtool", "strip",
                                      "vnt01", "vntc"}),
            listing(dir_ + "/mnt/bin"));
  EXPECT_EQ(bigContent(), readFile(dir_ + "/mnt/lib/big"));
  expectOutsideUntouched();
}

TEST_F(InstallerFaultTest, ReadOnlyFileSystemFailsAndKeepsTheEarlierInstallation) {
  if (!mountTmpfs("size=1m")) GTEST_SKIP() << skipReason_;
  std::string mnt = dir_ + "/mnt";
  ASSERT_EQ(0, install(mnt).status);
  ASSERT_EQ(0, mount("tmpfs", mnt.c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY, "size=1m"));
  RunResult result = install(mnt);
  expectFailure(result, "Exception: bin/vntc: remove file failure: Read-only file system");
  EXPECT_EQ(bigContent(), readFile(mnt + "/lib/big"));
  expectFailure(install(mnt + "/new"),
                "Exception: " + mnt + "/new/: make directory failure: Read-only file system");
  expectOutsideUntouched();
}

TEST_F(InstallerFaultTest, InstallDataThatIsADirectoryFailsToRead) {
  ASSERT_EQ(0, rename("kit/install.data", "install.data.saved"));
  ASSERT_EQ(0, mkdir("kit/install.data", 0755));
  expectFailure(install(dir_ + "/inst"),
                "File read error: " + dir_ + "/kit/install.data: Is a directory");
  EXPECT_EQ(std::vector<std::string>{}, listing(dir_ + "/inst"));
  expectOutsideUntouched();
}

// Root reads a file of mode 0 all the same: as root, the installer runs as
// nobody here.
TEST_F(InstallerFaultTest, InstallDataWithoutReadPermissionFailsToOpen) {
  std::vector<std::string> asNobody;
  if (geteuid() == 0) {
    if (access("/usr/bin/setpriv", X_OK) != 0) GTEST_SKIP() << "needs setpriv to drop root";
    asNobody = {"/usr/bin/setpriv", std::string("--reuid=") + kNobody,
                std::string("--regid=") + kNobody, "--clear-groups"};
    ASSERT_EQ(0, chmod(dir_.c_str(), 0755));
    std::vector<std::string> help = asNobody;
    help.push_back(dir_ + "/kit/install");
    help.push_back("--help");
    if (testsupport::run(help).out.find("Usage: install") == std::string::npos) {
      GTEST_SKIP() << "nobody cannot run the installer here (a directory on its way is private)";
    }
    ASSERT_EQ(0, mkdir("home", 0755));
    ASSERT_EQ(0, chmod("home", 0777));
  } else {
    ASSERT_EQ(0, mkdir("home", 0755));
  }
  ASSERT_EQ(0, chmod("kit/install.data", 0));
  expectFailure(install(dir_ + "/home/inst", asNobody),
                "File open error: " + dir_ + "/kit/install.data: Permission denied");
  EXPECT_EQ(std::vector<std::string>{}, listing(dir_ + "/home/inst"));
  expectOutsideUntouched();
}

TEST_F(InstallerFaultTest, PrefixBelowAFileFails) {
  writeFile("afile", "a file, not a directory");
  expectFailure(install(dir_ + "/afile/inst"),
                "Exception: " + dir_ + "/afile/inst/: make directory failure: File exists");
  EXPECT_EQ("a file, not a directory", readFile("afile"));
  expectOutsideUntouched();
}

// A bin that leads outside is never written through, whether the directory
// it reaches is empty or looks like an earlier installation.
TEST_F(InstallerFaultTest, BinThatIsASymbolicLinkIsRefused) {
  ASSERT_EQ(0, mkdir("elsewhere", 0755));
  ASSERT_EQ(0, mkdir("earlier", 0755));
  writeFile("earlier/vnt01", "#!/bin/sh\n", 0755);
  for (const char* target : {"elsewhere", "earlier"}) {
    std::string prefix = dir_ + "/inst-" + target;
    ASSERT_EQ(0, mkdir(prefix.c_str(), 0755));
    ASSERT_EQ(0, symlink((dir_ + "/" + target).c_str(), (prefix + "/bin").c_str()));
    expectFailure(install(prefix), "Exception: Archive: symbolic link in the way: bin");
  }
  EXPECT_EQ(std::vector<std::string>{}, listing(dir_ + "/elsewhere"));
  EXPECT_EQ(std::vector<std::string>{"vnt01"}, listing(dir_ + "/earlier"));
  EXPECT_EQ("#!/bin/sh\n", readFile(dir_ + "/earlier/vnt01"));
  expectOutsideUntouched();
}

// An earlier installation holds a link to a file outside where the archive
// has a regular file: the link itself is replaced, the file it pointed to
// stays as it was.
TEST_F(InstallerFaultTest, LinkToAFileOutsideIsReplacedNotWrittenThrough) {
  std::string prefix = dir_ + "/inst";
  ASSERT_EQ(0, mkdir(prefix.c_str(), 0755));
  ASSERT_EQ(0, mkdir((prefix + "/lib").c_str(), 0755));
  ASSERT_EQ(0, symlink((dir_ + "/outside/victim").c_str(), (prefix + "/lib/big").c_str()));
  RunResult result = install(prefix);
  EXPECT_EQ("", result.err);
  EXPECT_EQ(0, result.status);
  ASSERT_GE(result.out.size(), sizeof kSuccess - 1);
  EXPECT_EQ(kSuccess, result.out.substr(result.out.size() - (sizeof kSuccess - 1)));
  struct stat status;
  ASSERT_EQ(0, lstat((prefix + "/lib/big").c_str(), &status));
  EXPECT_TRUE(S_ISREG(status.st_mode));
  EXPECT_EQ(bigContent(), readFile(prefix + "/lib/big"));
  expectOutsideUntouched();
}

}  // namespace
