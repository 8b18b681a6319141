// DestinationTree is the directory tree that an extraction writes. Made on
// one directory (the installation directory), it creates, links, replaces,
// removes and examines names below it, always relative to directory
// descriptors: each name is resolved from the tree's own descriptor one
// component at a time with O_NOFOLLOW | O_DIRECTORY, and the last component
// is handled by the *at call itself (mkdirat, unlinkat, linkat, symlinkat,
// openat with O_CREAT | O_EXCL | O_NOFOLLOW, fstatat without following).
// No call follows a symbolic link on the way to a name or at the name, so
// the name that is checked and the name that is used are one file, whatever
// another process does to the tree meanwhile. On Linux, openat2 with
// RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS resolves the directories of a name
// in one call where the kernel has it; the walk stays the portable path.
//
//   DestinationTree tree(Path("."));           // the current directory
//   tree.makeDirectory("lib", 0555);            // owner rights for now
//   tree.remove("lib/x");                       // whatever is there, trees too
//   RandomAccessFile file = tree.createFile("lib/x");   // new, exclusively
//   ...                                         // write it, set its mode
//   tree.applyDirectoryModes();                 // lib becomes 0555
//
// Names are relative and "/"-separated; "." components and repeated slashes
// are taken as they read. The caller refuses absolute names and ".." before
// (such a name raises "NAME: name leaves the tree"). A directory on the way
// to a name that is a symbolic link raises LinkInTheWay. Other failures are
// Exceptions in the form of Path::throwFailure ("NAME: make directory
// failure: File exists") or, for opening files, of RandomAccessFile ("File
// create error: NAME: File exists"), NAME being the name as given. A name
// whose directories are missing or not directories is simply not there for
// the examining and removing operations.
//
// Modes: a directory that the tree makes gets its mode with owner read,
// write and search added, so that its content can be written whatever its
// mode; applyDirectoryModes() gives each its exact mode at the end, deepest
// first, if it is still the directory the tree made. Directories that
// existed keep their modes. Until then (after a failure, say) the
// directories made keep the owner's rights.
//
// The tree owns every descriptor it opens: its directory's, and those of a
// small cache of at most kCachedDirectories open directories (the least
// recently used is closed first), so that a name costs about one lookup
// instead of one per component. Removing a name drops the cached directories
// at and below it. A tree is used by one thread; it is not copied.
#ifndef VANTOREL_PLATFORM_DESTINATIONTREE_H
#define VANTOREL_PLATFORM_DESTINATIONTREE_H

#include <sys/types.h>

#include <cstdint>
#include <vector>

#include "io/RandomAccessFile.h"
#include "lang/Exception.h"
#include "platform/DirectoryReader.h"
#include "platform/Path.h"

struct stat;

class DestinationTree {
 public:
  // A directory on the way to a name is a symbolic link (one that was on
  // the disk before, or that the tree made): nothing is done through it.
  // The text names the name up to the link: "Archive: symbolic link in the
  // way: NAME", the text the installer has always shown for it.
  class LinkInTheWay : public Exception {
   public:
    explicit LinkInTheWay(const String& name);
  };

  // How names are resolved. kWholeName: openat2 for a name's directories
  // where the kernel has it (Linux, unless built with VANTOREL_PORTABLE),
  // the component walk otherwise; kComponentWalk: always the walk. Both
  // reach the same files and raise the same failures.
  enum Resolution { kWholeName, kComponentWalk };

  // Whether getStatus follows a symbolic link at the name itself (never one
  // on the way): kFollowLast tells what a link there reaches, for queries
  // that decide nothing about writing through it.
  enum Follow { kNoFollow, kFollowLast };

  // At most this many directories are kept open besides the tree's own.
  static constexpr uint32_t kCachedDirectories = 32;

  // Opens `directory`, following links in its own name (the caller chose
  // it); raises "DIRECTORY: directory open failure: REASON".
  explicit DestinationTree(const Path& directory, Resolution resolution = kWholeName);
  DestinationTree(const DestinationTree&) = delete;
  DestinationTree& operator=(const DestinationTree&) = delete;
  // Closes every descriptor; applies no modes.
  ~DestinationTree();

  // The resolution in use: kComponentWalk once the kernel has refused
  // openat2 (ENOSYS), or when none is built.
  Resolution resolution() const;

  // --- Making and removing -----------------------------------------------

  // Makes the directory `name` (its parent must exist) with `mode` & 0777,
  // or leaves the directory that is there as it is. Raises "NAME: make
  // directory failure: REASON" (File exists when a non-directory is there),
  // or LinkInTheWay when a link is at the name or on the way.
  void makeDirectory(const Path& name, uint32_t mode);
  // Removes the file, link (never what it reaches) or whole directory tree
  // at `name`, depth first, never leaving the tree through a link in it; a
  // name that is not there is no error. A directory that its owner cannot
  // read, write or search is given those rights first. Raises "remove file
  // failure", "set file permission failure", "directory open failure" or
  // "remove directory failure" naming the entry that failed (a child as
  // NAME/CHILD).
  void remove(const Path& name);
  // Creates the regular file `name`, which must not exist (the caller has
  // removed what was there: something that appeared since is a failure),
  // with mode 0600 (subject to the umask), open for writing. Raises "File
  // create error: NAME: REASON".
  RandomAccessFile createFile(const Path& name);
  // Makes `name` a second name of `target` (a symbolic link at `target`
  // gets a second name itself); false, with errno set, when the system
  // refuses or either name's directories are not there.
  bool makeHardLink(const Path& target, const Path& name);
  // Makes the symbolic link `name` with the text `text`; false, with errno
  // set, when the system refuses or the name's directories are not there.
  bool makeSymbolicLink(const String& text, const Path& name);
  // Copies the regular file `source` to the new file `destination` with its
  // content, modification time and mode; false, touching nothing, when
  // `source` is not a regular file (a link, a directory, a FIFO). Raises
  // "File open error: SOURCE: ...", "File create error: DESTINATION: ..."
  // (which must not exist), the read and write errors, and "set
  // modification time failure" or "set file permission failure" on the
  // destination; a destination left partly written is removed.
  bool copyFile(const Path& source, const Path& destination);

  // --- Examining ---------------------------------------------------------

  // The status of `name` (the tree itself for "" or "."); false when it is
  // not there.
  bool getStatus(const Path& name, struct stat& status, Follow follow = kNoFollow);
  // Lists the directory `name` ("" or "." for the tree itself). Raises
  // "NAME: directory open failure: REASON".
  DirectoryReader list(const Path& name);
  // Opens `name` for reading when it is a regular file: never through a
  // link at the name and without blocking on a FIFO. Anything else gives a
  // file that is not open (descriptor -1).
  RandomAccessFile openFile(const Path& name);

  // --- Modes -------------------------------------------------------------

  // Gives every directory that makeDirectory made without all of the
  // owner's rights in its mode that exact mode, deepest first, through a
  // descriptor of the directory itself, and only while it is still the
  // directory made. Raises "NAME: set file permission failure: REASON".
  void applyDirectoryModes();

 private:
  class Name;
  struct CachedDirectory {
    Path key;  // the directory's components joined by "/", "." left out
    int descriptor;
    uint64_t lastUse;
    // The operation that is using the descriptor: it is not closed before
    // that operation ends.
    uint64_t pinnedBy;
  };
  struct DeferredMode {
    Path key;
    Path name;  // as the caller gave it, for messages
    uint32_t mode;
    dev_t device;
    ino_t inode;
    uint32_t depth;
  };

  // Starts a public operation: the descriptors that the last one held
  // pinned may be closed again.
  void beginOperation() { ++operation_; }
  // The descriptor of the directory formed by the first `count` components
  // of `name`, borrowed from the cache (or the tree's own); -1 with errno set
  // when it is missing or not a directory. Raises LinkInTheWay.
  int directory(const Name& name, uint32_t count);
  int walk(const Name& name, uint32_t from, int start, uint32_t count);
  // Caches `descriptor` as the directory `key`, pinned by the current
  // operation when `pin` is set, closing the least recently used.
  void remember(const Path& key, int descriptor, bool pin);
  // Closes the cached directories at and below `key`.
  void forget(const Path& key);
  // Drops the deferred modes at and below `key`.
  void forgetModes(const Path& key);
  // Removes the entry `last` of the directory `parent`; `name` names it.
  // Returns whether it was a directory.
  bool removeEntry(int parent, const String& last, const Path& name);
  void removeTree(int parent, const String& last, const Path& name, const struct stat& status);
  RandomAccessFile createIn(int parent, const String& last, const Path& name);

  // The tree's own directory, open from construction to destruction.
  int root_;
  Resolution resolution_;
  // At most kCachedDirectories entries; each owns its descriptor.
  std::vector<CachedDirectory> cache_;
  uint64_t clock_ = 0;
  uint64_t operation_ = 0;
  // The directories made without all of the owner's rights in their mode.
  std::vector<DeferredMode> deferred_;
};

#endif  // VANTOREL_PLATFORM_DESTINATIONTREE_H
