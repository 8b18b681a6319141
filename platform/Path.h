// Path is the system's value type for file-system names: a String whose
// comparisons follow the case rule of the file system the program runs on.
// Copying a Path is intended and cheap, as for String.
#ifndef VANTOREL_PLATFORM_PATH_H
#define VANTOREL_PLATFORM_PATH_H

#include "lang/String.h"

class Path : public String {
 public:
  Path() = default;
  Path(const String& text) : String(text) {}     // NOLINT: a String names a file
  Path(const char* text) : String(text) {}       // NOLINT
  Path(const char* bytes, uint32_t count) : String(bytes, count) {}

  // Records the program's own path from its invocation name: an absolute
  // name unchanged; a name with a "/" behind the current directory and "/";
  // otherwise the first regular file of that name along PATH, or the name
  // unchanged when there is none. Called once, first thing in main.
  static void setProgramPath(const char* invocationName);
  // The path recorded by setProgramPath; empty before.
  static Path getProgramPath();
};

#endif  // VANTOREL_PLATFORM_PATH_H
