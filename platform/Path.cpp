#include "platform/Path.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/ProgramLocation.h"

namespace {

// The program's own path; empty until setProgramPath records it.
String& programPath() {
  static String* path = new String();  // lives until exit, never destroyed
  return *path;
}

// The current directory of any length, or the empty String when it cannot be
// read.
String currentDirectoryText() {
  std::vector<char> buffer(1024);
  for (;;) {
    if (getcwd(buffer.data(), buffer.size()) != nullptr) return String(buffer.data());
    if (errno != ERANGE || buffer.size() > (1u << 20)) return String();
    buffer.resize(buffer.size() * 2);
  }
}

}  // namespace

void Path::setProgramPath(const char* invocationName) {
  String& path = programPath();
  path = invocationName;
  if (invocationName[0] == '/') return;
  if (strchr(invocationName, '/') != nullptr) {
    String directory = currentDirectoryText();
    if (!directory.isEmpty()) path = directory + "/" + invocationName;
    return;
  }
  char candidate[kProgramSearchBuffer];
  if (findProgramFile(nullptr, invocationName, candidate) != 0) path = candidate;
}

Path Path::getProgramPath() { return Path(programPath()); }
