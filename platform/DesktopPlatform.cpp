#include "platform/DesktopPlatform.h"

#include <pwd.h>
#include <unistd.h>

namespace {

// The layer a test put in place, or null.
DesktopPlatform* gReplacement = nullptr;

}  // namespace

DesktopPlatform::~DesktopPlatform() = default;

const char* DesktopPlatform::userDatabaseName() {
  const struct passwd* entry = getpwuid(getuid());
  return entry == nullptr ? nullptr : entry->pw_name;
}

DesktopPlatform& DesktopPlatform::current() {
  return gReplacement != nullptr ? *gReplacement : system();
}

void DesktopPlatform::setCurrent(DesktopPlatform* platform) { gReplacement = platform; }
