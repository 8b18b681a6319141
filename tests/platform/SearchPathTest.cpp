// SearchPath and Path::findProgram: entries taken in order, the empty entry
// as the current directory, "~/" as the home directory, the executable-only
// flag, a continued search, and a name with a directory part.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "lang/Exception.h"
#include "platform/Path.h"
#include "platform/SearchPath.h"
#include "tests/support/TestSupport.h"

namespace {

using testsupport::str;
using testsupport::writeFile;

// The variable the tests search along, so that PATH stays as it is.
const char kVariable[] = "VANTOREL_SEARCHPATH_TEST";

// Sets (or, with nullopt, removes) an environment variable for one scope.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, std::optional<std::string> value) : name_(name) {
    const char* previous = getenv(name);
    if (previous != nullptr) previous_ = previous;
    if (value) {
      setenv(name, value->c_str(), 1);
    } else {
      unsetenv(name);
    }
  }
  ~ScopedEnv() {
    if (previous_) {
      setenv(name_, previous_->c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  const char* name_;
  std::optional<std::string> previous_;
};

// Every match of `name` along `list`, as one search reports them.
std::vector<std::string> allMatches(const std::string& list, const char* name,
                                    bool executableOnly) {
  ScopedEnv env(kVariable, list);
  SearchPath search(kVariable);
  std::vector<std::string> found;
  Path result("sentinel");
  while (search.find(Path(name), result, executableOnly)) found.push_back(str(result));
  EXPECT_EQ("", str(result)) << "the end of the list empties the result";
  EXPECT_FALSE(search.find(Path(name), result, executableOnly)) << "and stays at the end";
  return found;
}

// The private directory holds a, b and c, each with a "tool" of a different
// kind, and an executable "tool" of its own; HOME, when a test sets it, is
// the directory "home" with tool and bin/tool.
class SearchPathTest : public testsupport::TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    for (const char* d : {"a", "b", "c", "home", "home/bin"}) ASSERT_EQ(0, mkdir(d, 0755));
    writeFile("a/tool", "plain", 0644);
    writeFile("b/tool", "runs", 0755);
    writeFile("c/tool", "runs for others", 0701);
    ASSERT_EQ(0, mkdir("a/dir", 0755));
    writeFile("tool", "here", 0755);
    writeFile("home/bin/tool", "at home", 0755);
    writeFile("home/tool", "at home too", 0755);
  }
};

TEST_F(SearchPathTest, ReportsEveryMatchInListOrder) {
  std::string a = dir_ + "/a", b = dir_ + "/b", c = dir_ + "/c";
  struct Case {
    std::string list;
    bool executableOnly;
    std::vector<std::string> expected;
  } cases[] = {
      {a + ":" + b + ":" + c, false, {a + "/tool", b + "/tool", c + "/tool"}},
      // A file without any execute bit is passed over; one bit is enough.
      {a + ":" + b + ":" + c, true, {b + "/tool", c + "/tool"}},
      // A trailing "/" is not doubled; a missing directory is no error.
      {b + "/:" + dir_ + "/missing:" + c + "//", true, {b + "/tool", c + "//tool"}},
      // Empty entries, leading, doubled and trailing, are the current
      // directory.
      {":" + b, true, {"./tool", b + "/tool"}},
      {b + "::" + c, true, {b + "/tool", "./tool", c + "/tool"}},
      {b + ":", true, {b + "/tool", "./tool"}},
      {":", true, {"./tool", "./tool"}},
      {"a:b", false, {"a/tool", "b/tool"}},
      {"~/bin:" + b, true, {dir_ + "/home/bin/tool", b + "/tool"}},
      // "~" alone is the home directory too; "~x/" is no home directory.
      {"~:~x/bin", true, {dir_ + "/home/tool"}},
  };
  ScopedEnv home("HOME", dir_ + "/home");
  for (const Case& c : cases) {
    EXPECT_EQ(c.expected, allMatches(c.list, "tool", c.executableOnly))
        << "list " << c.list << (c.executableOnly ? " executable only" : "");
  }
}

TEST_F(SearchPathTest, DirectoriesAndMissingNamesAreNotFound) {
  std::string a = dir_ + "/a";
  EXPECT_EQ(std::vector<std::string>{}, allMatches(a, "dir", false));
  EXPECT_EQ(std::vector<std::string>{}, allMatches(a, "nothing", false));
  EXPECT_EQ(std::vector<std::string>{}, allMatches("", "tool", false))
      << "an empty list holds no entry";
}

TEST_F(SearchPathTest, NameWithDirectoryPartIsReturnedOnceUnexamined) {
  for (const char* name : {"/nowhere/tool", "a/dir", "./missing", "b/tool"}) {
    EXPECT_EQ(std::vector<std::string>{name}, allMatches(dir_ + "/b", name, true)) << name;
  }
}

TEST_F(SearchPathTest, HomeEntryWithoutHomeDirectoryRaises) {
  for (std::optional<std::string> home :
       {std::optional<std::string>(), std::optional<std::string>(dir_ + "/a/tool")}) {
    ScopedEnv unset("HOME", home);
    ScopedEnv env(kVariable, dir_ + "/a:~/bin");
    SearchPath search(kVariable);
    Path result;
    EXPECT_TRUE(search.find(Path("tool"), result, false)) << "entries before it still count";
    EXPECT_THROW_TEXT(search.find(Path("tool"), result, false), Exception,
                      "Exception: cannot determine home directory");
  }
}

// The named variable gives the list unless it is unset or empty: then PATH
// does.
TEST_F(SearchPathTest, UnsetOrEmptyVariableFallsBackToPath) {
  ScopedEnv path("PATH", dir_ + "/c");
  struct {
    const char* variable;
    std::optional<std::string> value;
    std::string expected;
  } cases[] = {
      {kVariable, dir_ + "/b", dir_ + "/b/tool"},
      {kVariable, std::string(), dir_ + "/c/tool"},
      {kVariable, std::nullopt, dir_ + "/c/tool"},
      {nullptr, dir_ + "/b", dir_ + "/c/tool"},
  };
  for (const auto& c : cases) {
    ScopedEnv env(kVariable, c.value);
    SearchPath search(c.variable);
    Path result;
    EXPECT_TRUE(search.find(Path("tool"), result, true));
    EXPECT_EQ(c.expected, str(result)) << (c.value ? *c.value : "(unset)");
  }
}

TEST_F(SearchPathTest, FindProgramTakesTheFirstExecutableAlongPath) {
  ScopedEnv path("PATH", dir_ + "/a:" + dir_ + "/c:" + dir_ + "/b");
  EXPECT_EQ(dir_ + "/c/tool", str(Path::findProgram(Path("tool"))));
  EXPECT_EQ("", str(Path::findProgram(Path("nothing"))));
  ScopedEnv unset("PATH", std::nullopt);
  EXPECT_EQ("", str(Path::findProgram(Path("tool")))) << "PATH unset: nothing is searched";
}

}  // namespace
