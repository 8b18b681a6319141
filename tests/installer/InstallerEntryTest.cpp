// The installer's entry, run as the real program: options, banner, usage
// text, what goes to stdout and to stderr, exit codes and the SIGINT rule.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "BuildConstants.h"
#include "tests/support/TestSupport.h"

namespace {

using testsupport::Child;
using testsupport::RunOptions;
using testsupport::RunResult;

const std::string kBanner =
    std::string("Vantorel install ") + VANTOREL_PLATFORM_NAME + " " + VANTOREL_VERSION + "\n";
const std::string kUsage =
    "Usage: install [options]\n"
    "  --help           Show this message\n"
    "  --prefix <dir>   Install to directory <dir>\n";

RunResult runInstall(const std::vector<std::string>& args, const RunOptions& options = {}) {
  std::vector<std::string> argv{testsupport::installProgram()};
  argv.insert(argv.end(), args.begin(), args.end());
  return testsupport::run(argv, options);
}

struct UsageCase {
  const char* name;
  std::vector<std::string> args;
};

void PrintTo(const UsageCase& c, std::ostream* out) { *out << c.name; }

class UsageTest : public ::testing::TestWithParam<UsageCase> {};

TEST_P(UsageTest, PrintsBannerAndUsageAndFails) {
  RunResult result = runInstall(GetParam().args);
  EXPECT_EQ(kBanner + kUsage, result.out);
  EXPECT_EQ("Install failed\n", result.err);
  EXPECT_EQ(1, result.status);
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, UsageTest,
    ::testing::Values(UsageCase{"Help", {"--help"}}, UsageCase{"Unknown", {"--bogus"}},
                      UsageCase{"PrefixLast", {"--prefix"}},
                      UsageCase{"VerboseWithUnknown", {"-v", "-x"}},
                      UsageCase{"ValidThenHelp", {"--prefix", "/nonexistent/x", "--help"}},
                      UsageCase{"HelpThenValid", {"--help", "--prefix=/nonexistent/x"}},
                      UsageCase{"PrefixWithoutEquals", {"--prefixx"}}, UsageCase{"Empty", {""}}),
    [](const ::testing::TestParamInfo<UsageCase>& info) { return info.param.name; });

// The default directory is seen in the prompt only: the answer names a
// private directory, so nothing is ever installed in the default place.
TEST(InstallerEntryTest, NoArgumentsPromptsForTheDirectory) {
  std::string dir = testsupport::makeTempDir("entry");
  RunOptions options;
  options.input = dir + "/inst\n";
  RunResult result = runInstall({}, options);
  EXPECT_EQ(0u, result.out.find(kBanner + "Use --help for options usage\n" +
                                "Enter the install directory [/Applications/Vantorel]\n"))
      << result.out;
  EXPECT_EQ(1, result.status);
  ASSERT_GE(result.err.size(), 15u);
  EXPECT_EQ("Install failed\n", result.err.substr(result.err.size() - 15));
  EXPECT_EQ(1, std::count(result.err.begin(), result.err.end(), '\n') - 1)
      << "one failure line, then Install failed: " << result.err;
  testsupport::removeTree(dir);
}

TEST(InstallerEntryTest, EmptyPrefixAssignmentStillPrompts) {
  std::string dir = testsupport::makeTempDir("entry");
  RunOptions options;
  options.input = dir + "/inst\n";
  RunResult result = runInstall({"--prefix="}, options);
  EXPECT_NE(std::string::npos, result.out.find("Enter the install directory")) << result.out;
  testsupport::removeTree(dir);
}

TEST(InstallerEntryTest, PrefixSkipsThePrompt) {
  std::string dir = testsupport::makeTempDir("entry");
  for (std::vector<std::string> args :
       {std::vector<std::string>{"--prefix=" + dir + "/a"}, {"--prefix", dir + "/b"}}) {
    RunResult result = runInstall(args);
    EXPECT_EQ(kBanner + "Use --help for options usage\n", result.out) << args[0];
    EXPECT_EQ(1, result.status) << "no install.data beside the program";
  }
  testsupport::removeTree(dir);
}

// Waits for the installer's prompt, then sends the SIGINT it must absorb.
void interruptAtThePrompt(Child& child) {
  ASSERT_TRUE(child.waitForOutput("Enter the install directory"));
  ASSERT_EQ(0, kill(child.pid(), SIGINT));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_TRUE(child.running()) << "the first SIGINT must be absorbed";
}

// The first SIGINT is absorbed; the second ends the process at once with
// status 1 and nothing more on stderr. The prompt holds the installer still
// while the signals arrive.
TEST(InstallerEntryTest, SecondSigintEndsTheProcessWithStatusOne) {
  RunOptions options;
  options.keepInputOpen = true;
  Child child({testsupport::installProgram()}, options);
  ASSERT_NO_FATAL_FAILURE(interruptAtThePrompt(child));
  ASSERT_EQ(0, kill(child.pid(), SIGINT));
  RunResult result = child.wait();
  EXPECT_EQ(1, result.status);
  EXPECT_EQ(0, result.signal);
  EXPECT_EQ("", result.err);
}

// An absorbed SIGINT while the prompt waits leaves the answer to come: it is
// not taken for an empty answer (which would choose the default directory).
TEST(InstallerEntryTest, SigintAtThePromptKeepsTheAnswerToCome) {
  std::string dir = testsupport::makeTempDir("entry");
  RunOptions options;
  options.keepInputOpen = true;
  Child child({testsupport::installProgram()}, options);
  ASSERT_NO_FATAL_FAILURE(interruptAtThePrompt(child));
  child.answer(dir + "/chosen\n");
  RunResult result = child.wait();
  EXPECT_EQ(1, result.status) << "no install.data beside the program";
  struct stat status;
  EXPECT_EQ(0, stat((dir + "/chosen").c_str(), &status)) << "the typed answer was used";
  testsupport::removeTree(dir);
}

// install.data is a named pipe that the test feeds, so the installer waits
// for input in the middle of the extraction, its decoder's threads running,
// while the test acts on it.
class PipedInstallDataTest : public testsupport::TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    ASSERT_EQ(0, mkdir("src", 0755));
    // Bytes that hardly compress: half of install.data stops the
    // extraction in the middle of this file.
    std::string big(600000, '\0');
    uint32_t state = 1;
    for (char& byte : big) {
      state = state * 1103515245u + 12345u;
      byte = static_cast<char>(state >> 16);
    }
    testsupport::writeFile("src/big", big);
    testsupport::writeFile("src/small", "small");
    RunResult made = testsupport::run(
        {testsupport::installdataProgram(), "create", "-o", "data", "-C", "src", "big", "small"});
    ASSERT_EQ(0, made.status) << made.err;
    data_ = testsupport::readFile("data");
    ASSERT_EQ(0, mkdir("kit", 0755));
    ASSERT_EQ(0, symlink(testsupport::installProgram().c_str(), "kit/install"));
    ASSERT_EQ(0, mkfifo("kit/install.data", 0600));
  }

  // Opens the pipe once the installer has opened it for reading.
  int openPipe() {
    for (int tries = 0; tries < 2000; ++tries) {
      int fd = open("kit/install.data", O_WRONLY | O_NONBLOCK);
      if (fd >= 0) {
        fcntl(fd, F_SETFL, 0);  // blocking writes from here on
        return fd;
      }
      usleep(5000);
    }
    return -1;
  }

  void writeAll(int fd, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
      ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
      ASSERT_LT(0, n);
      done += static_cast<size_t>(n);
    }
  }

  // Whole cipher blocks: the installer waits for the rest of a block.
  size_t half() const { return data_.size() / 2 / 8 * 8; }

  // Feeds the first half of install.data; returns the pipe, or -1 when the
  // installer never opens it.
  int feedHalf() {
    int fd = openPipe();
    if (fd < 0) {
      ADD_FAILURE() << "the installer never opened install.data";
      return -1;
    }
    writeAll(fd, data_.substr(0, half()));
    return fd;
  }

  std::string data_;
};

// The SIGINT rule while the installer's read-ahead threads run.
class SigintDuringExtractionTest : public PipedInstallDataTest {
 protected:
  // Feeds the first half of install.data, waits for the percentage, sends
  // one SIGINT and checks that the installer goes on; returns the pipe, or
  // -1 after a failure.
  int feedHalfAndInterrupt(Child& child) {
    int fd = feedHalf();
    if (fd < 0) return -1;
    bool started = child.waitForOutput("  0%");
    EXPECT_TRUE(started) << "no percentage shown";
    EXPECT_EQ(0, kill(child.pid(), SIGINT));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    bool running = child.running();
    EXPECT_TRUE(running) << "the first SIGINT must be absorbed";
    if (!started || !running) {
      close(fd);
      return -1;
    }
    return fd;
  }
};

TEST_F(SigintDuringExtractionTest, FirstIsAbsorbedAndTheInstallationCompletes) {
  Child child({dir_ + "/kit/install", "--prefix", dir_ + "/inst"}, RunOptions());
  int fd = feedHalfAndInterrupt(child);
  ASSERT_LE(0, fd);
  writeAll(fd, data_.substr(half()));
  close(fd);
  RunResult result = child.wait();
  EXPECT_EQ(0, result.status) << result.err;
  EXPECT_EQ("", result.err);
  EXPECT_NE(std::string::npos, result.out.find("\b\b\b\b100%\n")) << result.out;
  const std::string kDone = "Installed all files successfully\n";
  ASSERT_LE(kDone.size(), result.out.size());
  EXPECT_EQ(kDone, result.out.substr(result.out.size() - kDone.size()));
  EXPECT_EQ("small", testsupport::readFile(dir_ + "/inst/small"));
}

TEST_F(SigintDuringExtractionTest, SecondEndsTheProcessWithStatusOne) {
  Child child({dir_ + "/kit/install", "--prefix", dir_ + "/inst"}, RunOptions());
  int fd = feedHalfAndInterrupt(child);
  ASSERT_LE(0, fd);
  ASSERT_EQ(0, kill(child.pid(), SIGINT));
  RunResult result = child.wait();
  close(fd);
  EXPECT_EQ(1, result.status);
  EXPECT_EQ(0, result.signal);
  EXPECT_EQ("", result.err);
  EXPECT_EQ(std::string::npos, result.out.find("Installed")) << result.out;
}

// `install --prefix P | head -c 10`: the reader of standard output goes
// away in the middle of the extraction. The next write to it, the
// percentage's or a message's, fails like any other write: one line,
// "Install failed" and status 1, not a silent end by SIGPIPE.
class ClosedOutputTest : public PipedInstallDataTest {};

TEST_F(ClosedOutputTest, WriteToAClosedPipeFailsWithOneLineAndStatusOne) {
  struct {
    std::vector<std::string> options;
    // What stdout shows before the reader goes.
    std::string seen;
  } cases[] = {
      {{}, "  0%"},                                // the percentage fails
      {{"-v"}, "Use --help for options usage\n"},  // the final messages fail
  };
  for (const auto& c : cases) {
    std::vector<std::string> argv{dir_ + "/kit/install", "--prefix", dir_ + "/inst"};
    argv.insert(argv.end(), c.options.begin(), c.options.end());
    Child child(argv, RunOptions());
    int fd = feedHalf();
    ASSERT_LE(0, fd);
    EXPECT_TRUE(child.waitForOutput(c.seen)) << c.seen;
    child.closeOutput();
    // The installer may end before it has read the rest.
    std::string rest = data_.substr(half());
    for (size_t done = 0; done < rest.size();) {
      ssize_t n = write(fd, rest.data() + done, rest.size() - done);
      if (n <= 0) break;
      done += static_cast<size_t>(n);
    }
    close(fd);
    RunResult result = child.wait();
    EXPECT_EQ(0, result.signal) << c.seen;
    EXPECT_EQ(1, result.status) << c.seen;
    const std::string kFailure = "File write error: standard output: Broken pipe\nInstall failed\n";
    ASSERT_LE(kFailure.size(), result.err.size()) << result.err;
    EXPECT_EQ(kFailure, result.err.substr(result.err.size() - kFailure.size())) << result.err;
    EXPECT_EQ(c.options.empty() ? 2 : 6, std::count(result.err.begin(), result.err.end(), '\n'))
        << "nothing else on stderr, or the verbose lines first: " << result.err;
    testsupport::removeTree(dir_ + "/inst");
  }
}

}  // namespace
