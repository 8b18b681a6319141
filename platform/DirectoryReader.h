// DirectoryReader lists the entries of one directory, "." and ".." left
// out, in the file system's own order (unsorted):
//
//   DirectoryReader reader(directory);
//   String name;
//   while (reader.next(name)) ...
//
// It holds the directory open from construction to destruction, so it is
// not copied.
#ifndef VANTOREL_PLATFORM_DIRECTORYREADER_H
#define VANTOREL_PLATFORM_DIRECTORYREADER_H

#include <dirent.h>

#include "lang/String.h"
#include "platform/Path.h"

class DirectoryReader {
 public:
  // What a directory that cannot be opened does: raise the path + ":
  // directory open failure" and the system's text, or list nothing.
  enum OpenFailure { kRaise, kQuiet };

  explicit DirectoryReader(const Path& directory, OpenFailure onFailure = kRaise);
  // Lists the directory open on `descriptor`, which the reader takes over
  // (closed with it, or at once when it cannot be listed); `directory` names
  // it in the failure, raised as above.
  DirectoryReader(const Path& directory, int descriptor);
  DirectoryReader(const DirectoryReader&) = delete;
  DirectoryReader& operator=(const DirectoryReader&) = delete;
  ~DirectoryReader();

  // Stores the next entry's name in `name` and returns true; at the end (or
  // when the directory cannot be read further) returns false and leaves
  // `name` alone.
  bool next(String& name);

 private:
  Path directory_;
  // Open from construction to destruction; null only when a kQuiet open
  // failed.
  DIR* handle_;
};

#endif  // VANTOREL_PLATFORM_DIRECTORYREADER_H
