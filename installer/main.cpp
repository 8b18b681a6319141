// The process entry of the installer, and what runs before it: the SIGINT
// rule, SIGPIPE ignored, the locale, the time zone and the terminate handler.
#include <signal.h>
#include <unistd.h>

#include <clocale>
#include <cstdlib>
#include <ctime>
#include <exception>

#include "installer/Installer.h"

namespace {

// Set by the first SIGINT. The installation never reads it: the first SIGINT
// has no visible effect, the second ends the process at once with status 1,
// without a message and without clean-up.
volatile sig_atomic_t sigintSeen = 0;

void onSigint(int) {
  if (sigintSeen) _exit(1);
  signal(SIGINT, onSigint);
  sigintSeen = 1;
}

[[noreturn]] void onTerminate() {
  static const char kMessage[] = "Unhandled exception, contact Technical Support\n";
  ssize_t written = write(2, kMessage, sizeof kMessage - 1);
  (void)written;
  abort();
}

// Start-up, during static initialisation, before main runs.
struct StartUp {
  StartUp() {
    signal(SIGINT, onSigint);
    // A write to a pipe whose reader has gone fails with EPIPE instead of
    // ending the process without a word: it is reported as any failure.
    signal(SIGPIPE, SIG_IGN);
    setlocale(LC_ALL, "");
    tzset();
    std::set_terminate(onTerminate);
  }
} startUp;

}  // namespace

int main(int argc, char** argv) {
  Installer installer;
  return installer.run(argc, argv);
}
