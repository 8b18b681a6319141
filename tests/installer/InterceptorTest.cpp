// The compiler interceptors, made by the real installer after a real
// extraction: which names get a link to vntc, where they are searched for
// (PATH, the extra directories, "install-path"), a reinstallation, and when
// the user is told to put bin at the front of PATH.
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "tests/archive/ArchiveTestSupport.h"
#include "tests/installer/InstallTestSupport.h"
#include "tests/support/TestSupport.h"

namespace {

using installtest::advice;
using installtest::interceptorNames;
using installtest::kHeader;
using installtest::kSuccess;
using installtest::kTools;
using installtest::progressLine;
using testsupport::RunOptions;
using testsupport::RunResult;
using testsupport::writeFile;

// One entry of a fake compiler directory: a file with `mode`, or a
// directory when the mode is 0.
struct FakeEntry {
  std::string name;
  int mode = 0755;
};

class InterceptorTest : public installtest::InstallTest {
 protected:
  void SetUp() override {
    InstallTest::SetUp();
    ASSERT_NO_FATAL_FAILURE(makeKit());
  }

  // Makes `directory` (relative to the private directory) with `entries`;
  // returns its absolute name.
  std::string makeDirectory(const std::string& directory, const std::vector<FakeEntry>& entries) {
    std::string path = dir_ + "/" + directory;
    EXPECT_EQ(0, mkdir(path.c_str(), 0755)) << path;
    for (const FakeEntry& e : entries) {
      if (e.mode == 0) {
        EXPECT_EQ(0, mkdir((path + "/" + e.name).c_str(), 0755)) << e.name;
      } else {
        writeFile(path + "/" + e.name, "#!/bin/sh\necho real\n", e.mode);
      }
    }
    return path;
  }

  // A verbose installation into `prefix` with PATH set to `path`, or
  // unset.
  RunResult installVerbose(const std::string& prefix, std::optional<std::string> path) {
    RunOptions options;
    options.env["PATH"] = path;
    return install({"-v", "--prefix", prefix}, options);
  }

  // The text of the link bin/`name` below `prefix`, or "" when there is
  // none.
  static std::string linkText(const std::string& prefix, const std::string& name) {
    char text[256];
    ssize_t n = readlink((prefix + "/bin/" + name).c_str(), text, sizeof text);
    return n < 0 ? std::string() : std::string(text, static_cast<size_t>(n));
  }

  // `names` are the tools in their order, then `compilers` in any order
  // (a directory's own order).
  static void expectInterceptors(const std::vector<std::string>& compilers,
                                 std::vector<std::string> names, const std::string& context) {
    size_t tools = std::min(names.size(), kTools.size());
    EXPECT_EQ(kTools, std::vector<std::string>(names.begin(), names.begin() + tools)) << context;
    names.erase(names.begin(), names.begin() + static_cast<long>(tools));
    std::sort(names.begin(), names.end());
    std::vector<std::string> expected = compilers;
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(expected, names) << context;
  }
};

TEST_F(InterceptorTest, CompilerDriverNamesAlongPathGetALinkToVntc) {
  struct {
    FakeEntry entry;
    bool intercepted;
  } cases[] = {
      {{"gcc"}, true},
      {{"cc"}, true},
      {{"c++"}, true},
      {{"clang++"}, true},
      {{"x86_64-linux-gnu-gcc-4.8"}, true},
      {{"gcc-4.2"}, true},
      {{"g++-12"}, true},
      {{"arm-none-eabi-g++"}, true},
      {{"c99-gcc"}, true},
      {{"CC"}, true},
      {{"xt-xc++"}, true},
      // Only the name decides: neither the type nor the mode.
      {{"icc", 0644}, true},
      {{"clang", 0}, true},
      {{"gcc-x"}, false},
      {{"gcc-"}, false},
      {{"g++-0"}, false},
      {{"x86_64-linux-gnu-gcc-ar"}, false},
      {{"Gcc"}, false},
      {{"ccache"}, false},
      {{"cc1"}, false},
      {{"clang-format"}, false},
  };
  std::vector<FakeEntry> entries;
  std::vector<std::string> intercepted;
  std::set<std::string> ours;
  for (const auto& c : cases) {
    entries.push_back(c.entry);
    ours.insert(c.entry.name);
    if (c.intercepted) intercepted.push_back(c.entry.name);
  }
  std::string compilers = makeDirectory("compilers", entries);

  RunResult result = installVerbose(prefix_, compilers);
  ASSERT_EQ(0, result.status) << result.err;
  expectInterceptors(intercepted, interceptorNames(result.err, ours), "interceptor lines");
  for (const auto& c : cases) {
    EXPECT_EQ(c.intercepted ? "vntc" : "", linkText(prefix_, c.entry.name)) << c.entry.name;
  }
  for (const std::string& tool : kTools) EXPECT_EQ("vntc", linkText(prefix_, tool)) << tool;
  // PATH reaches compilers/gcc, not the link.
  EXPECT_EQ(kHeader + advice(prefix_) + kSuccess, result.out);
}

TEST_F(InterceptorTest, NameInTwoDirectoriesGetsOneInterceptor) {
  std::string first = makeDirectory("first", {{"gcc"}});
  std::string second = makeDirectory("second", {{"gcc"}, {"cc"}});
  RunResult result = installVerbose(prefix_, first + ":" + second);
  ASSERT_EQ(0, result.status) << result.err;
  std::vector<std::string> expected = kTools;
  expected.insert(expected.end(), {"gcc", "cc"});
  EXPECT_EQ(expected, interceptorNames(result.err, {"gcc", "cc"}));
}

// "install-path" in the installation directory names one more directory,
// on its first line; a relative name is taken from the installation
// directory.
TEST_F(InterceptorTest, InstallPathNamesOneMoreDirectory) {
  std::string extra = makeDirectory("extra", {{"gcc-9"}});
  std::string other = makeDirectory("other", {{"cc"}});
  struct {
    const char* name;
    std::optional<std::string> content;
    std::vector<std::string> compilers;
  } cases[] = {
      {"FirstLine", extra + "\n" + other + "\n", {"gcc-9"}},
      {"NoNewline", extra, {"gcc-9"}},
      {"Relative", std::string("relative\n"), {"clang"}},
      {"Empty", std::string(), {}},
      {"NotADirectory", extra + "/gcc-9\n", {}},
      {"Missing", std::nullopt, {}},
  };
  for (const auto& c : cases) {
    std::string prefix = dir_ + "/" + c.name;
    ASSERT_EQ(0, mkdir(prefix.c_str(), 0755));
    ASSERT_EQ(0, mkdir((prefix + "/relative").c_str(), 0755));
    writeFile(prefix + "/relative/clang", "", 0755);
    if (c.content) writeFile(prefix + "/install-path", *c.content);
    RunResult result = installVerbose(prefix, emptyPath_);
    ASSERT_EQ(0, result.status) << c.name << ": " << result.err;
    expectInterceptors(c.compilers, interceptorNames(result.err, {"gcc-9", "cc", "clang"}), c.name);
  }
}

// "install-path" is used only when it is a regular file, opened without
// following a link and without waiting for a writer, and only its first
// line: a link to a FIFO hung the installer, and a link to a large file
// filled its memory.
TEST_F(InterceptorTest, InstallPathIsUsedOnlyWhenItIsARegularFile) {
  std::string extra = makeDirectory("extra", {{"gcc-9"}});
  writeFile(dir_ + "/list", extra + "\n");
  ASSERT_EQ(0, mkfifo((dir_ + "/fifo").c_str(), 0644));
  struct {
    const char* name;
    std::function<void(const std::string&)> make;
    std::vector<std::string> compilers;
  } cases[] = {
      {"Fifo", [](const std::string& p) { mkfifo(p.c_str(), 0644); }, {}},
      {"LinkToAFifo",
       [&](const std::string& p) { symlink((dir_ + "/fifo").c_str(), p.c_str()); },
       {}},
      {"LinkToAFile",
       [&](const std::string& p) { symlink((dir_ + "/list").c_str(), p.c_str()); },
       {}},
      {"Directory", [](const std::string& p) { mkdir(p.c_str(), 0755); }, {}},
      {"LargeFile",
       [&](const std::string& p) { writeFile(p, extra + "\n" + std::string(8 << 20, 'x')); },
       {"gcc-9"}},
  };
  for (const auto& c : cases) {
    std::string prefix = dir_ + "/" + c.name;
    ASSERT_EQ(0, mkdir(prefix.c_str(), 0755));
    c.make(prefix + "/install-path");
    RunOptions options;
    options.env["PATH"] = emptyPath_;
    options.timeoutSeconds = 30;
    RunResult result = install({"-v", "--prefix", prefix}, options);
    EXPECT_FALSE(result.timedOut) << c.name;
    ASSERT_EQ(0, result.status) << c.name << ": " << result.err;
    expectInterceptors(c.compilers, interceptorNames(result.err, {"gcc-9"}), c.name);
  }
}

// With PATH unset, the search list starts with an empty element, which is
// skipped; no PATH search reaches a link, so the advice follows.
TEST_F(InterceptorTest, PathUnsetSearchesOnlyTheExtraDirectories) {
  std::string extra = makeDirectory("extra", {{"gcc"}});
  ASSERT_EQ(0, mkdir(prefix_.c_str(), 0755));
  writeFile(prefix_ + "/install-path", extra + "\n");
  RunResult result = installVerbose(prefix_, std::nullopt);
  ASSERT_EQ(0, result.status) << result.err;
  expectInterceptors({"gcc"}, interceptorNames(result.err, {"gcc"}), "PATH unset");
  EXPECT_EQ(kHeader + advice(prefix_) + kSuccess, result.out);
}

// Every link of the first run already reaches a regular file: nothing is
// made again, nothing printed, and the links do not call for the advice.
TEST_F(InterceptorTest, ReinstallMakesAndPrintsNoInterceptors) {
  std::string compilers = makeDirectory("compilers", {{"gcc"}, {"cc"}});
  RunResult first = installVerbose(prefix_, compilers);
  ASSERT_EQ(0, first.status) << first.err;
  ASSERT_NE(std::string::npos, first.err.find("interceptor bin/gcc\n"));
  RunResult second = installVerbose(prefix_, compilers);
  EXPECT_EQ(0, second.status) << second.err;
  EXPECT_EQ(std::string::npos, second.err.find("interceptor")) << second.err;
  EXPECT_EQ(kHeader + kSuccess, second.out);
  EXPECT_EQ("vntc", linkText(prefix_, "gcc"));
}

// An archive that makes bin a symbolic link to some other directory gets no
// interceptors there: nothing is written through the link.
TEST_F(InterceptorTest, NoInterceptorsThroughABinThatIsALink) {
  std::string elsewhere = makeDirectory("elsewhere", {});
  std::string compilers = makeDirectory("compilers", {{"gcc"}});
  ASSERT_NO_FATAL_FAILURE(
      writeInstallData(testsupport::buildArchive({{4, "bin", elsewhere, 0, 0}})));
  RunResult result = installVerbose(prefix_, compilers);
  EXPECT_EQ(0, result.status) << result.err;
  EXPECT_EQ(kHeader + advice(prefix_) + kSuccess, result.out);
  EXPECT_EQ("mkdir " + prefix_ + "/\nextract " + kit_ + "/install.data\n           bin -> " +
                elsewhere + "\n",
            result.err)
      << "no interceptor line for a link that is not attempted";
  DIR* dir = opendir(elsewhere.c_str());
  ASSERT_NE(nullptr, dir);
  std::vector<std::string> names;
  while (struct dirent* e = readdir(dir)) names.push_back(e->d_name);
  closedir(dir);
  std::sort(names.begin(), names.end());
  EXPECT_EQ((std::vector<std::string>{".", ".."}), names) << "nothing was made elsewhere";
}

// A compiler's name cannot forge a line: its control bytes are escaped in
// the interceptor line, and the link has the name's own bytes.
TEST_F(InterceptorTest, InterceptorLineShowsControlBytesEscaped) {
  const std::string kName = "gcc-1\nInstalled all files successfully\033[2J";
  std::string compilers = makeDirectory("compilers", {{kName}});
  RunResult result = installVerbose(prefix_, compilers);
  ASSERT_EQ(0, result.status) << result.err;
  EXPECT_NE(std::string::npos,
            result.err.find("\ninterceptor bin/gcc-1\\nInstalled all files successfully\\033[2J\n"))
      << result.err;
  EXPECT_EQ(std::string::npos, result.err.find('\033')) << result.err;
  EXPECT_EQ("vntc", linkText(prefix_, kName));
}

// The advice appears exactly when a PATH search for some intercepted name
// reaches something other than its link.
TEST_F(InterceptorTest, PathAdviceWhenPathDoesNotReachTheLinksFirst) {
  struct {
    const char* name;
    std::vector<FakeEntry> compilers;
    // PATH: "bin" is the installation's bin, "fake" the directory of
    // `compilers`.
    std::vector<std::string> path;
    bool advice;
  } cases[] = {
      {"BinFirst", {{"gcc"}, {"strip"}}, {"bin", "fake"}, false},
      {"CompilerFirst", {{"gcc"}}, {"fake", "bin"}, true},
      {"ToolFirst", {{"strip"}}, {"fake", "bin"}, true},
      // The search passes over a file without an execute bit.
      {"NotExecutableFirst", {{"gcc", 0644}}, {"fake", "bin"}, false},
      {"BinNotOnPath", {}, {"fake"}, true},
  };
  for (const auto& c : cases) {
    std::string prefix = dir_ + "/" + c.name;
    std::string fake = makeDirectory(std::string(c.name) + "-fake", c.compilers);
    std::string path;
    for (const std::string& element : c.path) {
      path += (path.empty() ? "" : ":") + (element == "bin" ? prefix + "/bin" : fake);
    }
    RunOptions options;
    options.env["PATH"] = path;
    RunResult result = install({"--prefix", prefix}, options);
    EXPECT_EQ(kHeader + progressLine() + (c.advice ? advice(prefix) : "") + kSuccess, result.out)
        << c.name;
    EXPECT_EQ(0, result.status) << c.name << ": " << result.err;
  }
}

}  // namespace
