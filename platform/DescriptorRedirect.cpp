#include "platform/DescriptorRedirect.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "lang/Exception.h"

namespace {

void flushStandardStreams() {
  fflush(stdout);
  fflush(stderr);
}

// The operation's name, then ": " and the system's reason when errno is set.
[[noreturn]] void raise(const char* operation, int error) {
  String text(operation);
  if (error != 0) text = text + ": " + strerror(error);
  throw Exception(text);
}

}  // namespace

DescriptorRedirect::DescriptorRedirect(int source, int target) : target_(target), saved_(-1) {
  flushStandardStreams();
  errno = 0;
  saved_ = fcntl(target, F_DUPFD_CLOEXEC, 0);
  if (saved_ < 0) raise("dup", errno);
  if (dup2(source, target) < 0) {
    int error = errno;
    close(saved_);
    raise("dup2", error);
  }
}

DescriptorRedirect::~DescriptorRedirect() {
  int error = errno;  // callers may still want the error of what ran inside
  flushStandardStreams();
  dup2(saved_, target_);
  close(saved_);
  errno = error;
}
