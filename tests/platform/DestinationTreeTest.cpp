// DestinationTree in a private directory: "tree/" is the tree, "outside/"
// beside it the world that no operation may reach. Every test runs with
// both resolutions: openat2 for whole names, and the portable component
// walk.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "lang/Exception.h"
#include "platform/DestinationTree.h"
#include "tests/support/TestSupport.h"
#include "tests/support/TreeSnapshot.h"

namespace {

using testsupport::exists;
using testsupport::linkText;
using testsupport::modeOf;
using testsupport::openDescriptorCount;
using testsupport::readFile;
using testsupport::snapshotOf;
using testsupport::TreeSnapshot;
using testsupport::writeFile;

Path pathOf(const std::string& text) {
  return Path(text.data(), static_cast<uint32_t>(text.size()));
}

const char* resolutionName(DestinationTree::Resolution resolution) {
  return resolution == DestinationTree::kWholeName ? "WholeName" : "ComponentWalk";
}

class DestinationTreeTest : public testsupport::TempDirTest,
                            public ::testing::WithParamInterface<DestinationTree::Resolution> {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    umask(0);
    ASSERT_EQ(0, mkdir("outside", 0755));
    ASSERT_EQ(0, mkdir("outside/dir", 0755));
    writeFile("outside/victim", "precious");
    writeFile("outside/dir/inner", "also precious");
    ASSERT_EQ(0, symlink("victim", "outside/link"));
    outside_ = snapshotOf(dir_ + "/outside");
    ASSERT_EQ(0, mkdir("tree", 0755));
    ASSERT_EQ(0, chdir("tree"));
  }

  DestinationTree open() { return DestinationTree(pathOf(dir_ + "/tree"), GetParam()); }

  void expectOutsideUntouched() {
    TreeSnapshot now = snapshotOf(dir_ + "/outside");
    EXPECT_EQ(outside_.entries, now.entries);
    EXPECT_EQ(outside_.linkGroups, now.linkGroups);
  }

  std::string outside(const std::string& name = "") const {
    return dir_ + "/outside" + (name.empty() ? "" : "/" + name);
  }

  TreeSnapshot outside_;
};

TEST_P(DestinationTreeTest, MakesEveryKindOfEntryBelowItsDirectory) {
  DestinationTree tree = open();
  tree.makeDirectory("a", 0755);
  tree.makeDirectory("./a//b/", 0750);
  {
    RandomAccessFile file = tree.createFile("a/b/f");
    file.writeFully("content", 7);
    file.close();
  }
  ASSERT_EQ(0, chmod("a/b/f", 0640));
  struct timespec times[2] = {{1000000000, 0}, {1000000000, 0}};
  ASSERT_EQ(0, utimensat(AT_FDCWD, "a/b/f", times, 0));
  EXPECT_TRUE(tree.makeHardLink("a/b/f", "a/h"));
  EXPECT_TRUE(tree.makeSymbolicLink("b/f", "a/s"));
  EXPECT_TRUE(tree.copyFile("a/b/f", "c"));
  EXPECT_EQ(0750u, modeOf("a/b"));
  EXPECT_EQ("content", readFile("a/h"));
  EXPECT_EQ("b/f", linkText("a/s"));
  EXPECT_EQ("content", readFile("c"));
  EXPECT_EQ(0640u, modeOf("c"));
  struct stat status;
  ASSERT_EQ(0, stat("c", &status));
  EXPECT_EQ(1000000000, status.st_mtime);
  ASSERT_TRUE(tree.getStatus("a/s", status));
  EXPECT_TRUE(S_ISLNK(status.st_mode));
  ASSERT_TRUE(tree.getStatus("a/s", status, DestinationTree::kFollowLast));
  EXPECT_TRUE(S_ISREG(status.st_mode)) << "what the link at the name reaches";
  EXPECT_FALSE(tree.getStatus("a/missing", status));
  EXPECT_FALSE(tree.getStatus("missing/x", status));
  ASSERT_TRUE(tree.getStatus(".", status));
  EXPECT_TRUE(S_ISDIR(status.st_mode));
  DirectoryReader reader = tree.list("a");
  std::vector<std::string> names;
  String name;
  while (reader.next(name)) names.push_back(testsupport::str(name));
  std::sort(names.begin(), names.end());
  EXPECT_EQ((std::vector<std::string>{"b", "h", "s"}), names);
  expectOutsideUntouched();
}

// Every operation refuses a symbolic link on the way to its name, one that
// leads outside or one inside, and names the name up to the link.
TEST_P(DestinationTreeTest, LinkOnTheWayIsNeverFollowed) {
  ASSERT_EQ(0, symlink(outside().c_str(), "out"));
  ASSERT_EQ(0, mkdir("d", 0755));
  ASSERT_EQ(0, symlink("d", "d/in"));
  writeFile("f", "inside");
  DestinationTree tree = open();
  struct stat status;
  const struct {
    const char* what;
    std::function<void(DestinationTree&, const std::string&)> operation;
  } operations[] = {
      {"makeDirectory",
       [](DestinationTree& t, const std::string& n) { t.makeDirectory(pathOf(n + "/new"), 0755); }},
      {"remove", [](DestinationTree& t, const std::string& n) { t.remove(pathOf(n + "/victim")); }},
      {"removeTree",
       [](DestinationTree& t, const std::string& n) { t.remove(pathOf(n + "/dir")); }},
      {"createFile",
       [](DestinationTree& t, const std::string& n) { t.createFile(pathOf(n + "/victim")); }},
      {"makeHardLinkTarget",
       [](DestinationTree& t, const std::string& n) {
         t.makeHardLink(pathOf(n + "/victim"), "h");
       }},
      {"makeHardLinkName",
       [](DestinationTree& t, const std::string& n) { t.makeHardLink("f", pathOf(n + "/h")); }},
      {"makeSymbolicLink",
       [](DestinationTree& t, const std::string& n) { t.makeSymbolicLink("f", pathOf(n + "/s")); }},
      {"copyFileSource",
       [](DestinationTree& t, const std::string& n) { t.copyFile(pathOf(n + "/victim"), "c"); }},
      {"copyFileDestination",
       [](DestinationTree& t, const std::string& n) { t.copyFile("f", pathOf(n + "/c")); }},
      {"getStatus",
       [&](DestinationTree& t, const std::string& n) {
         t.getStatus(pathOf(n + "/victim"), status, DestinationTree::kFollowLast);
       }},
      {"list", [](DestinationTree& t, const std::string& n) { t.list(pathOf(n)); }},
      {"openFile",
       [](DestinationTree& t, const std::string& n) { t.openFile(pathOf(n + "/victim")); }},
  };
  for (const auto& o : operations) {
    for (const std::string link : {"out", "./out", "d/in", "d//in"}) {
      SCOPED_TRACE(std::string(o.what) + " below " + link);
      EXPECT_THROW_TEXT(o.operation(tree, link), DestinationTree::LinkInTheWay,
                        "Exception: Archive: symbolic link in the way: " + link);
    }
  }
  // A link where a directory is to be made is in the way itself.
  EXPECT_THROW_TEXT(tree.makeDirectory("out", 0755), DestinationTree::LinkInTheWay,
                    "Exception: Archive: symbolic link in the way: out");
  EXPECT_FALSE(exists("h") || exists("c"));
  expectOutsideUntouched();
}

// A directory the tree has open stays the directory that was checked: one
// that the tree replaces by a link is not reached through its old
// descriptor, and one that someone else swaps for a link keeps receiving
// what is written below its name.
TEST_P(DestinationTreeTest, CachedDirectoriesFollowNoReplacement) {
  DestinationTree tree = open();
  tree.makeDirectory("d", 0755);
  tree.makeDirectory("e", 0755);
  tree.createFile("d/x").close();
  tree.createFile("e/x").close();
  tree.remove("d");
  ASSERT_TRUE(tree.makeSymbolicLink(pathOf(outside()), "d"));
  EXPECT_THROW_TEXT(tree.createFile("d/victim"), DestinationTree::LinkInTheWay,
                    "Exception: Archive: symbolic link in the way: d");
  ASSERT_EQ(0, rename("e", "moved"));
  ASSERT_EQ(0, symlink(outside().c_str(), "e"));
  tree.createFile("e/y").close();
  EXPECT_TRUE(exists("moved/y")) << "written where the checked directory went";
  expectOutsideUntouched();
}

TEST_P(DestinationTreeTest, NewFileIsCreatedExclusively) {
  writeFile("file", "old");
  ASSERT_EQ(0, symlink((dir_ + "/outside/victim").c_str(), "link"));
  ASSERT_EQ(0, symlink("nowhere", "dangling"));
  DestinationTree tree = open();
  for (const char* name : {"file", "link", "dangling"}) {
    EXPECT_THROW_TEXT(tree.createFile(name), RandomAccessFile::Exception,
                      std::string("File create error: ") + name + ": File exists");
  }
  EXPECT_EQ("old", readFile("file"));
  EXPECT_FALSE(exists(dir_ + "/tree/nowhere"));
  expectOutsideUntouched();
}

// A tree is taken apart through descriptors: links in it are removed, not
// followed, whatever they lead to, and directories without the owner's
// rights are opened up first.
TEST_P(DestinationTreeTest, RemoveTakesTreesApartWithoutLeavingThem) {
  ASSERT_EQ(0, mkdir("t", 0755));
  ASSERT_EQ(0, mkdir("t/locked", 0755));
  ASSERT_EQ(0, mkdir("t/locked/deeper", 0755));
  writeFile("t/locked/deeper/f", "x");
  ASSERT_EQ(0, symlink(outside().c_str(), "t/locked/to-dir"));
  ASSERT_EQ(0, symlink(outside("victim").c_str(), "t/to-file"));
  ASSERT_EQ(0, mkfifo("t/fifo", 0644));
  ASSERT_EQ(0, chmod("t/locked/deeper", 0));
  ASSERT_EQ(0, chmod("t/locked", 0500));
  writeFile("f", "a file");
  ASSERT_EQ(0, symlink(outside().c_str(), "l"));
  DestinationTree tree = open();
  tree.remove("t");
  tree.remove("f");
  tree.remove("l");
  tree.remove("missing");
  tree.remove("missing/below");
  EXPECT_FALSE(exists("t") || exists("f") || exists("l"));
  expectOutsideUntouched();
}

TEST_P(DestinationTreeTest, DirectoryModesApplyAtTheEndDeepestFirst) {
  ASSERT_EQ(0, mkdir("existing", 0711));
  DestinationTree tree = open();
  tree.makeDirectory("ro", 0555);
  tree.makeDirectory("ro/sub", 0500);
  tree.makeDirectory("ro/sub/none", 0);
  tree.makeDirectory("plain", 0750);
  tree.makeDirectory("existing", 0555);
  tree.makeDirectory("replaced", 0555);
  tree.makeDirectory("swapped", 0555);
  tree.createFile("ro/sub/f").close();
  // While the tree is written, its directories keep the owner's rights.
  EXPECT_EQ(0755u, modeOf("ro"));
  EXPECT_EQ(0700u, modeOf("ro/sub"));
  EXPECT_EQ(0700u, modeOf("ro/sub/none"));
  // One the tree replaces, and one someone else replaces by another
  // directory, are not the directories made: their modes stay.
  tree.remove("replaced");
  tree.makeDirectory("replaced", 0755);
  ASSERT_EQ(0, rename("swapped", "swapped-away"));
  ASSERT_EQ(0, mkdir("swapped", 0770));
  tree.applyDirectoryModes();
  EXPECT_EQ(0555u, modeOf("ro"));
  EXPECT_EQ(0500u, modeOf("ro/sub"));
  EXPECT_EQ(0u, modeOf("ro/sub/none"));
  EXPECT_EQ(0750u, modeOf("plain"));
  EXPECT_EQ(0711u, modeOf("existing")) << "a directory that existed keeps its mode";
  EXPECT_EQ(0755u, modeOf("replaced"));
  EXPECT_EQ(0770u, modeOf("swapped"));
  EXPECT_EQ(0755u, modeOf("swapped-away"));
}

// However many directories are written, the tree keeps at most its bound
// of them open, and closes everything when it goes.
TEST_P(DestinationTreeTest, OpenDirectoriesStayWithinTheBound) {
  int before = openDescriptorCount();
  {
    DestinationTree tree = open();
    for (int i = 0; i < 100; ++i) {
      std::string d = "d" + std::to_string(i);
      tree.makeDirectory(pathOf(d), 0755);
      tree.makeDirectory(pathOf(d + "/sub"), 0755);
      tree.createFile(pathOf(d + "/sub/f")).close();
      EXPECT_LE(openDescriptorCount(),
                before + 1 + static_cast<int>(DestinationTree::kCachedDirectories));
    }
    for (int i = 0; i < 100; ++i) {
      EXPECT_TRUE(exists("d" + std::to_string(i) + "/sub/f")) << i;
    }
  }
  EXPECT_EQ(before, openDescriptorCount());
}

// Only a regular file is opened, never through a link and never waiting for
// a FIFO's writer; only a regular file is copied.
TEST_P(DestinationTreeTest, OnlyRegularFilesAreOpenedAndCopied) {
  writeFile("file", "regular");
  ASSERT_EQ(0, symlink("file", "link"));
  ASSERT_EQ(0, mkfifo("fifo", 0644));
  ASSERT_EQ(0, symlink("fifo", "link-to-fifo"));
  ASSERT_EQ(0, mkdir("dir", 0755));
  DestinationTree tree = open();
  RandomAccessFile file = tree.openFile("file");
  ASSERT_GE(file.getDescriptor(), 0);
  EXPECT_EQ("regular", testsupport::str(file.readAll()));
  for (const char* name : {"link", "fifo", "link-to-fifo", "dir", "missing"}) {
    EXPECT_EQ(-1, tree.openFile(name).getDescriptor()) << name;
    if (std::string(name) == "missing") continue;
    EXPECT_FALSE(tree.copyFile(name, "copy")) << name;
    EXPECT_FALSE(exists("copy")) << name;
  }
}

TEST_P(DestinationTreeTest, FailuresNameTheEntryAndTheReason) {
  writeFile("file", "");
  DestinationTree tree = open();
  EXPECT_THROW_TEXT(tree.makeDirectory("file", 0755), Exception,
                    "Exception: file: make directory failure: File exists");
  EXPECT_THROW_TEXT(tree.makeDirectory("no/sub", 0755), Exception,
                    "Exception: no/sub: make directory failure: No such file or directory");
  EXPECT_THROW_TEXT(tree.makeDirectory("file/sub", 0755), Exception,
                    "Exception: file/sub: make directory failure: Not a directory");
  EXPECT_THROW_TEXT(tree.createFile("no/f"), RandomAccessFile::Exception,
                    "File create error: no/f: No such file or directory");
  EXPECT_THROW_TEXT(tree.copyFile("no/f", "g"), RandomAccessFile::Exception,
                    "File open error: no/f: No such file or directory");
  EXPECT_THROW_TEXT(tree.list("missing"), Exception,
                    "Exception: missing: directory open failure: No such file or directory");
  for (const char* name : {"../outside/victim", "a/../../x", "/etc/passwd"}) {
    EXPECT_THROW_TEXT(tree.remove(name), Exception,
                      std::string("Exception: ") + name + ": name leaves the tree");
  }
  EXPECT_THROW_TEXT(
      DestinationTree(pathOf(dir_ + "/missing")), Exception,
      "Exception: " + dir_ + "/missing: directory open failure: No such file or directory");
  expectOutsideUntouched();
}

TEST_P(DestinationTreeTest, WholeNamesAreResolvedByTheKernelWhereItCan) {
  DestinationTree tree = open();
  tree.makeDirectory("a", 0755);
  tree.makeDirectory("a/b", 0755);
  tree.createFile("a/b/f").close();
  if (GetParam() == DestinationTree::kWholeName &&
      tree.resolution() != DestinationTree::kWholeName) {
    GTEST_SKIP() << "this kernel has no openat2: whole names are walked here too";
  }
  EXPECT_EQ(GetParam(), tree.resolution());
}

INSTANTIATE_TEST_SUITE_P(Resolutions, DestinationTreeTest,
                         ::testing::Values(DestinationTree::kWholeName,
                                           DestinationTree::kComponentWalk),
                         [](const ::testing::TestParamInfo<DestinationTree::Resolution>& info) {
                           return resolutionName(info.param);
                         });

}  // namespace
