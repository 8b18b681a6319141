// Parsing and quoting command lines, owning their arguments, response files,
// and starting, running and exec'ing them.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "io/RandomAccessFile.h"
#include "lang/Exception.h"
#include "platform/CommandLine.h"
#include "platform/Environment.h"
#include "tests/support/TestSupport.h"

namespace {

using testsupport::str;
using testsupport::writeFile;

std::vector<std::string> argumentsOf(const CommandLine& command) {
  std::vector<std::string> arguments;
  for (uint32_t i = 0; i < command.size(); ++i) arguments.push_back(str(command.get(i)));
  return arguments;
}

CommandLine commandOf(const std::vector<std::string>& arguments) {
  CommandLine command;
  for (const std::string& argument : arguments) {
    command.add(String(argument.data(), static_cast<uint32_t>(argument.size())));
  }
  return command;
}

TEST(CommandLineTest, ParsesBlanksQuotesAndBackslashes) {
  struct {
    const char* text;
    std::vector<std::string> want;
  } cases[] = {
      {"p \"q r\" s\\ t \"\"", {"p", "q r", "s t", ""}},
      {"  a\tb\nc\r ", {"a", "b", "c"}},
      {"a\"b c\"d", {"ab cd"}},
      {"\"\"\"\"", {""}},
      {"\\\"quoted\\\"", {"\"quoted\""}},
      {"two\\\\ one", {"two\\", "one"}},
      {"\"in \\\" quotes\"", {"in \" quotes"}},
      {"end\\", {"end\\"}},
      {"\"open quote", {"open quote"}},
      {"", {}},
      {" \t ", {}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.want, argumentsOf(CommandLine(c.text))) << c.text;
  }
  CommandLine command("old arguments");
  command.parse(String("new\0ignored after the zero byte", 31));
  EXPECT_EQ(std::vector<std::string>{"new"}, argumentsOf(command));
}

TEST(CommandLineTest, QuotesWhatNeedsItAndParsesBackTheSame) {
  struct {
    std::vector<std::string> arguments;
    const char* text;
    bool roundTrips;
  } cases[] = {
      {{"cc", "-c", "a.c"}, "cc -c a.c", true},
      {{"say \"hi\""}, "\"say \\\"hi\\\"\"", true},
      {{"dir with\\"}, "\"dir with\\\\\"", true},
      {{"two at end\\\\"}, "\"two at end\\\\\\\\\"", true},
      {{"tab\there", "line\nfeed", "cr\r"}, "\"tab\there\" \"line\nfeed\" \"cr\r\"", true},
      {{"no\"blank"}, "no\\\"blank", true},
      // Backslashes outside quotes are written as they are, and parsing
      // takes them as escapes.
      {{"plain\\path"}, "plain\\path", false},
      // An empty argument leaves only its blank.
      {{"", "x"}, " x", false},
  };
  for (const auto& c : cases) {
    CommandLine command = commandOf(c.arguments);
    EXPECT_EQ(c.text, str(command.toString()));
    std::vector<std::string> back = argumentsOf(CommandLine(command.toString()));
    EXPECT_EQ(c.roundTrips, back == c.arguments) << c.text;
  }
  EXPECT_EQ(std::vector<std::string>{"plainpath"},
            argumentsOf(CommandLine(commandOf({"plain\\path"}).toString())));
}

TEST(CommandLineTest, ArgumentsAreOwnedCopiedAndInserted) {
  const char* const argv[] = {"prog", "a", nullptr};
  CommandLine command(argv);
  command.add(String("z"));
  command.insert(1, "first");
  command.insert(4, String("last"));
  EXPECT_EQ((std::vector<std::string>{"prog", "first", "a", "z", "last"}), argumentsOf(command));
  EXPECT_THROW_TEXT(command.insert(6, "beyond"), Exception,
                    "Exception: Vector index out of bounds in add");
  EXPECT_EQ("", str(command.get(5)));
  EXPECT_EQ("", str(command.get(1000)));

  CommandLine copy(command);
  command.remove(1);
  command.set(0, new String("other"));
  EXPECT_EQ((std::vector<std::string>{"prog", "first", "a", "z", "last"}), argumentsOf(copy));

  CommandLine more("x y");
  copy.insert(1, more);
  copy.add(more);
  copy.insert(0, copy);
  EXPECT_EQ((std::vector<std::string>{"prog", "x", "y", "first", "a", "z", "last", "x", "y", "prog",
                                      "x", "y", "first", "a", "z", "last", "x", "y"}),
            argumentsOf(copy));
  copy = more;
  CommandLine& alias = copy;
  copy = alias;
  EXPECT_EQ((std::vector<std::string>{"x", "y"}), argumentsOf(copy));

  copy.setSize(3);
  char* const* array = copy.getArgv();
  EXPECT_STREQ("x", array[0]);
  EXPECT_STREQ("y", array[1]);
  EXPECT_STREQ("", array[2]);
  EXPECT_EQ(nullptr, array[3]);
}

// The environment reaches the child, and VS_UNICODE_OUTPUT never does.
TEST(CommandLineTest, StartPassesTheEnvironmentWithoutUnicodeOutput) {
  const char* check =
      "sh -c \"test -z \\\"${VS_UNICODE_OUTPUT+set}\\\" && test \\\"$KEEP\\\" = yes\"";
  setenv("VS_UNICODE_OUTPUT", "1", 1);
  setenv("KEEP", "yes", 1);
  EXPECT_EQ(0, CommandLine(check).run());

  Environment own;
  own.set("KEEP=yes");
  own.set("VS_UNICODE_OUTPUT=2");
  unsetenv("KEEP");
  CommandLine command(check);
  command.setEnvironment(own);
  EXPECT_EQ(0, command.run());
  EXPECT_STREQ("2", own.getValue("VS_UNICODE_OUTPUT")) << "the caller's copy is untouched";
  CommandLine copy(command);
  command.setEnvironment(Environment());
  EXPECT_EQ(0, copy.run()) << "a copy takes the environment along";
  EXPECT_EQ(1, command.run());
  unsetenv("VS_UNICODE_OUTPUT");
}

TEST(CommandLineTest, RunGivesTheRawExitCode) {
  EXPECT_EQ(3, CommandLine("sh -c \"exit 3\"").run());
  EXPECT_EQ(128 + ENOENT, CommandLine("no-such-program-anywhere").run());
  EXPECT_EQ(128 + 9, CommandLine("sh -c \"kill -9 $$\"").run());
  pid_t pid = CommandLine("sh -c \"exit 4\"").start();
  ASSERT_GT(pid, 0);
  int status = 0;
  ASSERT_EQ(pid, waitpid(pid, &status, 0));
  EXPECT_EQ(4, WEXITSTATUS(status));
  EXPECT_EQ(-1, CommandLine().start());
  EXPECT_EQ(-1, CommandLine().run());
}

// Runs exec() in a child; returns its exit code and the text of what it
// raised.
int execInChild(CommandLine& command, std::string* raised) {
  int channel[2];
  if (pipe(channel) != 0) return -1;
  fflush(stdout);
  fflush(stderr);
  pid_t pid = fork();
  if (pid == 0) {
    close(channel[0]);
    try {
      command.exec();
    } catch (const Exception& e) {
      std::string text = str(e.toString());
      ssize_t written = write(channel[1], text.data(), text.size());
      _exit(written == static_cast<ssize_t>(text.size()) ? 99 : 98);
    }
    _exit(97);
  }
  close(channel[1]);
  char buffer[256];
  ssize_t count;
  raised->clear();
  while ((count = read(channel[0], buffer, sizeof buffer)) > 0) raised->append(buffer, count);
  close(channel[0]);
  int status = 0;
  if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

TEST(CommandLineTest, ExecReplacesTheProcessOrRaises) {
  std::string raised;
  CommandLine replaced("sh -c \"exit 7\"");
  EXPECT_EQ(7, execInChild(replaced, &raised));
  EXPECT_EQ("", raised);

  Environment own;
  own.clear();
  own.set("CODE=6");
  CommandLine withEnvironment("sh -c \"exit $CODE\"");
  withEnvironment.setEnvironment(own);
  EXPECT_EQ(6, execInChild(withEnvironment, &raised));

  CommandLine missing("no-such-program-anywhere --flag");
  EXPECT_EQ(99, execInChild(missing, &raised));
  EXPECT_EQ("Exception: cannot exec no-such-program-anywhere: No such file or directory", raised);
  missing.setEnvironment(own);
  EXPECT_EQ(99, execInChild(missing, &raised));
  EXPECT_EQ("Exception: cannot exec no-such-program-anywhere: No such file or directory", raised);

  CommandLine empty;
  EXPECT_EQ(99, execInChild(empty, &raised));
  EXPECT_EQ("Exception: cannot exec : Invalid argument", raised);
}

class CommandLineFileTest : public testsupport::TempDirTest {};

TEST_F(CommandLineFileTest, ExpandsResponseFilesInPlaceAndInTurn) {
  writeFile("outer.rsp", "one \"two three\"\n@inner.rsp four");
  writeFile("inner.rsp", std::string("x @empty.rsp y\0ignored @missing.rsp", 35));
  writeFile("empty.rsp", "");
  CommandLine command("cc @outer.rsp @empty.rsp last");
  command.expandResponseFiles();
  EXPECT_EQ((std::vector<std::string>{"cc", "one", "two three", "x", "y", "four", "last"}),
            argumentsOf(command));
}

TEST_F(CommandLineFileTest, ResponseFileFailuresPassOn) {
  CommandLine command("cc @missing.rsp");
  EXPECT_THROW_TEXT(command.expandResponseFiles(), RandomAccessFile::Exception,
                    "File open error: missing.rsp: No such file or directory");
  CommandLine bare("cc @");
  EXPECT_THROW_TEXT(bare.expandResponseFiles(), RandomAccessFile::Exception,
                    "File open error: No such file or directory");
}

// A response file that names itself, or a chain deeper than the bound,
// stops with an error; files side by side do not add to the depth.
TEST_F(CommandLineFileTest, ResponseFileNestingIsBounded) {
  writeFile("self.rsp", "a @self.rsp");
  CommandLine self("@self.rsp");
  EXPECT_THROW_TEXT(self.expandResponseFiles(), Exception,
                    "Exception: response files nested too deeply: @self.rsp");

  const uint32_t depth = CommandLine::kMaxResponseFileDepth;
  for (uint32_t i = 1; i <= depth + 1; ++i) {
    writeFile("r" + std::to_string(i) + ".rsp",
              i == depth ? "end" : "@r" + std::to_string(i + 1) + ".rsp");
  }
  CommandLine deepest("@r1.rsp");
  deepest.expandResponseFiles();
  EXPECT_EQ(std::vector<std::string>{"end"}, argumentsOf(deepest));
  writeFile("r" + std::to_string(depth) + ".rsp", "@r" + std::to_string(depth + 1) + ".rsp");
  CommandLine tooDeep("@r1.rsp");
  EXPECT_THROW_TEXT(
      tooDeep.expandResponseFiles(), Exception,
      "Exception: response files nested too deeply: @r" + std::to_string(depth + 1) + ".rsp");

  std::string many;
  for (uint32_t i = 0; i < depth * 2; ++i) many += "@leaf.rsp ";
  writeFile("leaf.rsp", "leaf");
  writeFile("wide.rsp", many);
  writeFile("top.rsp", "@wide.rsp @wide.rsp");
  CommandLine wide("@top.rsp");
  wide.expandResponseFiles();
  EXPECT_EQ(std::vector<std::string>(depth * 4, "leaf"), argumentsOf(wide));
}

}  // namespace
