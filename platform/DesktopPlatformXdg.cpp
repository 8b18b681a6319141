// The desktop layer where there are no launch services: items and addresses
// go to the desktop's opener, xdg-open, found along PATH and started without
// waiting for it.
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "platform/DesktopPlatform.h"
#include "platform/Process.h"
#include "platform/ProgramLocation.h"

namespace {

constexpr char kOpener[] = "xdg-open";

// Starts the opener on `target` and returns whether it was started. The
// opener runs in a grandchild, which the system adopts once the child has
// left, so that nobody waits for it and no finished process is left behind.
bool startOpener(const char* target) {
  char opener[kProgramSearchBuffer];
  if (findProgramFile(nullptr, kOpener, opener) == 0) return false;
  char* argv[] = {opener, const_cast<char*>(target), nullptr};
  pid_t child = fork();
  if (child < 0) return false;
  if (child == 0) {
    pid_t grandchild = fork();
    if (grandchild == 0) {
      execv(opener, argv);
      _exit(127);
    }
    _exit(grandchild < 0 ? 1 : 0);
  }
  return waitForProcess(child) == 0;
}

// A byte an address may hold: printable ASCII without the blank.
bool isUrlByte(char byte) { return byte > ' ' && byte < 0x7f; }

class XdgDesktopPlatform : public DesktopPlatform {
 public:
  // The item's absolute path, so that the opener never takes it for an
  // option; null when it does not exist.
  void* makeReference(const char* path) override {
    return path == nullptr ? nullptr : realpath(path, nullptr);
  }
  bool openReference(void* reference) override {
    return startOpener(static_cast<const char*>(reference));
  }
  void releaseReference(void* reference) override { free(reference); }

  // A copy of the text when it could be an address: not empty, printable
  // ASCII, and not beginning with "-", which the opener would read as an
  // option.
  void* createUrl(const char* bytes, uint32_t length) override {
    if (length == 0 || bytes[0] == '-') return nullptr;
    for (uint32_t i = 0; i < length; ++i) {
      if (!isUrlByte(bytes[i])) return nullptr;
    }
    char* url = static_cast<char*>(malloc(length + 1));
    if (url == nullptr) return nullptr;
    memcpy(url, bytes, length);
    url[length] = 0;
    return url;
  }
  bool openUrl(void* url) override { return startOpener(static_cast<const char*>(url)); }
  void releaseUrl(void* url) override { free(url); }
};

}  // namespace

DesktopPlatform& DesktopPlatform::system() {
  static DesktopPlatform* platform = new XdgDesktopPlatform();  // never destroyed
  return *platform;
}
