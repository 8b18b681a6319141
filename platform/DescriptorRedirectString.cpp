#include "platform/DescriptorRedirectString.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <exception>

namespace {

// Numbers the temporary files of the process; unlocked, as the process is
// single-threaded.
int32_t gCounter = 0;

// Only a new file of our own, never one reached through a symbolic link;
// not inherited through this descriptor.
constexpr int kCreateFlags = O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;

// The captured output is read back in pieces of this size.
constexpr uint32_t kReadChunk = 4096;

}  // namespace

DescriptorRedirectString::DescriptorRedirectString(String& out, int descriptor)
    : out_(&out), uncaught_(std::uncaught_exceptions()) {
  createFile();
  redirect_.emplace(file_.getDescriptor(), descriptor);
}

void DescriptorRedirectString::createFile() {
  Path prefix = Path::getTemporaryDirectory() + "DescriptorRedirect-" +
                String::valueOf(static_cast<long>(getpid())) + "-";
  for (int attempt = 1;; ++attempt) {
    path_ = prefix + String::valueOf(gCounter++);
    if (file_.open(path_, kCreateFlags)) break;
    if (errno != EEXIST || attempt == kMaxNameAttempts) file_.failCreate();
  }
  // Registered only now: a name that was taken belongs to someone else.
  tmpFile_.add(path_);
}

DescriptorRedirectString::~DescriptorRedirectString() noexcept(false) {
  redirect_.reset();
  if (std::uncaught_exceptions() > uncaught_) {
    try {
      collect();
    } catch (...) {
      // Already unwinding: the first error is the one to report.
    }
  } else {
    collect();
  }
}

void DescriptorRedirectString::collect() {
  *out_ = String();
  file_.seek(0);
  char chunk[kReadChunk];
  for (;;) {
    int count = file_.read(chunk, sizeof chunk);
    if (count <= 0) break;
    *out_ += String(chunk, static_cast<uint32_t>(count));
  }
  file_.close();
}
