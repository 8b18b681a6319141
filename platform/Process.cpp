#include "platform/Process.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/ProgramLocation.h"

namespace {

// A child that cannot exec exits with this plus the error number.
constexpr int kExecFailureBase = 128;
// ... or with this when the error number does not fit below 128.
constexpr int kExecFailureOther = 1;
// Exit code 255 is an ordinary code, not an exec failure with error 127.
constexpr int kPlainExitCode = 255;

}  // namespace

void execSearching(char* const* argv, char* const* envp) {
  const char* name = argv[0];
  if (strchr(name, '/') != nullptr) {
    execve(name, argv, envp);
    return;
  }
  // A bare name runs only from the search path: never from the current
  // directory unless PATH names it.
  char candidate[kProgramSearchBuffer];
  if (findProgramFile(nullptr, name, candidate) == 0) {
    errno = ENOENT;
    return;
  }
  execve(candidate, argv, envp);
}

pid_t spawnProcess(char* const* argv, char* const* envp) {
  if (argv == nullptr || argv[0] == nullptr) {
    errno = EINVAL;
    return -1;
  }
  pid_t pid = fork();
  if (pid != 0) return pid;
  // The child only execs or leaves, without flushing the parent's buffers.
  errno = 0;
  if (envp != nullptr) {
    execSearching(argv, envp);
  } else {
    execvp(argv[0], argv);
  }
  int error = errno == 0 ? ENOENT : errno;
  _exit(error < kExecFailureBase ? kExecFailureBase + error : kExecFailureOther);
}

namespace {

// Waits for the child: its exit code, or kExecFailureBase + the signal
// number that ended it (`signalled` then set); -1 when the wait fails.
int collect(pid_t pid, bool* signalled) {
  int status;
  *signalled = false;
  if (waitpid(pid, &status, 0) != pid) return -1;
  if (WIFSIGNALED(status)) {
    *signalled = true;
    return kExecFailureBase + WTERMSIG(status);
  }
  return WEXITSTATUS(status);
}

}  // namespace

int waitForProcess(pid_t pid) {
  bool signalled;
  return collect(pid, &signalled);
}

int runProcess(char* const* argv, char* const* envp) {
  pid_t pid = spawnProcess(argv, envp);
  if (pid < 0) return -1;
  bool signalled;
  int code = collect(pid, &signalled);
  if (code < 0 || signalled) return code;
  if ((code & kExecFailureBase) != 0 && code != kPlainExitCode) {
    errno = code & ~kExecFailureBase;
    return -1;
  }
  return code;
}
