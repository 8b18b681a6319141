// The installer's entry, run as the real program: options, banner, usage
// text, what goes to stdout and to stderr, exit codes and the SIGINT rule.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

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

TEST(InstallerEntryTest, NoArgumentsPromptsForTheDirectory) {
  RunResult result = runInstall({});
  EXPECT_EQ(0u, result.out.find(kBanner + "Use --help for options usage\n" +
                                "Enter the install directory [/Applications/Vantorel]\n"))
      << result.out;
  EXPECT_EQ(1, result.status);
  ASSERT_GE(result.err.size(), 15u);
  EXPECT_EQ("Install failed\n", result.err.substr(result.err.size() - 15));
  EXPECT_EQ(0u, result.err.find("Exception: ")) << "one failure line, then Install failed";
}

TEST(InstallerEntryTest, EmptyPrefixAssignmentStillPrompts) {
  RunResult result = runInstall({"--prefix="});
  EXPECT_NE(std::string::npos, result.out.find("Enter the install directory")) << result.out;
}

TEST(InstallerEntryTest, PrefixSkipsThePrompt) {
  for (const char* form : {"--prefix=/nonexistent/dir", "--prefix"}) {
    std::vector<std::string> args{form};
    if (std::string(form) == "--prefix") args.push_back("/nonexistent/dir");
    RunResult result = runInstall(args);
    EXPECT_EQ(kBanner + "Use --help for options usage\n", result.out) << form;
    EXPECT_EQ(1, result.status);
  }
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
