// Starting child processes, waiting for them, and replacing the running
// process by another program, on plain null-terminated argument and
// environment arrays ("name=value" texts), as the exec functions take them.
//
// A child that cannot exec its program reports the failure through its exit
// code: 128 + the error number (1 when that is 128 or more). runProcess turns
// such codes back into -1 with errno set, so a child that exits with a code
// from 128 to 254 on its own is read the same way.
//
// A child ended by a signal has no exit code; runProcess reports it as
// 128 + the signal number, which it never returns otherwise (every exit code
// from 128 to 254 becomes -1), so callers can tell such an end from any exit.
//
// The arrays are borrowed for the call only.
#ifndef VANTOREL_PLATFORM_PROCESS_H
#define VANTOREL_PLATFORM_PROCESS_H

#include <sys/types.h>

// Replaces the process by argv[0] with the environment `envp`. A name without
// any "/" is looked for along PATH (the byte-level search of
// ProgramLocation.h) and used unchanged when not found; a name with a "/" is
// used as it stands. Returns only on failure, with errno set.
// REQUIRES: argv and argv[0] are not null.
void execSearching(char* const* argv, char* const* envp);

// Forks a child that runs argv[0] with `envp` as execSearching does, or with
// the current environment through execvp when `envp` is null. Returns the
// child's process id, or -1 with errno set when no child can be made (EINVAL
// when argv or argv[0] is null).
pid_t spawnProcess(char* const* argv, char* const* envp);

// spawnProcess, then waits for the child. Returns its exit code (0 to 127 or
// 255), 128 + the signal number that ended it, or -1 with errno set when it
// could not be started or waited for, or could not exec its program (errno is
// then the exec's error).
int runProcess(char* const* argv, char* const* envp);

// Waits for the child `pid` and returns its exit code, or 128 + the signal
// number that ended it; -1 with errno set when the wait fails.
int waitForProcess(pid_t pid);

#endif  // VANTOREL_PLATFORM_PROCESS_H
