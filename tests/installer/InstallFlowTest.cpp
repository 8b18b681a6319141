// The installation flow, run as the real program beside a real install.data
// in a private directory: the directory from the prompt or --prefix, the bin
// check, the exact output of quiet and verbose runs, every failure of the
// archive and its layers as the user sees it, and SIGINT during extraction.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "tests/archive/ArchiveTestSupport.h"
#include "tests/installer/InstallTestSupport.h"
#include "tests/support/TestSupport.h"
#include "tests/support/TreeSnapshot.h"

namespace {

using installtest::advice;
using installtest::failure;
using installtest::kHeader;
using installtest::kPrompt;
using installtest::kSuccess;
using installtest::progressLine;
using testsupport::Child;
using testsupport::readFile;
using testsupport::RunOptions;
using testsupport::RunResult;
using testsupport::snapshotOf;
using testsupport::TreeSnapshot;
using testsupport::writeFile;

// `text` with every "@" replaced by `dir`.
std::string expand(const std::string& text, const std::string& dir) {
  std::string result;
  for (char c : text) result += c == '@' ? dir : std::string(1, c);
  return result;
}

bool exists(const std::string& path) {
  struct stat status;
  return lstat(path.c_str(), &status) == 0;
}

class InstallFlowTest : public installtest::InstallTest {};

// The whole product arrives with its modes, times and links; bin gains only
// the interceptors. stdout holds the percentage line byte for byte.
TEST_F(InstallFlowTest, QuietRunShowsThePercentageAndInstallsTheWholeTree) {
  ASSERT_NO_FATAL_FAILURE(makeKit());
  RunResult result = install({"--prefix", prefix_});
  EXPECT_EQ(kHeader + progressLine() + advice(prefix_) + kSuccess, result.out);
  EXPECT_EQ("", result.err);
  EXPECT_EQ(0, result.status);

  TreeSnapshot source = snapshotOf(dir_ + "/product");
  TreeSnapshot installed = snapshotOf(prefix_);
  for (const std::string& tool : installtest::kTools) {
    EXPECT_EQ("link vntc", installed.entries["bin/" + tool]) << tool;
  }
  // Links the machine's own compilers may add go as well.
  for (auto entry = installed.entries.begin(); entry != installed.entries.end();) {
    bool interceptor = entry->first.compare(0, 4, "bin/") == 0 && entry->second == "link vntc";
    entry = interceptor ? installed.entries.erase(entry) : std::next(entry);
  }
  EXPECT_EQ(source.entries, installed.entries);
  EXPECT_EQ(source.linkGroups, installed.linkGroups);
  EXPECT_EQ(1u, installed.linkGroups.size());
}

TEST_F(InstallFlowTest, VerboseRunListsEveryStepAndEntryOnStandardError) {
  ASSERT_NO_FATAL_FAILURE(makeKit());
  RunResult result = install({"-v", "--prefix=" + prefix_ + "/"});
  EXPECT_EQ(kHeader + advice(prefix_) + kSuccess, result.out) << "no percentage";
  EXPECT_EQ(0, result.status);
  auto file = [](const char* name, const std::string& path) {
    char line[256];
    snprintf(line, sizeof line, "%10zu %s\n", readFile(path).size(), name);
    return std::string(line);
  };
  std::string expected =
      "mkdir " + prefix_ + "/\n" + "extract " + kit_ + "/install.data\n" +
      file("bin/vntc", "product/bin/vntc") + file("bin/vnt01", "product/bin/vnt01") +
      file("lib/libvnt.so.1", "product/lib/libvnt.so.1") +
      "           lib/libvnt.so -> libvnt.so.1\n" + file("lib/libvnt.a", "product/lib/libvnt.a") +
      file("share/doc/README", "product/share/doc/README") +
      "           share/doc/COPYING link to share/doc/README\n" + "           private/\n" +
      file("private/key", "product/private/key");
  for (const std::string& tool : installtest::kTools) expected += "interceptor bin/" + tool + "\n";
  EXPECT_EQ(expected, installtest::withoutForeignInterceptors(result.err));
}

// Names, link texts and the prefix are listed with their control bytes
// escaped, and made with their own bytes.
TEST_F(InstallFlowTest, VerboseLinesShowControlBytesEscaped) {
  const std::string kForged = "doc/a\tb\nInstalled all files successfully";
  const std::string kShown = "doc/a\\tb\\nInstalled all files successfully";
  ASSERT_NO_FATAL_FAILURE(writeInstallData(testsupport::buildArchive({
      {1, "doc/", "", 0755, 0},
      {3, kForged, "x", 0644, 0},
      {2, "doc/h\r", kForged, 0, 0},
      {4, "doc/l", "\033[2J", 0, 0},
  })));
  std::string prefix = dir_ + "/new\nline";
  RunResult result = install({"-v", "--prefix", prefix});
  EXPECT_EQ(0, result.status) << result.err;
  std::string shownPrefix = dir_ + "/new\\nline";
  EXPECT_EQ(kHeader + advice(shownPrefix) + kSuccess, result.out);
  EXPECT_EQ("mkdir " + shownPrefix + "/\nextract " + kit_ + "/install.data\n" +
                "           doc/\n" + "         1 " + kShown + "\n" +
                "           doc/h\\r link to " + kShown + "\n" + "           doc/l -> \\033[2J\n",
            result.err);
  EXPECT_EQ("x", readFile(prefix + "/" + kForged));
  EXPECT_EQ("x", readFile(prefix + "/doc/h\r"));
  EXPECT_EQ("\033[2J", testsupport::linkText(prefix + "/doc/l"));
}

struct DirectoryCase {
  const char* name;
  std::vector<std::string> args;
  // Standard input; "@" stands for the private directory.
  std::string input;
  // The canonical installation directory.
  std::string expected;
};

// Test names show the case name only.
void PrintTo(const DirectoryCase& c, std::ostream* out) { *out << c.name; }

class DirectoryTest : public InstallFlowTest,
                      public ::testing::WithParamInterface<DirectoryCase> {};

// The installer runs in "work"; relative answers and prefixes are taken
// from there. The PATH advice shows the canonical prefix.
TEST_P(DirectoryTest, InstallsIntoTheCanonicalDirectory) {
  const DirectoryCase& c = GetParam();
  ASSERT_NO_FATAL_FAILURE(makeKit());
  ASSERT_EQ(0, mkdir("work", 0755));
  std::vector<std::string> args;
  for (const std::string& arg : c.args) args.push_back(expand(arg, dir_));
  RunOptions options;
  options.input = expand(c.input, dir_);
  options.cwd = dir_ + "/work";
  RunResult result = install(args, options);
  std::string expected = expand(c.expected, dir_);
  bool prompts = !c.input.empty();
  EXPECT_EQ(kHeader + (prompts ? kPrompt : "") + progressLine() + advice(expected) + kSuccess,
            result.out);
  EXPECT_EQ("", result.err);
  EXPECT_EQ(0, result.status);
  EXPECT_EQ(readFile("product/bin/vntc"), readFile(expected + "/bin/vntc"));
}

INSTANTIATE_TEST_SUITE_P(
    Answers, DirectoryTest,
    ::testing::Values(DirectoryCase{"Absolute", {}, "@/a\n", "@/a"},
                      DirectoryCase{"TrailingSlash", {}, "@/a/\n", "@/a"},
                      DirectoryCase{"Relative", {}, "rel/x\n", "@/work/rel/x"},
                      DirectoryCase{"Uncleaned", {}, "@//a/./b/../c\n", "@/a/c"},
                      DirectoryCase{"TakenAsTyped", {}, " odd ~name \n", "@/work/ odd ~name "},
                      DirectoryCase{"FirstLineOnly", {}, "@/a\n@/b\n", "@/a"},
                      DirectoryCase{"PrefixSeparate", {"--prefix", "@/a"}, "", "@/a"},
                      DirectoryCase{"PrefixJoined", {"--prefix=@/a/"}, "", "@/a"},
                      DirectoryCase{"PrefixRelative", {"--prefix", "rel/../x"}, "", "@/work/x"},
                      DirectoryCase{
                          "LaterPrefixWins", {"--prefix", "@/a", "--prefix=@/b"}, "", "@/b"},
                      DirectoryCase{"EmptyPrefixPrompts", {"--prefix="}, "@/a\n", "@/a"}),
    [](const ::testing::TestParamInfo<DirectoryCase>& info) { return info.param.name; });

// The default directory is never installed into: the installer runs as a
// user who may not create it, and the failure names the directory chosen.
// That user runs a copy of the program in the private directory, opened to
// everyone for the purpose.
class DefaultDirectoryTest : public testsupport::TempDirTest {};

TEST_F(DefaultDirectoryTest, EmptyOrOverlongAnswerChoosesTheDefault) {
  if (exists("/Applications")) GTEST_SKIP() << "/Applications exists on this machine";
  std::vector<std::string> prefix;
  if (getuid() == 0) {
    if (!exists("/usr/bin/setpriv")) GTEST_SKIP() << "no setpriv to run as another user";
    prefix = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
  } else if (access("/", W_OK) == 0) {
    GTEST_SKIP() << "this user may create directories in /";
  }
  // The longest answer that counts: 1022 bytes and the newline fill the
  // 1023 bytes of one read.
  std::string longest = "/vantorel-absent";
  while (longest.size() < 1022) longest += longest.size() % 200 == 0 ? '/' : 'x';
  struct {
    const char* name;
    std::string input;
    std::string directory;
  } cases[] = {
      {"EmptyLine", "\n", "/Applications/Vantorel/"},
      {"ClosedInput", "", "/Applications/Vantorel/"},
      {"NewlineDoesNotFit", std::string(1023, 'y') + "\n", "/Applications/Vantorel/"},
      {"LongestAnswer", longest + "\n", longest + "/"},
  };
  ASSERT_EQ(0, chmod(dir_.c_str(), 0755));
  std::string program = dir_ + "/install";
  writeFile(program, readFile(testsupport::installProgram()), 0755);
  for (const auto& c : cases) {
    std::vector<std::string> argv = prefix;
    argv.push_back(program);
    RunOptions options;
    options.input = c.input;
    options.cwd = "/";
    RunResult result = testsupport::run(argv, options);
    if (result.status == 127 && result.out.empty()) {
      GTEST_SKIP() << "the other user cannot run " << program << ": " << result.err;
    }
    EXPECT_EQ(kHeader + kPrompt, result.out) << c.name;
    EXPECT_EQ(failure("Exception: " + c.directory + ": make directory failure: Permission denied"),
              result.err)
        << c.name;
    EXPECT_EQ(1, result.status) << c.name;
  }
  EXPECT_FALSE(exists("/Applications"));
}

// A program found along PATH, or named relative to the working directory,
// finds install.data beside itself.
TEST_F(InstallFlowTest, FindsInstallDataBesideTheProgram) {
  ASSERT_NO_FATAL_FAILURE(makeKit());
  ASSERT_EQ(0, mkdir("work", 0755));
  struct {
    const char* command;
    std::string cwd;
    std::string path;
  } cases[] = {
      {"exec install --prefix inst1", dir_, kit_},
      {"exec ./install --prefix ../inst2", kit_, emptyPath_},
      {"exec ../kit/install --prefix ../inst3", dir_ + "/work", emptyPath_},
  };
  int n = 0;
  for (const auto& c : cases) {
    RunOptions options;
    options.cwd = c.cwd;
    options.env["PATH"] = c.path;
    RunResult result = testsupport::run({"/bin/sh", "-c", c.command}, options);
    EXPECT_EQ(0, result.status) << c.command << ": " << result.err;
    EXPECT_TRUE(exists(dir_ + "/inst" + std::to_string(++n) + "/bin/vntc")) << c.command;
  }
}

// Wherever the installer is found, it unpacks the install.data beside the
// program it is, never one in the installation directory, which another
// user may have planted there. Each candidate place holds a product of its
// own, so the installed file "which" tells which install.data was used.
TEST_F(InstallFlowTest, ProgramLocationDecidesWhichInstallDataIsUsed) {
  auto pack = [this](const std::string& tag, const std::string& file) {
    std::string tree = dir_ + "/tree-" + tag;
    ASSERT_EQ(0, mkdir(tree.c_str(), 0755));
    writeFile(tree + "/which", tag);
    RunResult packed = testsupport::run(
        {testsupport::installdataProgram(), "create", "-o", file, "-C", tree, "which"});
    ASSERT_EQ(0, packed.status) << packed.err;
  };
  for (const char* d : {"media", "work", "first", "firstdir", "firstdir/install"}) {
    ASSERT_EQ(0, mkdir(d, 0755)) << d;
  }
  const std::string media = dir_ + "/media/install";
  ASSERT_EQ(0, symlink(testsupport::installProgram().c_str(), media.c_str()));
  writeFile("first/install", "not a program", 0644);
  for (const char* tag : {"media", "work", "first", "firstdir"}) {
    ASSERT_NO_FATAL_FAILURE(pack(tag, dir_ + "/" + tag + "/install.data"));
  }
  ASSERT_NO_FATAL_FAILURE(pack("planted", dir_ + "/planted.data"));
  const std::string planted = readFile("planted.data");

  struct {
    const char* name;
    std::string cwd;
    std::optional<std::string> path;
    // argv[0]; the program executed is media/install.
    std::string invocation;
    std::string used;
  } cases[] = {
      {"EmptyPathElement", "media", ":" + emptyPath_, "install", "media"},
      {"DotPathElement", "media", ".", "install", "media"},
      {"RelativePathElement", ".", "media", "install", "media"},
      {"PathUnset", "media", std::nullopt, "install", "media"},
      {"RelativeName", "work", emptyPath_, "../media/install", "media"},
      // Not found: the program is taken to be in the directory started in.
      {"FoundNowhere", "work", emptyPath_, "install", "work"},
      {"NotExecutableFileFirst", ".", "first:media", "install", "media"},
      {"DirectoryFirst", ".", "firstdir:media", "install", "media"},
  };
  for (const auto& c : cases) {
    std::string prefix = dir_ + "/inst-" + c.name;
    ASSERT_EQ(0, mkdir(prefix.c_str(), 0755));
    writeFile(prefix + "/install.data", planted);
    RunOptions options;
    options.cwd = dir_ + "/" + c.cwd;
    options.env["PATH"] = c.path;
    options.program = media;
    RunResult result = testsupport::run({c.invocation, "--prefix", prefix}, options);
    EXPECT_EQ(0, result.status) << c.name << ": " << result.err;
    EXPECT_EQ(c.used, readFile(prefix + "/which")) << c.name;
  }

  // Started in a directory that is gone, the installer cannot tell where a
  // relative program is: it stops before it makes anything.
  std::string prefix = dir_ + "/inst-gone";
  ASSERT_EQ(0, mkdir(prefix.c_str(), 0755));
  writeFile(prefix + "/install.data", planted);
  ASSERT_EQ(0, mkdir("gone", 0755));
  RunOptions options;
  options.env["PATH"] = ":";
  RunResult result = testsupport::run(
      {"/bin/bash", "-c", "cd gone && /bin/rmdir ../gone && exec -a install \"$0\" --prefix \"$1\"",
       media, prefix},
      options);
  EXPECT_EQ(kHeader, result.out);
  EXPECT_EQ(failure("Exception: get current directory failure: No such file or directory"),
            result.err);
  EXPECT_EQ(1, result.status);
  EXPECT_FALSE(exists(prefix + "/which"));
}

struct BinCase {
  const char* name;
  // Prepares the installation directory (the working directory then).
  std::function<void()> prepare;
  // The failure line, or "" when the installation succeeds; "@" stands for
  // the installation directory.
  std::string error;
};

// Test names show the case name only.
void PrintTo(const BinCase& c, std::ostream* out) { *out << c.name; }

class BinCheckTest : public InstallFlowTest, public ::testing::WithParamInterface<BinCase> {};

TEST_P(BinCheckTest, AcceptsOnlyAnEmptyBinOrAnEarlierInstallation) {
  const BinCase& c = GetParam();
  ASSERT_NO_FATAL_FAILURE(makeKit());
  writeFile("outside", "not the product's", 0755);
  ASSERT_EQ(0, mkdir(prefix_.c_str(), 0755));
  ASSERT_EQ(0, chdir(prefix_.c_str()));
  c.prepare();
  ASSERT_EQ(0, chdir(dir_.c_str()));
  RunResult result = install({"--prefix", prefix_});
  EXPECT_EQ("not the product's", readFile("outside")) << "nothing escapes through a link";
  if (c.error.empty()) {
    EXPECT_EQ(kHeader + progressLine() + advice(prefix_) + kSuccess, result.out);
    EXPECT_EQ("", result.err);
    EXPECT_EQ(0, result.status);
    EXPECT_EQ(readFile("product/bin/vnt01"), readFile(prefix_ + "/bin/vnt01"));
    return;
  }
  EXPECT_EQ(failure(expand(c.error, prefix_)), result.err);
  EXPECT_EQ(1, result.status);
  EXPECT_FALSE(exists(prefix_ + "/lib")) << "nothing is extracted";
}

const char kForeignBin[] =
    "Exception: Directory @/bin contains files other than Vantorel. Specify an empty or "
    "non-existing installation directory.";

INSTANTIATE_TEST_SUITE_P(
    States, BinCheckTest,
    ::testing::Values(BinCase{"Absent", [] {}, ""},
                      BinCase{"Empty", [] { mkdir("bin", 0755); }, ""},
                      BinCase{"EarlierInstallation",
                              [] {
                                mkdir("bin", 0755);
                                writeFile("bin/vnt01", "old", 0700);
                                writeFile("bin/mine", "kept", 0644);
                              },
                              ""},
                      BinCase{"MarkerLinksToAProgram",
                              [] {
                                mkdir("bin", 0755);
                                symlink("../../outside", "bin/vnt01");
                              },
                              ""},
                      BinCase{"ForeignFile",
                              [] {
                                mkdir("bin", 0755);
                                writeFile("bin/mine", "", 0755);
                              },
                              kForeignBin},
                      BinCase{"MarkerWithoutExecuteBit",
                              [] {
                                mkdir("bin", 0755);
                                writeFile("bin/vnt01", "", 0644);
                              },
                              kForeignBin},
                      BinCase{"MarkerIsADirectory",
                              [] {
                                mkdir("bin", 0755);
                                mkdir("bin/vnt01", 0755);
                              },
                              kForeignBin},
                      // A file named bin passes the check; extraction cannot go below it.
                      BinCase{"BinIsAFile", [] { writeFile("bin", "", 0644); },
                              "Exception: bin: make directory failure: File exists"}),
    [](const ::testing::TestParamInfo<BinCase>& info) { return info.param.name; });

TEST_F(InstallFlowTest, EarlierInstallationIsOverwrittenAndOtherFilesStay) {
  ASSERT_NO_FATAL_FAILURE(makeKit());
  ASSERT_EQ(0, install({"--prefix", prefix_}).status);
  writeFile(prefix_ + "/bin/mine", "kept", 0644);
  writeFile(prefix_ + "/bin/vntc", "changed", 0700);
  RunResult again = install({"--prefix", prefix_});
  EXPECT_EQ(0, again.status) << again.err;
  EXPECT_EQ("kept", readFile(prefix_ + "/bin/mine"));
  EXPECT_EQ(readFile("product/bin/vntc"), readFile(prefix_ + "/bin/vntc"));
}

class DamageTest;

// How each kind of damage reaches the user. `progress` tells whether the
// percentage line had started (the LZMA header was sound).
struct DamageCase {
  const char* name;
  // Makes kit/install.data.
  std::function<void(DamageTest&)> make;
  // "@" stands for the private directory.
  std::string error;
  bool progress;
};

// Test names show the case name only.
void PrintTo(const DamageCase& c, std::ostream* out) { *out << c.name; }

class DamageTest : public InstallFlowTest, public ::testing::WithParamInterface<DamageCase> {
 public:
  std::string dir() const { return dir_; }
  std::string installData() const { return kit_ + "/install.data"; }
  void writeArchive(const std::string& archive) { writeInstallData(archive); }

  // The deciphered install.data of the product, changed by `change`, then
  // enciphered again.
  void changeLzma(const std::function<void(std::string&)>& change) {
    ASSERT_NO_FATAL_FAILURE(makeKit());
    std::string lzma = installtest::decipher(readFile(installData()));
    change(lzma);
    writeFile(installData(), installtest::encipher(lzma));
  }
};

// A sound archive of two entries, for damaging.
std::string soundArchive() {
  return testsupport::buildArchive(
      {{3, "bin/vntc", "#!/bin/sh\n", 0755, 1000000000}, {1, "lib/", "", 0755, 0}});
}

// Offsets in soundArchive(): the file header, then the first entry's
// marker, header block and body (name, then content, then body CRC).
constexpr size_t kFirstMarker = 8;
constexpr size_t kFirstHeaderBlock = 16;
constexpr size_t kFirstBody = 32;

std::function<void(DamageTest&)> archiveBytes(std::function<std::string()> bytes) {
  return [bytes](DamageTest& test) { test.writeArchive(bytes()); };
}

std::function<void(DamageTest&)> flipArchiveByte(size_t offset) {
  return archiveBytes([offset] {
    std::string archive = soundArchive();
    archive[offset] ^= 0x01;
    return archive;
  });
}

std::function<void(DamageTest&)> lzmaChange(std::function<void(std::string&)> change) {
  return [change](DamageTest& test) { test.changeLzma(change); };
}

TEST_P(DamageTest, FailsWithOneLineAndNothingEscapes) {
  const DamageCase& c = GetParam();
  ASSERT_NO_FATAL_FAILURE(c.make(*this));
  RunResult result = install({"--prefix", prefix_});
  EXPECT_EQ(failure(expand(c.error, dir_)), result.err);
  EXPECT_EQ(1, result.status);
  if (c.progress) {
    // The line ends where the percentage stood, on a line feed of its own.
    EXPECT_EQ(0u, result.out.find(kHeader + "  0%")) << result.out;
    EXPECT_EQ(result.out.size() - 1, result.out.find('\n', kHeader.size())) << result.out;
  } else {
    EXPECT_EQ(kHeader, result.out);
  }
  EXPECT_FALSE(exists(dir_ + "/escape"));
  EXPECT_FALSE(exists(dir_ + "/absolute"));
}

INSTANTIATE_TEST_SUITE_P(
    Damage, DamageTest,
    ::testing::Values(
        DamageCase{"Missing", [](DamageTest&) {},
                   "File open error: @/kit/install.data: No such file or directory", false},
        DamageCase{"Directory", [](DamageTest& t) { mkdir(t.installData().c_str(), 0755); },
                   "File read error: @/kit/install.data: Is a directory", false},
        DamageCase{"Empty", [](DamageTest& t) { writeFile(t.installData(), ""); },
                   "Exception: data corrupt (invalid header)", false},
        DamageCase{"ShortLzmaHeader", lzmaChange([](std::string& lzma) { lzma.resize(8); }),
                   "Exception: data corrupt (invalid header)", false},
        // The properties byte (pb * 5 + lp) * 9 + lc cannot reach 225.
        DamageCase{"BadProperties", lzmaChange([](std::string& lzma) { lzma[0] = char(225); }),
                   "Exception: data corrupt (LzmaDec_AllocateProbs)", false},
        // The range coder's first byte is always 0.
        DamageCase{"BadRangeCoder", lzmaChange([](std::string& lzma) { lzma[13] = 0x40; }),
                   "Exception: data corrupt (LzmaDec_DecodeToDic)", true},
        DamageCase{"CompressedDataCut",
                   lzmaChange([](std::string& lzma) { lzma.resize(lzma.size() / 2); }),
                   "Exception: unexpected end of input", true},
        DamageCase{"WrongMagic", archiveBytes([] { return "NOTMAGIC" + soundArchive(); }),
                   "Exception: Archive header missing", true},
        DamageCase{"ShortArchive", archiveBytes([] { return std::string("qzrA"); }),
                   "Exception: Archive header missing", true},
        DamageCase{"NewlineTranslated",
                   archiveBytes([] { return "qzrArc\r\n" + soundArchive().substr(8); }),
                   "Exception: newline translation detected", true},
        DamageCase{"OtherVersion",
                   archiveBytes([] { return "qzrArc\n3" + soundArchive().substr(8); }),
                   "Exception: Archive version unsupported: 3", true},
        DamageCase{"OlderFormat",
                   archiveBytes([] { return "qzrLog\n1" + soundArchive().substr(8); }),
                   "Exception: Archive too old", true},
        DamageCase{"MarkerFlipped", flipArchiveByte(kFirstMarker + 3), "Exception: Archive corrupt",
                   true},
        DamageCase{"HeaderFlipped", flipArchiveByte(kFirstHeaderBlock + 1),
                   "Exception: Archive corrupt", true},
        DamageCase{"HeaderCrcFlipped", flipArchiveByte(kFirstHeaderBlock + 15),
                   "Exception: Archive corrupt", true},
        DamageCase{"NameFlipped", flipArchiveByte(kFirstBody), "Exception: Archive corrupt", true},
        DamageCase{"ContentFlipped", flipArchiveByte(kFirstBody + 9), "Exception: Archive corrupt",
                   true},
        DamageCase{"BodyCrcFlipped", flipArchiveByte(kFirstBody + 8 + 10),
                   "Exception: Archive corrupt", true},
        DamageCase{"UnknownType", archiveBytes([] {
                     return testsupport::buildArchive({{5, "odd", "", 0, 0}});
                   }),
                   "Exception: Archive corrupt", true},
        DamageCase{"NoEndEntry", archiveBytes([] {
                     return testsupport::buildArchive({{1, "lib/", "", 0755, 0}}, false, false);
                   }),
                   "Exception: missing EOF marker (writer crashed)", true},
        DamageCase{"CutInBody",
                   archiveBytes([] { return soundArchive().substr(0, kFirstBody + 5); }),
                   "Exception: unexpected end of input", true},
        DamageCase{"ClimbingName", archiveBytes([] {
                     return testsupport::buildArchive({{3, "../escape", "x", 0644, 0}});
                   }),
                   "Exception: Archive: unsafe entry name: ../escape", true},
        DamageCase{
            "AbsoluteName",
            [](DamageTest& t) {
              t.writeArchive(testsupport::buildArchive({{3, t.dir() + "/absolute", "x", 0644, 0}}));
            },
            "Exception: Archive: unsafe entry name: @/absolute", true},
        // The hostile names again, with control bytes: the one line stays
        // one line, and no escape sequence reaches the terminal.
        DamageCase{"ForgedSuccessLine", archiveBytes([] {
                     return testsupport::buildArchive(
                         {{3, "../x\nInstalled all files successfully", "x", 0644, 0}});
                   }),
                   "Exception: Archive: unsafe entry name: ../x\\nInstalled all files successfully",
                   true},
        DamageCase{"ZeroByteInName", archiveBytes([] {
                     return testsupport::buildArchive({{3, std::string("a\0b", 3), "x", 0644, 0}});
                   }),
                   "Exception: Archive: unsafe entry name: a\\000b", true},
        DamageCase{"EscapeInAHardLinkTarget", archiveBytes([] {
                     return testsupport::buildArchive({{2, "h", "../\033[2J\033[H", 0, 0}});
                   }),
                   "Exception: Archive: unsafe link target: ../\\033[2J\\033[H", true},
        DamageCase{"EscapeInALinkInTheWay", archiveBytes([] {
                     return testsupport::buildArchive({{4, "s\033]0;title\a", "/etc", 0, 0},
                                                       {3, "s\033]0;title\a/x", "x", 0644, 0}});
                   }),
                   "Exception: Archive: symbolic link in the way: s\\033]0;title\\a", true}),
    [](const ::testing::TestParamInfo<DamageCase>& info) { return info.param.name; });

// Any changed byte inside install.data makes the installation fail with a
// known message, whichever layer notices.
TEST_F(InstallFlowTest, FlippedBitsAnywhereFailWithAKnownMessage) {
  ASSERT_NO_FATAL_FAILURE(makeKit());
  const std::string sound = readFile(kit_ + "/install.data");
  const std::vector<std::string> known = {
      "Exception: Archive corrupt",
      "Exception: data corrupt (LzmaDec_DecodeToDic)",
      "Exception: data corrupt (LzmaDec_AllocateProbs)",
      "Exception: unexpected end of input",
      "Exception: missing EOF marker (writer crashed)",
      "Exception: Archive header missing",
  };
  // The last block holds only the end of the compressed data, which the
  // installer never needs: the header's size ends the stream before it.
  for (size_t step = 0; step < 10; ++step) {
    size_t offset = step * (sound.size() - 16) / 10;
    std::string damaged = sound;
    damaged[offset] ^= 0x10;
    writeFile(kit_ + "/install.data", damaged);
    testsupport::removeTree(prefix_);
    RunResult result = install({"--prefix", prefix_});
    EXPECT_EQ(1, result.status) << "byte " << offset;
    std::vector<std::string> lines = installtest::lines(result.err);
    ASSERT_EQ(2u, lines.size()) << "byte " << offset << ": " << result.err;
    EXPECT_NE(known.end(), std::find(known.begin(), known.end(), lines[0]))
        << "byte " << offset << ": " << lines[0];
  }
}

// install.data is a named pipe that the test fills: the installer is
// certainly in the middle of the extraction when the signals arrive.
class SigintTest : public InstallFlowTest {
 protected:
  void SetUp() override {
    InstallFlowTest::SetUp();
    ASSERT_NO_FATAL_FAILURE(makeProduct());
    writeFile("product/share/big", installtest::noise(2 << 20), 0644);
    std::vector<std::string> paths = kProductPaths;
    paths.push_back("share/big");
    ASSERT_NO_FATAL_FAILURE(pack(paths, {"-0"}));
    data_ = readFile(kit_ + "/install.data");
    ASSERT_EQ(0, unlink((kit_ + "/install.data").c_str()));
    ASSERT_EQ(0, mkfifo((kit_ + "/install.data").c_str(), 0600));
  }

  void TearDown() override {
    if (pipe_ >= 0) close(pipe_);
    InstallFlowTest::TearDown();
  }

  // Starts the installer and feeds it the first half of install.data; the
  // first entries are on the disk when it returns.
  void startAndFeedHalf(Child& child) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while ((pipe_ = open((kit_ + "/install.data").c_str(), O_WRONLY | O_NONBLOCK)) < 0) {
      ASSERT_TRUE(child.running()) << "the installer ended before it opened install.data";
      ASSERT_LT(std::chrono::steady_clock::now(), deadline);
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_EQ(0, fcntl(pipe_, F_SETFL, 0));
    ASSERT_NO_FATAL_FAILURE(feed(0, data_.size() / 2));
    while (!exists(prefix_ + "/bin/vntc")) {
      ASSERT_LT(std::chrono::steady_clock::now(), deadline);
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }

  void feed(size_t from, size_t to) {
    while (from < to) {
      ssize_t n = write(pipe_, data_.data() + from, to - from);
      ASSERT_GT(n, 0) << "the installer stopped reading";
      from += static_cast<size_t>(n);
    }
  }

  static RunOptions options(const std::string& path) {
    RunOptions options;
    options.env["PATH"] = path;
    return options;
  }

  std::string data_;
  int pipe_ = -1;
};

TEST_F(SigintTest, FirstSigintIsAbsorbed) {
  Child child({kit_ + "/install", "--prefix", prefix_}, options(emptyPath_));
  ASSERT_NO_FATAL_FAILURE(startAndFeedHalf(child));
  ASSERT_EQ(0, kill(child.pid(), SIGINT));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  ASSERT_TRUE(child.running()) << "the first SIGINT must be absorbed";
  ASSERT_NO_FATAL_FAILURE(feed(data_.size() / 2, data_.size()));
  close(pipe_);
  pipe_ = -1;
  RunResult result = child.wait();
  EXPECT_EQ(kHeader + progressLine() + advice(prefix_) + kSuccess, result.out);
  EXPECT_EQ("", result.err);
  EXPECT_EQ(0, result.status);
  EXPECT_EQ(readFile("product/share/big"), readFile(prefix_ + "/share/big"));
}

TEST_F(SigintTest, SecondSigintEndsAtOnceAndLeavesWhatWasExtracted) {
  Child child({kit_ + "/install", "--prefix", prefix_}, options(emptyPath_));
  ASSERT_NO_FATAL_FAILURE(startAndFeedHalf(child));
  ASSERT_EQ(0, kill(child.pid(), SIGINT));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  ASSERT_TRUE(child.running());
  ASSERT_EQ(0, kill(child.pid(), SIGINT));
  RunResult result = child.wait();
  EXPECT_EQ(1, result.status);
  EXPECT_EQ(0, result.signal);
  EXPECT_EQ("", result.err) << "no message, no Install failed";
  EXPECT_EQ(0u, result.out.find(kHeader + "  0%"));
  EXPECT_EQ(std::string::npos, result.out.find('\n', kHeader.size())) << "the line is not ended";
  EXPECT_EQ(readFile("product/bin/vntc"), readFile(prefix_ + "/bin/vntc"));
  EXPECT_FALSE(exists(prefix_ + "/bin/strip")) << "no interceptors";
}

}  // namespace
