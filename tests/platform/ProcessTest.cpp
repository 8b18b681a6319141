// Starting, waiting for and exec'ing child processes: exit codes, exec
// failures, signals, and where a program name is looked for.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <initializer_list>
#include <string>
#include <vector>

#include "platform/Process.h"
#include "tests/support/TestSupport.h"

namespace {

using testsupport::writeFile;

// A null-terminated array of private copies of the texts.
class Args {
 public:
  Args(std::initializer_list<std::string> texts) : texts_(texts) {
    for (std::string& text : texts_) pointers_.push_back(text.data());
    pointers_.push_back(nullptr);
  }
  char* const* get() { return pointers_.data(); }

 private:
  std::vector<std::string> texts_;
  std::vector<char*> pointers_;
};

// Runs in a private directory and puts PATH back afterwards.
class ProcessTest : public testsupport::TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    savedPath_ = getenv("PATH") != nullptr ? getenv("PATH") : "";
  }
  void TearDown() override {
    setenv("PATH", savedPath_.c_str(), 1);
    TempDirTest::TearDown();
  }
  bool exists(const std::string& name) {
    struct stat status;
    return stat((dir_ + "/" + name).c_str(), &status) == 0;
  }

  std::string savedPath_;
};

TEST_F(ProcessTest, RunProcessReportsExitCodesExecFailuresAndSignals) {
  writeFile(dir_ + "/plain.txt", "not a program\n", 0644);
  Args environment{"PATH=/usr/bin:/bin"};
  struct {
    std::vector<std::string> argv;
    bool withEnvironment;
    int want;
    int wantErrno;  // checked when want is -1
  } cases[] = {
      {{"/bin/sh", "-c", "exit 0"}, false, 0, 0},
      {{"/bin/sh", "-c", "exit 3"}, true, 3, 0},
      {{"/bin/sh", "-c", "exit 127"}, false, 127, 0},
      {{"/bin/sh", "-c", "exit 255"}, false, 255, 0},
      // A child's own code from 128 to 254 reads as an exec failure.
      {{"/bin/sh", "-c", "exit 130"}, false, -1, ENOENT},
      // A signal's end is 128 + its number, which no exit code gives.
      {{"/bin/sh", "-c", "kill -9 $$"}, false, 128 + 9, 0},
      {{"no-such-program-anywhere"}, false, -1, ENOENT},
      {{"no-such-program-anywhere"}, true, -1, ENOENT},
      {{dir_ + "/plain.txt"}, false, -1, EACCES},
      {{dir_ + "/plain.txt"}, true, -1, EACCES},
      {{dir_}, true, -1, EACCES},
  };
  for (const auto& c : cases) {
    std::vector<std::string> texts = c.argv;
    std::vector<char*> argv;
    for (std::string& text : texts) argv.push_back(text.data());
    argv.push_back(nullptr);
    errno = 0;
    int got = runProcess(argv.data(), c.withEnvironment ? environment.get() : nullptr);
    EXPECT_EQ(c.want, got) << c.argv.back();
    if (c.want == -1) {
      EXPECT_EQ(c.wantErrno, errno) << c.argv.back();
    }
  }
}

TEST_F(ProcessTest, SpawnReturnsAtOnceAndTheChildCarriesTheExecError) {
  Args missing{"no-such-program-anywhere"};
  pid_t pid = spawnProcess(missing.get(), nullptr);
  ASSERT_GT(pid, 0);
  int status = 0;
  ASSERT_EQ(pid, waitpid(pid, &status, 0));
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(128 + ENOENT, WEXITSTATUS(status));

  char* const none[] = {nullptr};
  errno = 0;
  EXPECT_EQ(-1, spawnProcess(none, nullptr));
  EXPECT_EQ(EINVAL, errno);
  EXPECT_EQ(-1, runProcess(nullptr, nullptr));
  EXPECT_EQ(EINVAL, errno);
}

TEST_F(ProcessTest, TheEnvironmentArrayIsTheChildsWholeEnvironment) {
  Args environment{"MARK=yes"};
  Args check{"sh", "-c", "test \"$MARK\" = yes && test -z \"$HOME\""};
  EXPECT_EQ(0, runProcess(check.get(), environment.get()));
  setenv("VANTOREL_INHERITED", "1", 1);
  Args inherited{"sh", "-c", "test \"$VANTOREL_INHERITED\" = 1"};
  EXPECT_EQ(0, runProcess(inherited.get(), nullptr));
  EXPECT_EQ(1, runProcess(inherited.get(), environment.get()));
  unsetenv("VANTOREL_INHERITED");
}

// A bare name is looked for along PATH only, and a name with a "/" in it is
// taken as it stands, never looked for along PATH.
TEST_F(ProcessTest, ProgramNamesAreFoundWhereTheyShouldBe) {
  const char* script = "#!/bin/sh\ntouch \"$1\"\n";
  writeFile(dir_ + "/tool", script, 0755);
  ASSERT_EQ(0, mkdir((dir_ + "/bin").c_str(), 0755));
  ASSERT_EQ(0, mkdir((dir_ + "/bin/sub").c_str(), 0755));
  writeFile(dir_ + "/bin/sub/tool", script, 0755);
  writeFile(dir_ + "/bin/found", script, 0755);
  setenv("PATH", (dir_ + "/bin:/usr/bin:/bin").c_str(), 1);
  Args environment{"PATH=/usr/bin:/bin"};

  Args bare{"tool", dir_ + "/bare-ran"};
  errno = 0;
  EXPECT_EQ(-1, runProcess(bare.get(), environment.get()));
  EXPECT_EQ(ENOENT, errno);
  EXPECT_FALSE(exists("bare-ran")) << "a bare name ran from the current directory";

  Args relative{"sub/tool", dir_ + "/relative-ran"};
  errno = 0;
  EXPECT_EQ(-1, runProcess(relative.get(), environment.get()));
  EXPECT_EQ(ENOENT, errno);
  EXPECT_FALSE(exists("relative-ran")) << "a name with a \"/\" was looked for along PATH";

  Args dotted{"./tool", dir_ + "/dotted-ran"};
  EXPECT_EQ(0, runProcess(dotted.get(), environment.get()));
  EXPECT_TRUE(exists("dotted-ran"));

  Args searched{"found", dir_ + "/searched-ran"};
  EXPECT_EQ(0, runProcess(searched.get(), environment.get()));
  EXPECT_TRUE(exists("searched-ran"));
}

TEST_F(ProcessTest, WaitForProcessGivesTheCodeOrTheSignal) {
  Args exits{"/bin/sh", "-c", "exit 200"};
  EXPECT_EQ(200, waitForProcess(spawnProcess(exits.get(), nullptr)));
  Args killed{"/bin/sh", "-c", "kill -15 $$"};
  EXPECT_EQ(128 + 15, waitForProcess(spawnProcess(killed.get(), nullptr)));
  EXPECT_EQ(-1, waitForProcess(getpid()));
}

}  // namespace
