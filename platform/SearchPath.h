// SearchPath finds a program along a colon-separated list of directories
// the way a shell does: entry by entry, the first match wins, and the same
// SearchPath continues after its last match on the next call.
//
// An empty entry (a leading, doubled or trailing ":") means the current
// directory; an entry beginning with "~/" stands for the home directory. An
// empty list holds no entry: nothing is found along it. A name with a "/" in it is not searched:
// the first call returns it unexamined.
#ifndef VANTOREL_PLATFORM_SEARCHPATH_H
#define VANTOREL_PLATFORM_SEARCHPATH_H

#include <cstdint>

#include "lang/String.h"
#include "platform/Path.h"

class SearchPath {
 public:
  // The list is the value of the environment variable `variable`, or of
  // PATH when it is null, unset or empty.
  explicit SearchPath(const char* variable = nullptr);

  // Sets `result` to the next regular file called `name` along the list
  // (with an execute bit, when `executableOnly`) and returns true; at the end
  // of the list sets it empty and returns false. Raises the home directory's
  // Exception when a "~/" entry is met without a home directory.
  bool find(const Path& name, Path& result, bool executableOnly);

 private:
  // The directories, separated by ":".
  String list_;
  // Where the next search starts in list_.
  uint32_t cursor_;
};

#endif  // VANTOREL_PLATFORM_SEARCHPATH_H
