// Helpers shared by the tests: a private temporary directory per test, a
// runner for the real programs that captures stdout and stderr apart, and
// small file utilities. Test code only.
#ifndef VANTOREL_TESTS_SUPPORT_TESTSUPPORT_H
#define VANTOREL_TESTS_SUPPORT_TESTSUPPORT_H

#include <gtest/gtest.h>
#include <sys/types.h>

#include <functional>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "lang/String.h"

// Lets GoogleTest print Strings (and Paths) in failure messages.
void PrintTo(const String& text, std::ostream* out);

namespace testsupport {

// EXPECT_THROW with the exact toString() text of a library Exception.
#define EXPECT_THROW_TEXT(statement, ExceptionType, text)                        \
  do {                                                                           \
    try {                                                                        \
      statement;                                                                 \
      ADD_FAILURE() << "no exception from: " #statement;                         \
    } catch (const ExceptionType& e) {                                           \
      EXPECT_EQ(std::string(text), ::testsupport::str(e.toString())) << #statement; \
    }                                                                            \
  } while (0)

std::string str(const String& text);

// The directory of the source tree, of the build, and ../shared/testdata
// ("" when that is absent).
std::string sourceDir();
std::string binaryDir();
std::string sharedTestData();
// The built programs.
std::string installProgram();
std::string installdataProgram();

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& content, int mode = 0644);
// Removes a tree, making read-only directories writable first; silent when
// the path is missing.
void removeTree(const std::string& path);
// A new directory under TMPDIR (or /tmp), made with mkdtemp.
std::string makeTempDir(const char* tag = "test");
// Whether something (a dangling link, say) is at `path`; links are not
// followed.
bool exists(const std::string& path);
// The permission bits of what is at `path` (a link's own), 0 when nothing is.
mode_t modeOf(const std::string& path);
// The text of the symbolic link at `path`, "" when there is none.
std::string linkText(const std::string& path);
// `size` bytes that compress poorly, the same in every run.
std::string noise(size_t size);
// How many descriptors this process has open (Linux; 0 elsewhere).
int openDescriptorCount();

// The exit status of a child that asks its parent to skip the test.
constexpr int kSkipStatus = 77;
// The user and group "nobody" that privileged tests drop to.
constexpr uid_t kNobody = 65534;

// Runs `body` in a child process: for process-wide state that must start
// fresh and for changes of identity or root. Returns the child's exit
// status: 0 when its expectations held (their failures are reported by the
// child), 2 after an uncaught library Exception.
int inChild(const std::function<void()>& body);
// In a child: gives up root for "nobody", or exits with kSkipStatus when
// the process is not root.
void becomeNobody();
// Gives the tree at `path` (links included, never followed) to `owner` and
// its group of the same number; for root.
void chownTree(const std::string& path, uid_t owner);

// Registers, once per test program, a global environment that points TMPDIR
// at a new private directory before the first test and removes it after the
// last: for code that caches the temporary directory for the whole process.
// Call it from a namespace-scope initialiser of the test file.
bool usePrivateTemporaryDirectory();

// A fixture that runs each test in a fresh private directory with umask 022
// and removes it afterwards.
class TempDirTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  // The private directory, absolute, without a trailing "/".
  std::string dir_;

 private:
  std::string previous_;
  mode_t previousUmask_ = 0;
};

struct RunOptions {
  // Written to the child's standard input, which is then closed.
  std::string input;
  // Keep standard input open (a pipe nobody writes) until the child ends.
  bool keepInputOpen = false;
  // Environment changes: a value sets the variable, nullopt removes it.
  std::map<std::string, std::optional<std::string>> env;
  // The child's working directory; "" keeps ours.
  std::string cwd;
  // The file executed, when it is not argv[0] (a shell's `exec -a`).
  std::string program;
  // The child is killed after this many seconds.
  int timeoutSeconds = 120;
};

struct RunResult {
  std::string out;
  std::string err;
  // The exit status, or -1 when the child was ended by a signal.
  int status = -1;
  // The ending signal, or 0.
  int signal = 0;
  bool timedOut = false;
};

// A child process with its standard streams on pipes.
class Child {
 public:
  Child(const std::vector<std::string>& argv, const RunOptions& options);
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;
  ~Child();

  pid_t pid() const { return pid_; }
  // Reads output until `text` has appeared on stdout or the child ends;
  // returns whether it appeared.
  bool waitForOutput(const std::string& text, int timeoutSeconds = 60);
  // Whether the child has not ended yet (reaps it when it has).
  bool running();
  // Writes `text` to the child's standard input (kept open until now), then
  // closes it.
  void answer(const std::string& text);
  // Closes our end of the child's standard output, as a reader that has
  // read enough does (`| head -c 10`): the child's next write fails.
  void closeOutput();
  // Collects the rest of the output and the exit status.
  RunResult wait();

 private:
  bool pump(int timeoutMs);

  pid_t pid_ = -1;
  int in_ = -1, out_ = -1, err_ = -1;
  std::string input_;
  size_t inputDone_ = 0;
  int timeoutSeconds_;
  RunResult result_;
  bool reaped_ = false;
  int waitStatus_ = 0;
};

RunResult run(const std::vector<std::string>& argv, const RunOptions& options = {});

}  // namespace testsupport

#endif  // VANTOREL_TESTS_SUPPORT_TESTSUPPORT_H
