// installdata, run as the real program: create, verify, list and extract a
// tree with every kind of entry, and read the result with the installer's
// own input chain and with xz.
#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <utime.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <set>

#include "BuildConstants.h"
#include "archive/ArchiveRead.h"
#include "archive/CipherInputStream.h"
#include "archive/LzmaInputStream.h"
#include "io/FileInputStream.h"
#include "tests/archive/ArchiveTestSupport.h"
#include "tests/support/TestSupport.h"
#include "tests/support/TreeSnapshot.h"

namespace {

using testsupport::readFile;
using testsupport::RunResult;
using testsupport::writeFile;

RunResult installdata(const std::vector<std::string>& args) {
  std::vector<std::string> argv{testsupport::installdataProgram()};
  argv.insert(argv.end(), args.begin(), args.end());
  return testsupport::run(argv);
}

using testsupport::snapshotOf;
using testsupport::TreeSnapshot;

class InstalldataTest : public testsupport::TempDirTest {
 protected:
  // A tree with every kind of entry, odd names and modes.
  void makeTree() {
    ASSERT_EQ(0, mkdir("src", 0755));
    ASSERT_EQ(0, mkdir("src/bin", 0755));
    ASSERT_EQ(0, mkdir("src/private", 0700));
    ASSERT_EQ(0, mkdir("src/ro-dir", 0755));
    writeFile("src/bin/tool", "#!/bin/sh\necho tool\n", 0755);
    writeFile("src/ro-dir/inside", "in a read-only directory", 0644);
    writeFile("src/empty", "", 0644);
    writeFile("src/ro", "read only", 0444);
    writeFile("src/rx", "run only", 0555);
    writeFile("src/private/secret", "s", 0600);
    writeFile("src/name with spaces\tand\\back", "odd", 0644);
    writeFile("src/caf\xC3\xA9 line\nbreak", "utf-8 and a newline", 0644);
    std::string big(3 << 20, 0);
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>((i * 2654435761u) >> 13);
    writeFile("src/big", big, 0640);
    ASSERT_EQ(0, link("src/big", "src/bin/hard1"));
    ASSERT_EQ(0, link("src/big", "src/private/hard2"));
    ASSERT_EQ(0, symlink("../zz-target", "src/bin/a-link"));
    writeFile("src/zz-target", "target", 0644);
    ASSERT_EQ(0, symlink("nowhere", "src/dangling"));
    ASSERT_EQ(0, symlink("/etc/hostname", "src/absolute"));
    time_t t = 1000000000;
    for (const char* f : {"src/bin/tool", "src/empty", "src/ro", "src/rx", "src/big",
                          "src/zz-target", "src/private/secret", "src/ro-dir/inside"}) {
      struct utimbuf times = {t, t};
      ASSERT_EQ(0, utime(f, &times)) << f;
      t += 86400 * 37;
    }
    ASSERT_EQ(0, chmod("src/ro-dir", 0555));
  }
};

TEST_F(InstalldataTest, RoundTripKeepsEveryTypeModeTimeAndLink) {
  makeTree();
  RunResult created = installdata({"create", "-o", "out.data", "-C", "src", "."});
  ASSERT_EQ(0, created.status) << created.err;
  EXPECT_EQ("", created.out);

  RunResult verified = installdata({"verify", "out.data"});
  ASSERT_EQ(0, verified.status) << verified.err;
  EXPECT_EQ(0u, verified.out.find("out.data: OK, 19 entries, ")) << verified.out;

  RunResult extracted = installdata({"extract", "out.data", "-C", "dest"});
  ASSERT_EQ(0, extracted.status) << extracted.err;
  TreeSnapshot source = snapshotOf(dir_ + "/src");
  TreeSnapshot copy = snapshotOf(dir_ + "/dest");
  EXPECT_EQ(source.entries, copy.entries);
  EXPECT_EQ(source.linkGroups, copy.linkGroups);
  EXPECT_EQ(1u, copy.linkGroups.size());
  chmod("src/ro-dir", 0755);
  chmod("dest/ro-dir", 0755);
}

TEST_F(InstalldataTest, ListShowsOneLinePerEntry) {
  ASSERT_EQ(0, mkdir("p", 0755));
  ASSERT_EQ(0, mkdir("p/d", 0755));
  writeFile("p/d/f", std::string(1234, 'x'));
  ASSERT_EQ(0, link("p/d/f", "p/d/g"));
  ASSERT_EQ(0, symlink("f", "p/d/l"));
  ASSERT_EQ(0, installdata({"create", "-o", "p.data", "-C", "p", "d"}).status);
  RunResult listed = installdata({"list", "p.data"});
  ASSERT_EQ(0, listed.status) << listed.err;
  // Directory order is the file system's: compare the set of lines.
  std::multiset<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = listed.out.find('\n', start)) != std::string::npos; start = end + 1) {
    lines.insert(listed.out.substr(start, end - start));
  }
  std::string first = lines.count("      1234 d/f") ? "d/f" : "d/g";
  std::string second = first == "d/f" ? "d/g" : "d/f";
  EXPECT_EQ((std::multiset<std::string>{"           d/", "      1234 " + first,
                                        "           " + second + " link to " + first,
                                        "           d/l -> f"}),
            lines);
}

// The layers of install.data are standard: deciphered with the cipher, the
// middle layer is LZMA-alone data that xz decodes to our archive. The cipher
// completes the last block with up to 7 zero bytes, which xz would take for
// the start of another stream: one of the cuts must be the exact end.
TEST_F(InstalldataTest, MiddleLayerIsStandardLzmaAlone) {
  ASSERT_EQ(0, mkdir("p", 0755));
  writeFile("p/f", std::string(100000, 'q') + "tail");
  ASSERT_EQ(0, installdata({"create", "-o", "p.data", "-C", "p", "f"}).status);
  std::string deciphered;
  {
    FileInputStream in(String("p.data"));
    CipherInputStream plain(&in);
    char buffer[4096];
    int n;
    while ((n = plain.read(buffer, sizeof buffer)) > 0) deciphered.append(buffer, n);
  }
  std::string archive;
  for (size_t cut = 0; cut < 8 && archive.empty(); ++cut) {
    if (deciphered[deciphered.size() - cut] != 0 && cut != 0) break;  // padding is zeros
    writeFile("p.lzma", deciphered.substr(0, deciphered.size() - cut));
    if (testsupport::run({"/bin/sh", "-c", "xz --format=lzma -dc < p.lzma > p.archive"}).status ==
        0) {
      archive = readFile("p.archive");
    }
  }
  ASSERT_FALSE(archive.empty()) << "xz accepted no cut of the deciphered data";
  EXPECT_EQ(0u, archive.find(std::string("qzrArc\n2zYxWvUtS", 16)));
  FileInputStream in(String("p.data"));
  CipherInputStream plain(&in);
  LzmaInputStream lzma(&plain);
  EXPECT_EQ(archive.size(), lzma.getRemaining()) << "the header carries the exact size";
  std::string ours(archive.size(), 0);
  lzma.readFully(&ours[0], static_cast<uint32_t>(ours.size()));
  EXPECT_TRUE(ours == archive) << "xz and our stream decode the same bytes";
}

TEST_F(InstalldataTest, UsageErrorsExitWithTwo) {
  struct {
    std::vector<std::string> args;
    int status;
  } cases[] = {{{}, 2},
               {{"bogus"}, 2},
               {{"create", "x"}, 2},
               {{"create", "-o", "f"}, 2},
               {{"create", "-o"}, 2},
               {{"list"}, 2},
               {{"verify", "a", "b"}, 2},
               {{"extract", "-x", "f"}, 2},
               {{"--help"}, 0},
               {{"create", "--help"}, 0},
               {{"extract", "--help"}, 0}};
  for (const auto& c : cases) {
    RunResult result = installdata(c.args);
    EXPECT_EQ(c.status, result.status) << testing::PrintToString(c.args);
    const std::string& usageStream = c.status == 2 ? result.err : result.out;
    EXPECT_NE(std::string::npos, usageStream.find("Usage: installdata"));
  }
  EXPECT_EQ(std::string("installdata ") + VANTOREL_VERSION + "\n", installdata({"--version"}).out);
}

TEST_F(InstalldataTest, FailuresExitWithOneAndLeaveNoOutput) {
  RunResult missing = installdata({"create", "-o", "x.data", "nosuch"});
  EXPECT_EQ(1, missing.status);
  EXPECT_EQ("installdata: File open error: nosuch: No such file or directory\n", missing.err);
  EXPECT_NE(0, access("x.data", F_OK)) << "a failed create leaves no file behind";

  writeFile("f", "x");
  ASSERT_EQ(0, installdata({"create", "-o", "ok.data", "f"}).status);
  std::string data = readFile("ok.data");
  data[data.size() / 2] ^= 0x20;
  writeFile("bad.data", data);
  RunResult bad = installdata({"verify", "bad.data"});
  EXPECT_EQ(1, bad.status);
  EXPECT_EQ(0u, bad.err.find("installdata: Exception: ")) << bad.err;
}

// verify applies the installer's rules: an entry that the installer would
// refuse fails the file with the installer's message and status 1. A
// listing shows such a file whole.
TEST_F(InstalldataTest, VerifyRefusesWhatTheInstallerRefuses) {
  using testsupport::EntrySpec;
  const EntrySpec link = {Archive::kSymbolicLink, "s", "/etc"};
  struct {
    const char* name;
    std::vector<EntrySpec> entries;
    std::string error;
  } cases[] = {
      {"UnsafeName", {{Archive::kFile, "a/../../x", "x", 0644}}, "unsafe entry name: a/../../x"},
      {"AbsoluteName",
       {{Archive::kDirectory, "/etc/x/", "", 040755}},
       "unsafe entry name: /etc/x/"},
      {"UnsafeLinkTarget", {{Archive::kHardLink, "h", "../x"}}, "unsafe link target: ../x"},
      {"BelowASymbolicLink",
       {link, {Archive::kFile, "s/passwd", "x", 0644}},
       "symbolic link in the way: s"},
      {"BelowAHardLinkToOne",
       {link, {Archive::kHardLink, "h", "s"}, {Archive::kDirectory, "h/d/", "", 040755}},
       "symbolic link in the way: h"},
      {"HardLinkTargetBelowOne",
       {link, {Archive::kHardLink, "h", "./s/passwd"}},
       "symbolic link in the way: ./s"},
      {"SpelledOtherwise",
       {link, {Archive::kSymbolicLink, ".//s/x", "y"}},
       "symbolic link in the way: .//s"},
  };
  for (const auto& c : cases) {
    writeFile("hostile.data",
              testsupport::installDataOf(testsupport::buildArchive(c.entries), dir_));
    RunResult verified = installdata({"verify", "hostile.data"});
    EXPECT_EQ(1, verified.status) << c.name;
    EXPECT_EQ("installdata: Exception: Archive: " + c.error + "\n", verified.err) << c.name;
    EXPECT_EQ("", verified.out) << c.name;
    RunResult listed = installdata({"list", "hostile.data"});
    EXPECT_EQ(0, listed.status) << c.name << ": " << listed.err;
    EXPECT_EQ(c.entries.size(), std::count(listed.out.begin(), listed.out.end(), '\n')) << c.name;
  }
  // Links the installer makes are no failure: a link to a directory, a link
  // before its target, and a hard link to a file.
  writeFile("sound.data", testsupport::installDataOf(
                              testsupport::buildArchive({{Archive::kSymbolicLink, "lib/s", "/etc"},
                                                         {Archive::kSymbolicLink, "lib/x", "y"},
                                                         {Archive::kFile, "lib/y", "y", 0644},
                                                         {Archive::kHardLink, "h", "lib/y"}}),
                              dir_));
  RunResult verified = installdata({"verify", "sound.data"});
  EXPECT_EQ(0, verified.status) << verified.err;
}

// create refuses, before it writes anything, what the installer would
// refuse or what no entry can carry: an earlier FILE stays as it was.
TEST_F(InstalldataTest, CreateRefusesWhatTheInstallerWouldRefuseAndKeepsFile) {
  ASSERT_EQ(0, mkdir("src", 0755));
  ASSERT_EQ(0, mkdir("src/lib", 0755));
  ASSERT_EQ(0, mkdir("src/real", 0755));
  writeFile("src/real/x", "x");
  ASSERT_EQ(0, symlink("../real", "src/lib/jre"));
  ASSERT_EQ(0, mkfifo("src/fifo", 0644));
  int listening = socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_LE(0, listening);
  struct sockaddr_un address = {};
  address.sun_family = AF_UNIX;
  snprintf(address.sun_path, sizeof address.sun_path, "%s", "src/socket");
  ASSERT_EQ(0, bind(listening, reinterpret_cast<struct sockaddr*>(&address), sizeof address));
  close(listening);
  const std::string kRefused = "installdata: the installer would refuse ";
  struct {
    std::vector<std::string> args;
    int status;
    // The first line of standard error.
    std::string error;
  } cases[] = {
      {{"-C", "src", dir_ + "/src/lib"}, 2, kRefused + dir_ + "/src/lib (an absolute PATH)"},
      {{"-C", "src", "lib/../real"}, 2, kRefused + "lib/../real (a \"..\" component)"},
      {{"-C", "src/lib", ".."}, 2, kRefused + ".. (a \"..\" component)"},
      {{"-C", "src", "lib", "lib/jre/x"},
       2,
       kRefused + "lib/jre/x (Archive: symbolic link in the way: lib/jre)"},
      {{"-C", "src", "real", "fifo"}, 1, "installdata: Exception: fifo: cannot archive a FIFO"},
      {{"-C", "src", "socket"}, 1, "installdata: Exception: socket: cannot archive a socket"},
      {{"-C", "/dev", "null"},
       1,
       "installdata: Exception: null: cannot archive a character device"},
  };
  for (const auto& c : cases) {
    writeFile("earlier.data", "an earlier release");
    std::vector<std::string> args{"create", "-o", dir_ + "/earlier.data"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    RunResult created = installdata(args);
    std::string context = testing::PrintToString(c.args);
    EXPECT_EQ(c.status, created.status) << context;
    EXPECT_EQ(c.error, created.err.substr(0, created.err.find('\n'))) << context;
    EXPECT_EQ("an earlier release", readFile("earlier.data")) << context;
  }
}

// create writes a temporary beside FILE and renames it at the end: a
// create that fails or is interrupted halfway leaves an earlier FILE as it
// was and no temporary behind; a file that changes before its content is
// in the archive is such a failure (a release must be consistent). Each case acts once the
// temporary is there: the tree is listed, and the big file keeps the compressor busy long before
// the later one is read.
TEST_F(InstalldataTest, CreateReplacesFileOnlyWhenItSucceeds) {
  ASSERT_EQ(0, mkdir("src", 0755));
  writeFile("src/big", testsupport::noise(2 << 20));
  const std::string kEarlier = "an earlier release";
  auto temporaries = [this] {
    std::vector<std::string> names;
    DIR* directory = opendir(dir_.c_str());
    while (struct dirent* e = readdir(directory)) {
      if (std::string(e->d_name).rfind(".out.data.", 0) == 0) names.push_back(e->d_name);
    }
    closedir(directory);
    return names;
  };
  struct {
    const char* name;
    std::function<void(pid_t)> act;
    int status;
    int signal;
    std::string error;
  } cases[] = {
      {"Terminated", [](pid_t pid) { kill(pid, SIGTERM); }, -1, SIGTERM, ""},
      {"Interrupted", [](pid_t pid) { kill(pid, SIGINT); }, -1, SIGINT, ""},
      {"FileRemovedMeanwhile", [](pid_t) { unlink("src/later"); }, 1, 0,
       "installdata: File open error: later: No such file or directory\n"},
      {"FileChangedMeanwhile", [](pid_t) { writeFile("src/later", "later, longer"); }, 1, 0,
       "installdata: Exception: later: file changed as we read it\n"},
  };
  for (const auto& c : cases) {
    writeFile("out.data", kEarlier);
    writeFile("src/later", "later");
    testsupport::Child child({testsupport::installdataProgram(), "create", "-9", "-o",
                              dir_ + "/out.data", "-C", "src", "big", "later"},
                             testsupport::RunOptions());
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (temporaries().empty() && child.running() &&
           std::chrono::steady_clock::now() < deadline) {
      usleep(1000);
    }
    ASSERT_EQ(1u, temporaries().size()) << c.name << ": no temporary beside FILE";
    c.act(child.pid());
    RunResult result = child.wait();
    EXPECT_EQ(c.status, result.status) << c.name;
    EXPECT_EQ(c.signal, result.signal) << c.name;
    EXPECT_EQ(c.error, result.err) << c.name;
    EXPECT_EQ(kEarlier, readFile("out.data")) << c.name;
    EXPECT_EQ(std::vector<std::string>{}, temporaries()) << c.name;
  }
  writeFile("src/later", "later");
  RunResult created = installdata({"create", "-o", dir_ + "/out.data", "-C", "src", "later"});
  EXPECT_EQ(0, created.status) << created.err;
  EXPECT_EQ(0644u, testsupport::modeOf("out.data"));
  EXPECT_EQ(std::vector<std::string>{}, temporaries());
  EXPECT_EQ(0, installdata({"verify", "out.data"}).status);
}

// No name in an archive can forge a line of list or verify, or reach the
// terminal: control bytes are shown as C escapes, other bytes as they are.
TEST_F(InstalldataTest, ListAndVerifyShowControlBytesEscaped) {
  writeFile("names\n.data",
            testsupport::installDataOf(
                testsupport::buildArchive({{Archive::kFile, "caf\xC3\xA9\tx\nOK", "x", 0644},
                                           {Archive::kSymbolicLink, "l", "\033[2J"},
                                           {Archive::kHardLink, "h\r", "caf\xC3\xA9\tx\nOK"}}),
                dir_));
  RunResult listed = installdata({"list", "names\n.data"});
  EXPECT_EQ(0, listed.status) << listed.err;
  EXPECT_EQ(
      "         1 caf\xC3\xA9\\tx\\nOK\n"
      "           l -> \\033[2J\n"
      "           h\\r link to caf\xC3\xA9\\tx\\nOK\n",
      listed.out);
  RunResult verified = installdata({"verify", "names\n.data"});
  EXPECT_EQ(0, verified.status) << verified.err;
  EXPECT_EQ(0u, verified.out.find("names\\n.data: OK, 3 entries, ")) << verified.out;

  writeFile("hostile.data",
            testsupport::installDataOf(
                testsupport::buildArchive(
                    {{Archive::kFile, "../x\nInstalled all files successfully", "x", 0644}}),
                dir_));
  RunResult refused = installdata({"verify", "hostile.data"});
  EXPECT_EQ(1, refused.status);
  EXPECT_EQ(
      "installdata: Exception: Archive: unsafe entry name: ../x\\nInstalled all files "
      "successfully\n",
      refused.err);
}

// extract shares the installer's reader: a hard link that makes a
// directory's name a link to the outside gets nothing written through it.
TEST_F(InstalldataTest, ExtractWritesNothingThroughALink) {
  ASSERT_EQ(0, mkdir("outside", 0755));
  writeFile("outside/victim", "precious");
  TreeSnapshot outside = snapshotOf(dir_ + "/outside");
  ASSERT_EQ(0, mkdir("dest", 0755));
  ASSERT_EQ(0, symlink((dir_ + "/outside").c_str(), "dest/jre"));
  writeFile("hostile.data",
            testsupport::installDataOf(
                testsupport::buildArchive({{Archive::kDirectory, "d/", "", 040755},
                                           {Archive::kHardLink, "d", "jre"},
                                           {Archive::kFile, "d/victim", "evil", 0644}}),
                dir_));
  RunResult extracted = installdata({"extract", "hostile.data", "-C", "dest"});
  EXPECT_EQ(1, extracted.status);
  EXPECT_EQ("installdata: Exception: Archive: symbolic link in the way: d\n", extracted.err);
  TreeSnapshot now = snapshotOf(dir_ + "/outside");
  EXPECT_EQ(outside.entries, now.entries);
  EXPECT_EQ(outside.linkGroups, now.linkGroups);
}

}  // namespace
