// The desktop operations through a layer of the test's own and through the
// system's, the command fallback list, the terminal width and the login
// name.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "lang/Exception.h"
#include "platform/DescriptorRedirect.h"
#include "platform/Desktop.h"
#include "platform/DesktopPlatform.h"
#include "tests/support/TestSupport.h"

namespace {

using testsupport::readFile;
using testsupport::str;
using testsupport::writeFile;

// Records what the operations ask of the platform and answers as told.
class FakePlatform : public DesktopPlatform {
 public:
  void* makeReference(const char* path) override {
    calls += std::string("make ") + path + ";";
    return makes ? &reference_ : nullptr;
  }
  bool openReference(void* reference) override {
    calls += reference == &reference_ ? "open;" : "open of a stranger;";
    return opens;
  }
  void releaseReference(void* reference) override {
    calls += reference == &reference_ ? "release;" : "release of a stranger;";
  }
  void* createUrl(const char* bytes, uint32_t length) override {
    calls += "url " + std::string(bytes, length) + ";";
    return makes ? &url_ : nullptr;
  }
  bool openUrl(void* url) override {
    calls += url == &url_ ? "open url;" : "open of a stranger;";
    return opens;
  }
  void releaseUrl(void* url) override {
    calls += url == &url_ ? "release url;" : "release of a stranger;";
  }
  const char* userDatabaseName() override { return userName; }

  bool makes = true;
  bool opens = true;
  const char* userName = nullptr;
  std::string calls;

 private:
  int reference_ = 0;
  int url_ = 0;
};

// Runs in a private directory with PATH and TMPDIR restored afterwards and
// the system's desktop layer back in place.
class DesktopTest : public testsupport::TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    savedPath_ = getenv("PATH") != nullptr ? getenv("PATH") : "";
    ASSERT_EQ(0, mkdir("bin", 0755));
  }
  void TearDown() override {
    DesktopPlatform::setCurrent(nullptr);
    setenv("PATH", savedPath_.c_str(), 1);
    TempDirTest::TearDown();
  }
  // Puts the test's bin directory first on PATH, or alone.
  void usePath(bool alone) {
    std::string path = dir_ + "/bin";
    if (!alone) path += ":" + savedPath_;
    setenv("PATH", path.c_str(), 1);
  }
  // Waits for a file that a program started without waiting writes.
  std::string awaitFile(const std::string& name) {
    for (int i = 0; i < 1000; ++i) {
      std::string content;
      struct stat status;
      if (stat(name.c_str(), &status) == 0 && status.st_size > 0) return readFile(name);
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return "(never written)";
  }
  std::string savedPath_;
};

// Each operation raises its own message when the platform cannot make the
// item or address or cannot open it, never opens what it could not make, and
// releases whatever it made.
TEST_F(DesktopTest, EachOperationRaisesItsOwnMessageAndReleasesWhatItMade) {
  struct {
    std::function<void()> call;
    const char* text;
    std::string make, open, release;
  } operations[] = {
      {[] { openFolder("/x"); }, "Exception: error launching Finder", "make /x;", "open;",
       "release;"},
      {[] { openTextFile("/x"); }, "Exception: error launching text editor", "make /x;", "open;",
       "release;"},
      {[] { openBrowser("http://example.org/a b"); }, "Exception: error launching HTML browser",
       "url http://example.org/a b;", "open url;", "release url;"},
  };
  for (const auto& o : operations) {
    for (bool makes : {false, true}) {
      for (bool opens : {false, true}) {
        FakePlatform platform;
        platform.makes = makes;
        platform.opens = opens;
        DesktopPlatform::setCurrent(&platform);
        if (makes && opens) {
          o.call();
        } else {
          EXPECT_THROW_TEXT(o.call(), Exception, o.text);
        }
        EXPECT_EQ(makes ? o.make + o.open + o.release : o.make, platform.calls) << o.text;
      }
    }
  }
}

// The system's layer hands an existing item's absolute path, or a plausible
// address, to the desktop's opener and refuses anything else.
TEST_F(DesktopTest, SystemLayerStartsTheDesktopsOpener) {
  writeFile(dir_ + "/bin/xdg-open",
            "#!/bin/sh\nprintf '%s' \"$1\" > \"" + dir_ + "/opened.$$\"\nmv \"" + dir_ +
                "/opened.$$\" \"" + dir_ + "/opened\"\n",
            0755);
  usePath(false);
  ASSERT_EQ(0, mkdir("folder", 0755));
  openFolder("folder/.");
  EXPECT_EQ(dir_ + "/folder", awaitFile(dir_ + "/opened"));
  unlink("opened");
  openBrowser("https://example.org/?q=1");
  EXPECT_EQ("https://example.org/?q=1", awaitFile(dir_ + "/opened"));
  unlink("opened");

  EXPECT_THROW_TEXT(openFolder("missing"), Exception, "Exception: error launching Finder");
  EXPECT_THROW_TEXT(openTextFile("missing.txt"), Exception,
                    "Exception: error launching text editor");
  for (const char* url : {"", "-option", "has blank", "tab\t", "caf\xc3\xa9"}) {
    SCOPED_TRACE(url);
    EXPECT_THROW_TEXT(openBrowser(url), Exception, "Exception: error launching HTML browser");
  }
  unlink("bin/xdg-open");
  usePath(true);
  writeFile(dir_ + "/notes.txt", "notes");
  EXPECT_THROW_TEXT(openTextFile("notes.txt"), Exception, "Exception: error launching text editor");
}

TEST_F(DesktopTest, RunFirstAvailableStopsAtTheFirstCommandThatRuns) {
  writeFile(dir_ + "/bin/record",
            "#!/bin/sh\nprintf '%s|' \"$0\" \"$@\" > \"" + dir_ + "/record.$$\"\nmv \"" + dir_ +
                "/record.$$\" \"" + dir_ + "/recorded\"\nexit 5\n",
            0755);
  writeFile(dir_ + "/bin/not-executable", "#!/bin/sh\n", 0644);
  usePath(false);

  const char* const searched[] = {"missing-tool --flag", "not-executable", "record  one two",
                                  "record never", nullptr};
  runFirstAvailable(searched, "the argument", "nothing ran");
  EXPECT_EQ(dir_ + "/bin/record|one|two|the argument|", readFile(dir_ + "/recorded"));
  unlink("recorded");

  std::string absolute = dir_ + "/bin/record direct";
  const char* const direct[] = {"/no/such/program", "/", absolute.c_str(), nullptr};
  runFirstAvailable(direct, nullptr, "nothing ran");
  EXPECT_EQ(dir_ + "/bin/record|direct|", awaitFile(dir_ + "/recorded"));

  const char* const failing[] = {"missing-tool", "", "   ", "/no/such/program", nullptr};
  EXPECT_THROW_TEXT(runFirstAvailable(failing, "x", "no editor found"), Exception,
                    "Exception: no editor found");
  const char* const empty[] = {nullptr};
  EXPECT_THROW_TEXT(runFirstAvailable(empty, "x", "no editor found"), Exception,
                    "Exception: no editor found");
}

TEST_F(DesktopTest, TerminalWidthComesFromTheTerminalOnStandardOutput) {
  {
    int file = open("out.txt", O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(file, 0);
    DescriptorRedirect redirect(file, STDOUT_FILENO);
    close(file);
    EXPECT_EQ(80, getTerminalWidth());
  }
  int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
    GTEST_SKIP() << "no pseudo-terminal here: " << strerror(errno);
  }
  int terminal = open(ptsname(master), O_RDWR | O_NOCTTY);
  ASSERT_GE(terminal, 0);
  for (unsigned short columns : {123, 0}) {
    struct winsize size = {};
    size.ws_row = 40;
    size.ws_col = columns;
    ASSERT_EQ(0, ioctl(terminal, TIOCSWINSZ, &size));
    DescriptorRedirect redirect(terminal, STDOUT_FILENO);
    EXPECT_EQ(columns == 0 ? 80 : columns, getTerminalWidth()) << columns;
  }
  close(terminal);
  close(master);
}

TEST_F(DesktopTest, UserNameComesFromTheUserDatabase) {
  const struct passwd* entry = getpwuid(getuid());
  if (entry == nullptr) GTEST_SKIP() << "this user has no user-database entry";
  EXPECT_EQ(entry->pw_name, str(getUserName()));
}

// Runs `body` in a child, where the process-wide fallback starts empty and
// the temporary directory is the test's; returns what it reports.
std::string inChild(const std::string& temporaryDirectory,
                    const std::function<std::string()>& body) {
  int channel[2];
  if (pipe(channel) != 0) return "(no pipe)";
  fflush(stdout);
  fflush(stderr);
  pid_t pid = fork();
  if (pid == 0) {
    close(channel[0]);
    setenv("TMPDIR", temporaryDirectory.c_str(), 1);
    std::string report;
    try {
      report = body();
    } catch (const Exception& e) {
      report = str(e.toString());
    }
    ssize_t written = write(channel[1], report.data(), report.size());
    _exit(written == static_cast<ssize_t>(report.size()) ? 0 : 1);
  }
  close(channel[1]);
  std::string report;
  char buffer[512];
  ssize_t count;
  while ((count = read(channel[0], buffer, sizeof buffer)) > 0) report.append(buffer, count);
  close(channel[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  return report;
}

// Without a user-database entry the name is the first word of "who -m",
// asked once per process: the second lookup starts no process.
TEST_F(DesktopTest, WithoutADatabaseEntryWhoIsAskedOnce) {
  std::string who = "#!/bin/sh\necho ran >> \"" + dir_ + "/who-runs\"\n";
  struct {
    const char* output;  // what "who -m" prints; null: no "who" at all
    const char* want;
  } cases[] = {
      {"alice    pts/0        2024-01-02 10:00 (host)", "alice|alice|"},
      {"alice pts/0  no two blanks before the terminal", "alice pts/0|alice pts/0|"},
      {"  leading blanks",
       "Exception: GetUserName failure: Success|"
       "Exception: GetUserName failure: Success|"},
      {"", "Exception: GetUserName failure: Success|Exception: GetUserName failure: Success|"},
      {nullptr,
       "Exception: GetUserName failure: No such file or directory|"
       "Exception: GetUserName failure: Success|"},
  };
  for (const auto& c : cases) {
    unlink("bin/who");
    unlink("who-runs");
    if (c.output != nullptr) {
      writeFile(dir_ + "/bin/who", who + "printf '%s\\n' '" + c.output + "'\n", 0755);
    }
    usePath(true);
    std::string report = inChild(dir_, [] {
      FakePlatform platform;
      DesktopPlatform::setCurrent(&platform);
      std::string report;
      for (int i = 0; i < 2; ++i) {
        try {
          report += str(getUserName()) + "|";
        } catch (const Exception& e) {
          report += str(e.toString()) + "|";
        }
      }
      return report;
    });
    usePath(false);
    EXPECT_EQ(c.want, report) << (c.output ? c.output : "no who");
    if (c.output != nullptr) {
      EXPECT_EQ("ran\n", readFile(dir_ + "/who-runs"));
    }
  }
}

TEST_F(DesktopTest, TheFallbackNameIsCutTo255Bytes) {
  std::string longName(300, 'n');
  writeFile(dir_ + "/bin/who", "#!/bin/sh\necho '" + longName + "  pts/1'\n", 0755);
  usePath(true);
  std::string report = inChild(dir_, [] {
    FakePlatform platform;
    DesktopPlatform::setCurrent(&platform);
    return str(getUserName());
  });
  EXPECT_EQ(std::string(255, 'n'), report);
}

}  // namespace
