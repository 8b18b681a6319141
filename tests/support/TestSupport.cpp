#include "tests/support/TestSupport.h"

#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "lang/Exception.h"

extern char** environ;

void PrintTo(const String& text, std::ostream* out) {
  *out << '"' << std::string(text.data(), text.length()) << '"';
}

namespace testsupport {

std::string str(const String& text) { return std::string(text.data(), text.length()); }

std::string sourceDir() { return VANTOREL_SOURCE_DIR; }
std::string binaryDir() { return VANTOREL_BINARY_DIR; }

std::string sharedTestData() {
  std::string dir = std::string(VANTOREL_SHARED_DIR) + "/testdata";
  struct stat status;
  return stat(dir.c_str(), &status) == 0 && S_ISDIR(status.st_mode) ? dir : std::string();
}

std::string installProgram() { return binaryDir() + "/install"; }
std::string installdataProgram() { return binaryDir() + "/installdata"; }

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

void writeFile(const std::string& path, const std::string& content, int mode) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (fd < 0) throw std::runtime_error("cannot create " + path + ": " + strerror(errno));
  size_t done = 0;
  while (done < content.size()) {
    ssize_t n = write(fd, content.data() + done, content.size() - done);
    if (n <= 0) {
      close(fd);
      throw std::runtime_error("cannot write " + path);
    }
    done += static_cast<size_t>(n);
  }
  fchmod(fd, static_cast<mode_t>(mode));
  close(fd);
}

namespace {

int makeWritable(const char* path, const struct stat* status, int type, struct FTW*) {
  if (type == FTW_D || type == FTW_DNR) chmod(path, (status->st_mode & 07777) | 0700);
  return 0;
}

int removeEntry(const char* path, const struct stat*, int type, struct FTW*) {
  if (type == FTW_DP) {
    rmdir(path);
  } else {
    unlink(path);
  }
  return 0;
}

}  // namespace

void removeTree(const std::string& path) {
  struct stat status;
  if (lstat(path.c_str(), &status) != 0) return;
  if (!S_ISDIR(status.st_mode)) {
    unlink(path.c_str());
    return;
  }
  // Twice: a directory made writable lets the walk see into the next level.
  for (int pass = 0; pass < 8; ++pass) nftw(path.c_str(), makeWritable, 32, FTW_PHYS);
  nftw(path.c_str(), removeEntry, 32, FTW_PHYS | FTW_DEPTH);
}

std::string makeTempDir(const char* tag) {
  const char* base = getenv("TMPDIR");
  std::string pattern = std::string(base != nullptr && *base != 0 ? base : "/tmp") +
                        "/vantorel-" + tag + "-XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back(0);
  if (mkdtemp(buffer.data()) == nullptr) {
    throw std::runtime_error(std::string("mkdtemp: ") + strerror(errno));
  }
  char resolved[PATH_MAX];
  if (realpath(buffer.data(), resolved) == nullptr) return buffer.data();
  return resolved;
}

bool exists(const std::string& path) {
  struct stat status;
  return lstat(path.c_str(), &status) == 0;
}

mode_t modeOf(const std::string& path) {
  struct stat status;
  return lstat(path.c_str(), &status) == 0 ? status.st_mode & 07777 : 0;
}

std::string linkText(const std::string& path) {
  std::vector<char> text(PATH_MAX);
  ssize_t n = readlink(path.c_str(), text.data(), text.size());
  return n < 0 ? std::string() : std::string(text.data(), static_cast<size_t>(n));
}

std::string noise(size_t size) {
  std::string bytes(size, 0);
  uint32_t state = 2463534242u;
  for (char& byte : bytes) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    byte = static_cast<char>(state);
  }
  return bytes;
}

int openDescriptorCount() {
  int count = 0;
  if (DIR* dir = opendir("/proc/self/fd")) {
    while (readdir(dir) != nullptr) ++count;
    closedir(dir);
  }
  return count;
}

int inChild(const std::function<void()>& body) {
  fflush(stdout);
  fflush(stderr);
  pid_t pid = fork();
  if (pid == 0) {
    try {
      body();
    } catch (const Exception& e) {
      fprintf(stderr, "unexpected exception: %s\n", e.toString().c_str());
      _exit(2);
    }
    fflush(stdout);
    _exit(::testing::Test::HasFailure() ? 1 : 0);
  }
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void becomeNobody() {
  if (geteuid() != 0) _exit(kSkipStatus);
  if (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0) _exit(3);
}

namespace {

uid_t gNewOwner = 0;

int giveEntry(const char* path, const struct stat*, int, struct FTW*) {
  lchown(path, gNewOwner, gNewOwner);
  return 0;
}

}  // namespace

void chownTree(const std::string& path, uid_t owner) {
  gNewOwner = owner;
  nftw(path.c_str(), giveEntry, 16, FTW_PHYS);
}

namespace {

class PrivateTemporaryDirectory : public ::testing::Environment {
 public:
  void SetUp() override {
    directory_ = makeTempDir("tmpdir");
    setenv("TMPDIR", directory_.c_str(), 1);
  }
  void TearDown() override { removeTree(directory_); }

 private:
  std::string directory_;
};

}  // namespace

bool usePrivateTemporaryDirectory() {
  static bool registered = false;
  if (!registered) ::testing::AddGlobalTestEnvironment(new PrivateTemporaryDirectory);
  registered = true;
  return true;
}

void TempDirTest::SetUp() {
  char cwd[PATH_MAX];
  previous_ = getcwd(cwd, sizeof cwd) != nullptr ? cwd : "/";
  dir_ = makeTempDir();
  ASSERT_EQ(0, chdir(dir_.c_str()));
  previousUmask_ = umask(022);
}

void TempDirTest::TearDown() {
  umask(previousUmask_);
  if (chdir(previous_.c_str()) != 0) (void)chdir("/");
  removeTree(dir_);
}

Child::Child(const std::vector<std::string>& argv, const RunOptions& options)
    : input_(options.input), timeoutSeconds_(options.timeoutSeconds) {
  int inPipe[2], outPipe[2], errPipe[2];
  if (pipe(inPipe) != 0 || pipe(outPipe) != 0 || pipe(errPipe) != 0) {
    throw std::runtime_error("pipe failed");
  }
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    std::string entry(*e);
    std::string name = entry.substr(0, entry.find('='));
    if (options.env.count(name) == 0) env.push_back(entry);
  }
  for (const auto& [name, value] : options.env) {
    if (value) env.push_back(name + "=" + *value);
  }
  std::vector<char*> args, envp;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  for (const std::string& e : env) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);

  pid_ = fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    dup2(inPipe[0], 0);
    dup2(outPipe[1], 1);
    dup2(errPipe[1], 2);
    for (int fd : {inPipe[0], inPipe[1], outPipe[0], outPipe[1], errPipe[0], errPipe[1]}) {
      close(fd);
    }
    signal(SIGINT, SIG_DFL);
    signal(SIGPIPE, SIG_DFL);
    if (!options.cwd.empty() && chdir(options.cwd.c_str()) != 0) _exit(126);
    execve(options.program.empty() ? args[0] : options.program.c_str(), args.data(), envp.data());
    _exit(127);
  }
  close(inPipe[0]);
  close(outPipe[1]);
  close(errPipe[1]);
  in_ = inPipe[1];
  out_ = outPipe[0];
  err_ = errPipe[0];
  fcntl(in_, F_SETFL, O_NONBLOCK);
  signal(SIGPIPE, SIG_IGN);
  if (input_.empty() && !options.keepInputOpen) {
    close(in_);
    in_ = -1;
  }
  if (options.keepInputOpen && input_.empty()) inputDone_ = 0;
  if (options.keepInputOpen) input_.clear();
}

Child::~Child() {
  if (!reaped_ && pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  for (int fd : {in_, out_, err_}) {
    if (fd >= 0) close(fd);
  }
}

bool Child::pump(int timeoutMs) {
  struct pollfd fds[3];
  int n = 0;
  if (out_ >= 0) fds[n++] = {out_, POLLIN, 0};
  if (err_ >= 0) fds[n++] = {err_, POLLIN, 0};
  if (in_ >= 0 && inputDone_ < input_.size()) fds[n++] = {in_, POLLOUT, 0};
  if (n == 0) return false;
  int ready = poll(fds, n, timeoutMs);
  if (ready <= 0) return ready == 0;
  for (int i = 0; i < n; ++i) {
    if (fds[i].revents == 0) continue;
    if (fds[i].fd == in_) {
      ssize_t w = write(in_, input_.data() + inputDone_, input_.size() - inputDone_);
      if (w > 0) inputDone_ += static_cast<size_t>(w);
      if (w < 0 && errno != EAGAIN) inputDone_ = input_.size();
      if (inputDone_ == input_.size()) {
        close(in_);
        in_ = -1;
      }
      continue;
    }
    char buffer[65536];
    ssize_t r = read(fds[i].fd, buffer, sizeof buffer);
    std::string& sink = fds[i].fd == out_ ? result_.out : result_.err;
    if (r > 0) {
      sink.append(buffer, static_cast<size_t>(r));
    } else if (r == 0 || errno != EINTR) {
      if (fds[i].fd == out_) {
        close(out_);
        out_ = -1;
      } else {
        close(err_);
        err_ = -1;
      }
    }
  }
  return true;
}

bool Child::waitForOutput(const std::string& text, int timeoutSeconds) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
  while (result_.out.find(text) == std::string::npos) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    if (out_ < 0 && err_ < 0) return false;
    pump(100);
  }
  return true;
}

void Child::answer(const std::string& text) {
  input_ = text;
  inputDone_ = 0;
  if (input_.empty() && in_ >= 0) {
    close(in_);
    in_ = -1;
  }
}

void Child::closeOutput() {
  if (out_ < 0) return;
  close(out_);
  out_ = -1;
}

bool Child::running() {
  if (reaped_) return false;
  pid_t r = waitpid(pid_, &waitStatus_, WNOHANG);
  if (r == pid_) reaped_ = true;
  return !reaped_;
}

RunResult Child::wait() {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds_);
  while (out_ >= 0 || err_ >= 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      result_.timedOut = true;
      kill(pid_, SIGKILL);
      break;
    }
    pump(100);
  }
  if (in_ >= 0) {
    close(in_);
    in_ = -1;
  }
  if (!reaped_) {
    if (result_.timedOut) kill(pid_, SIGKILL);
    while (waitpid(pid_, &waitStatus_, 0) < 0 && errno == EINTR) {
    }
    reaped_ = true;
  }
  if (WIFEXITED(waitStatus_)) {
    result_.status = WEXITSTATUS(waitStatus_);
  } else if (WIFSIGNALED(waitStatus_)) {
    result_.signal = WTERMSIG(waitStatus_);
  }
  return result_;
}

RunResult run(const std::vector<std::string>& argv, const RunOptions& options) {
  Child child(argv, options);
  return child.wait();
}

}  // namespace testsupport
