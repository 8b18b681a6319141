// The installer's entry, run as the real program: options, banner, usage
// text, what goes to stdout and to stderr, exit codes and the SIGINT rule.
#include <gtest/gtest.h>
#include <signal.h>
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
                      UsageCase{"PrefixWithoutEquals", {"--prefixx"}},
                      UsageCase{"Empty", {""}}),
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

// The first SIGINT is absorbed; the second ends the process at once with
// status 1 and nothing more on stderr. The prompt holds the installer still
// while the signals arrive.
TEST(InstallerEntryTest, SecondSigintEndsTheProcessWithStatusOne) {
  RunOptions options;
  options.keepInputOpen = true;
  Child child({testsupport::installProgram()}, options);
  ASSERT_TRUE(child.waitForOutput("Enter the install directory"));
  ASSERT_EQ(0, kill(child.pid(), SIGINT));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_TRUE(child.running()) << "the first SIGINT must be absorbed";
  ASSERT_EQ(0, kill(child.pid(), SIGINT));
  RunResult result = child.wait();
  EXPECT_EQ(1, result.status);
  EXPECT_EQ(0, result.signal);
  EXPECT_EQ("", result.err);
}

}  // namespace
