// ArchiveReadVerbose is an ArchiveRead that, with `verbose` set, lists every
// entry on standard error as it is extracted:
//
//         1234 bin/tool                 (a regular file: size and name)
//              lib/                     (a directory)
//              bin/cc link to bin/gcc   (a hard link)
//              lib/x -> y               (a symbolic link)
//
// Control bytes in names and link texts are shown as C escapes
// (String::escapeControls): "a\nb" is listed as 'a\nb'.
#ifndef VANTOREL_ARCHIVE_ARCHIVEREADVERBOSE_H
#define VANTOREL_ARCHIVE_ARCHIVEREADVERBOSE_H

#include <cstdio>

#include "archive/ArchiveRead.h"

class ArchiveReadVerbose : public ArchiveRead {
 public:
  ArchiveReadVerbose(InputStream* in, bool cipher) : ArchiveRead(in, cipher), verbose(false) {}

  // Writes the listing line of `entry` to `out`; nothing for unknown types.
  static void list(FILE* out, const Entry& entry, const char* body);

  // Set by the owner; false after construction.
  bool verbose;

 protected:
  void onEntry(const Entry& entry, const char* body) override;
};

#endif  // VANTOREL_ARCHIVE_ARCHIVEREADVERBOSE_H
