#include "platform/SearchPath.h"

#include <sys/stat.h>

#include <cstdlib>

SearchPath::SearchPath(const char* variable) : cursor_(0) {
  const char* value = variable != nullptr ? getenv(variable) : nullptr;
  if (value == nullptr || *value == 0) value = getenv("PATH");
  list_ = value;
}

bool SearchPath::find(const Path& name, Path& result, bool executableOnly) {
  if (name.indexOf('/') >= 0) {
    // A name with a directory part is taken as it is, once.
    bool first = cursor_ == 0;
    cursor_ = 1;
    result = first ? name : Path();
    return first;
  }
  // Every ":" separates two entries, so a trailing one is followed by an
  // empty entry (the current directory), as in a shell; an empty list has
  // no entry at all.
  while (cursor_ < list_.length() ||
         (cursor_ == list_.length() && cursor_ > 0 && list_.charAt(cursor_ - 1) == ':')) {
    int colon = list_.indexOf(':', static_cast<int>(cursor_));
    uint32_t end = colon < 0 ? list_.length() : static_cast<uint32_t>(colon);
    Path directory(list_.substring(cursor_, end));
    cursor_ = end + 1;
    if (directory.isEmpty()) {
      directory = "./";
    } else {
      directory.addTrailingSlash();
    }
    if (directory.length() >= 2 && directory.startsWith(Path("~/"))) {
      directory = Path::getHomeDirectory() + directory.substring(2);
    }
    Path candidate = directory + name;
    struct stat status;
    if (candidate.stat(status) && S_ISREG(status.st_mode) &&
        (!executableOnly || (status.st_mode & 0111) != 0)) {
      result = candidate;
      return true;
    }
  }
  result = Path();
  return false;
}

Path Path::findProgram(const Path& name) {
  SearchPath search;
  Path result;
  search.find(name, result, true);
  return result;
}
