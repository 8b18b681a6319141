#include "platform/Desktop.h"

#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "lang/Array.h"
#include "lang/Exception.h"
#include "platform/CommandLine.h"
#include "platform/DescriptorRedirectString.h"
#include "platform/DesktopPlatform.h"
#include "platform/Process.h"
#include "platform/ProgramLocation.h"

namespace {

constexpr char kFolderFailure[] = "error launching Finder";
constexpr char kTextFileFailure[] = "error launching text editor";
constexpr char kBrowserFailure[] = "error launching HTML browser";
constexpr char kUserNameFailure[] = "GetUserName failure: ";

// The width assumed when the terminal cannot tell: the classic terminal's.
constexpr int kDefaultTerminalWidth = 80;

// The buffer for the login name from "who -m", terminator included.
constexpr size_t kUserNameBuffer = 256;

// Asks the system for the login name of the terminal's user.
const char* const kWhoArguments[] = {"who", "-m", nullptr};

// Points at gFallbackBuffer from the first lookup without a user-database
// entry on, for the life of the process.
const char* gFallbackName = nullptr;
char gFallbackBuffer[kUserNameBuffer];

// Opens the item `path` names through the platform layer.
void openItem(const char* path, const char* failure) {
  DesktopPlatform& platform = DesktopPlatform::current();
  void* reference = platform.makeReference(path);
  if (reference == nullptr) throw Exception(failure);
  bool opened = platform.openReference(reference);
  platform.releaseReference(reference);
  if (!opened) throw Exception(failure);
}

// Starts one command of runFirstAvailable; whether it could be run.
bool runCommand(const char* command, const char* argument) {
  CommandLine words;
  Array<String> pieces = String(command).split(' ');
  for (uint32_t i = 0; i < pieces.length(); ++i) {
    if (!pieces[i].isEmpty()) words.add(pieces[i]);
  }
  if (words.isEmpty()) return false;
  if (argument != nullptr) words.add(argument);
  const String& program = words.get(0);
  if (program.charAt(0) == '/') {
    struct stat status;
    if (stat(program.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) return false;
    return spawnProcess(words.getArgv(), nullptr) >= 0;
  }
  char found[kProgramSearchBuffer];
  if (findProgramFile(nullptr, program.c_str(), found) == 0) return false;
  words.set(0, new String(found));
  return runProcess(words.getArgv(), nullptr) != -1;
}

// Fills gFallbackBuffer once with the first word of "who -m"'s line (the
// text before its first two blanks), leaving errno at the error of a "who"
// that could not be run, or 0.
void fillFallbackName() {
  gFallbackName = gFallbackBuffer;
  String output;
  int error = 0;
  {
    DescriptorRedirectString capture(output, STDOUT_FILENO);
    if (runProcess(const_cast<char* const*>(kWhoArguments), nullptr) < 0) error = errno;
  }
  int end = output.indexOf(String("  "));
  if (end > 0) {
    size_t length = static_cast<size_t>(end) < kUserNameBuffer - 1 ? end : kUserNameBuffer - 1;
    memcpy(gFallbackBuffer, output.data(), length);
  }
  errno = error;
}

}  // namespace

void openFolder(const char* path) { openItem(path, kFolderFailure); }

void openTextFile(const char* path) { openItem(path, kTextFileFailure); }

void openBrowser(const char* url) {
  DesktopPlatform& platform = DesktopPlatform::current();
  void* object =
      url == nullptr ? nullptr : platform.createUrl(url, static_cast<uint32_t>(strlen(url)));
  if (object == nullptr) throw Exception(kBrowserFailure);
  bool opened = platform.openUrl(object);
  platform.releaseUrl(object);
  if (!opened) throw Exception(kBrowserFailure);
}

void runFirstAvailable(const char* const* commands, const char* argument, const char* message) {
  for (; commands != nullptr && *commands != nullptr; ++commands) {
    if (runCommand(*commands, argument)) return;
  }
  throw Exception(message);
}

int getTerminalWidth() {
  struct winsize size;
  if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col != 0) return size.ws_col;
  return kDefaultTerminalWidth;
}

String getUserName() {
  errno = 0;
  const char* name = DesktopPlatform::current().userDatabaseName();
  if (name == nullptr) {
    if (gFallbackName == nullptr) fillFallbackName();
    name = gFallbackName;
  }
  if (name[0] == 0) throw Exception(String(kUserNameFailure) + strerror(errno));
  return String(name);
}
