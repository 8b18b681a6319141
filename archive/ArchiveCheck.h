// ArchiveCheck holds the installer's rules for the names in an archive, so
// that the reader that extracts, installdata verify, which checks a file, and
// installdata create, which refuses to make a file the installer would
// refuse, apply the same ones. Make one per archive and give it every entry
// in archive order, each once:
//
//   ArchiveCheck check;
//   for (each entry) check.check(entry, content);   // raises a refusal
//
// A refusal is an Exception with the installer's text: "Archive: unsafe
// entry name: NAME" (empty, absolute, climbing with "..", holding a zero
// byte, or, for anything but a directory, ending with "/" or "."),
// "Archive: unsafe link target: TARGET" (the same for a hard link's
// target), or DestinationTree::LinkInTheWay ("Archive: symbolic link in the
// way: NAME") for a name or hard-link target below a symbolic link that an
// earlier entry makes, or below a hard link to one: those links are made
// last, so such a name is refused before anything is written for it.
#ifndef VANTOREL_ARCHIVE_ARCHIVECHECK_H
#define VANTOREL_ARCHIVE_ARCHIVECHECK_H

#include <memory>

#include "archive/Archive.h"

class ArchiveCheck {
 public:
  ArchiveCheck();
  ArchiveCheck(const ArchiveCheck&) = delete;
  ArchiveCheck& operator=(const ArchiveCheck&) = delete;
  ~ArchiveCheck();

  // Raises the refusal for `entry`, whose content (a hard link's target, a
  // symbolic link's text) is the entry.size bytes at `content`; entries of
  // an unknown type are left to the caller. Records the links it makes.
  void check(const Archive::Entry& entry, const char* content);

  // `path` with its "." and ".." components taken as they read, into
  // `inside`: what the file system makes of them as long as no link is on
  // the way. False when the path is empty, absolute, holds a zero byte,
  // climbs above the directory it is relative to, or names it.
  static bool resolveInside(const Path& path, Path& inside);
  // Raises "Archive: unsafe link target: TARGET".
  [[noreturn]] static void refuseTarget(const String& target);

 private:
  class LinkNames;

  // The names of the symbolic links that earlier entries make, and of the
  // hard links to them.
  std::unique_ptr<LinkNames> links_;
};

#endif  // VANTOREL_ARCHIVE_ARCHIVECHECK_H
