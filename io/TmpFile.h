// TmpFile removes temporary files when it is destroyed, also while an
// exception unwinds: register each path with add(). Each path is removed once,
// as an ordinary file or an empty directory; failures (a path already gone,
// say) are ignored.
#ifndef VANTOREL_IO_TMPFILE_H
#define VANTOREL_IO_TMPFILE_H

#include <cstdint>

#include "lang/String.h"

class TmpFile {
 public:
  TmpFile();
  explicit TmpFile(const String& path);
  TmpFile(const TmpFile&) = delete;
  TmpFile& operator=(const TmpFile&) = delete;
  ~TmpFile();

  // Keeps a private copy of `path`.
  void add(const String& path);

 private:
  // count_ owned zero-terminated copies in an owned array of capacity_.
  char** paths_;
  uint32_t count_;
  uint32_t capacity_;
};

#endif  // VANTOREL_IO_TMPFILE_H
