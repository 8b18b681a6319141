// Path is the system's value type for file-system names: a String whose
// comparisons follow the case rule of the file system the program runs on,
// with the operations that take a name apart (directory, base name,
// extension, components), make it absolute and canonical, express it relative
// to another, and read or change the file system at that name.
//
// A Path holds exactly the text it was built from; only the operations that
// say so produce a cleaned-up form. Directory names that the system produces
// (current, home and temporary directory, the directory part of a split) end
// with "/", so joining is plain concatenation: `dir + "name"` is a Path and
// inserts no separator. Names are POSIX names; no encoding is interpreted.
//
// Copying a Path is intended and cheap: it shares its text as String does.
//
// Case rule: when caseSensitive() is false, equals, compareTo, startsWith,
// endsWith (with a Path suffix), indexOf and hashCode fold the ASCII capitals
// "A" to "Z" into "a" to "z" on both sides; no other byte is folded. The flag
// is decided once at start-up by probing whether "/tmp" tells the case of
// names apart (probeCaseSensitive); until then it is true.
//
// Failures of the file-system operations raise an Exception whose text is
// the path, ": ", what failed and, when the system reported an error, ": "
// and the system's text for it (throwFailure).
//
// Process-wide state (unlocked; the process is single-threaded): the case
// flag, the program path, the cached temporary directory and the memo of
// relativeTo, which lives until exit.
#ifndef VANTOREL_PLATFORM_PATH_H
#define VANTOREL_PLATFORM_PATH_H

#include <cstdint>

#include "lang/String.h"

struct stat;

class Path : public String {
 public:
  // A cursor for walking a path one component at a time with nextComponent.
  // A fresh cursor, and one whose walk has ended, is at position 0; the same
  // cursor can then walk again.
  class Component {
   public:
    // A component that a "/" follows, the root "/", and every "." or "..".
    static constexpr int32_t kDirectory = 2;
    // The last component of a path that does not end with "/".
    static constexpr int32_t kFinal = 4;

    Component() = default;

    // The index of the next unread byte; 0 before the first component and
    // after the last.
    uint32_t position() const { return position_; }
    // kDirectory or kFinal; 0 before the first component.
    int32_t kind() const { return kind_; }
    // The component without slashes; the root is the one-byte text "/".
    const String& name() const { return name_; }

   private:
    friend class Path;

    uint32_t position_ = 0;
    int32_t kind_ = 0;
    String name_;
  };

  Path() = default;
  Path(const String& text) : String(text) {}  // NOLINT: a String names a file
  Path(const char* text) : String(text) {}    // NOLINT: as a literal does
  Path(const char* bytes, uint32_t count) : String(bytes, count) {}

  // --- Comparison under the case rule -------------------------------------

  // Whether path comparisons tell "A" from "a". Decided at start-up.
  static bool caseSensitive();
  // Sets the case rule; for tests, which must restore it.
  static void setCaseSensitive(bool sensitive);
  // Creates the file `directory` + "Path.CaseSensitive" + the process id
  // (fresh: never through an existing name or a symbolic link), and answers
  // false only when the lower-cased name opens that very file. Removes only
  // the file it created; when it cannot create one it touches nothing and
  // answers true. `directory` ends with "/". Start-up runs it on "/tmp/".
  static bool probeCaseSensitive(const char* directory);

  // `other` is read as a String: equal lengths, bytes equal under the rule.
  bool equals(const Object& other) const override;
  // The same against a zero-terminated text (null counts as "").
  bool equals(const char* other) const;
  // String's hash of the folded text, so equal paths hash alike.
  uint32_t hashCode() const override;
  // Bytes taken as signed 8-bit values, folded; then the lengths.
  int compareTo(const Comparable& other) const override;
  // An empty prefix matches; otherwise the first bytes equal under the rule.
  bool startsWith(const String& prefix) const override;
  bool startsWith(const char* prefix) const;
  // suffix.equals(the last bytes of this path): a Path suffix compares
  // under the rule, a plain String exactly.
  bool endsWith(const String& suffix) const;
  // The smallest index i >= from (negative counts as 0) at which `sub`
  // occurs under the rule, or -1. An empty `sub` yields `from` when that is
  // within the text.
  int indexOf(const String& sub, int from = 0) const;
  // The separator search, byte for byte.
  int indexOf(char byte, int from = 0) const { return String::indexOf(byte, from); }

  // --- Taking a name apart -------------------------------------------------

  // Directory (up to and including the last "/"), base name and extension
  // (from the name's last "." that is neither its first nor its last byte).
  // '/a/b.tar.gz' gives '/a/', 'b.tar', '.gz'; '.profile' gives '',
  // '.profile', ''. Any out-parameter may be null.
  void split(Path* directory, Path* base, Path* extension) const;
  // The directory part, or "./" when there is none.
  Path getDirectory() const;
  // Base name and extension.
  Path getName() const;
  Path getBaseName() const;
  Path getExtension() const;

  // Moves `cursor` to the next component and returns true, or, at the end,
  // resets it to position 0 with an empty name and returns false. Repeated
  // slashes are skipped: '//a//b/' yields "/", 'a', 'b', all kDirectory.
  bool nextComponent(Component& cursor) const;

  // Appends "/" unless the path is empty or already ends with "/".
  Path& addTrailingSlash();
  Path withTrailingSlash() const;

  // --- Names in relation to the file system -------------------------------

  // The current directory, ending with "/"; read at any length. Raises
  // "get current directory failure" with the system's text.
  static Path getCurrentDirectory();
  // Absolute (relative paths are taken from the current directory), without
  // ".", ".." or repeated "/"; ends with "/" exactly when its last surviving
  // component was a directory component. '' stays ''. Links are not
  // consulted. Raises as getCurrentDirectory for a relative path.
  Path getCanonical() const;
  // This path relative to `base`, taken as a directory when it ends with "/"
  // and as a file in a directory otherwise: '/a/x' relative to '/a/b/e/' is
  // '../../x'; a path relative to itself is "./". Memoised per (directory
  // part of this path, base) for the life of the process; the memo does not
  // notice a change of the current directory.
  Path relativeTo(const Path& base) const;
  // relativeTo without the memo.
  Path computeRelative(const Path& base) const;
  // The path with every symbolic link along it replaced by its target, at
  // most kMaxLinkSubstitutions times (then the path as resolved so far). A
  // component that cannot be examined is left as it is.
  Path resolveLinks() const;
  static constexpr int kMaxLinkSubstitutions = 64;

  // Records the program's own path from its invocation name, always
  // absolute: an absolute name unchanged; a name with a "/" behind the
  // current directory and "/"; otherwise the first executable regular file
  // of that name along PATH ('/opt/v/install', or the current directory,
  // "/" and './install' for an entry "" or "."), or the current directory,
  // "/" and the name when there is none. Only when the current directory
  // cannot be read does a relative path stay. Called once, first thing in
  // main, before anything changes the current directory.
  static void setProgramPath(const char* invocationName);
  // The path recorded by setProgramPath; empty before.
  static Path getProgramPath();
  // Two levels above the program: the canonical form of the program path +
  // "/../.." with backslashes taken as "/"; '/opt/x/bin/install' gives
  // '/opt/x/'.
  static Path getInstallRoot();

  // The first executable regular file called `name` along PATH (see
  // SearchPath), or the empty Path.
  static Path findProgram(const Path& name);

  // --- File-system operations ----------------------------------------------
  // All work on the text unchanged: a relative path is relative to the
  // current directory of the process.

  // Raises the Exception of a failed operation on this path: the path, ": ",
  // `what` and, when errno is not 0, ": " and strerror(errno).
  [[noreturn]] void throwFailure(const String& what) const;

  // The `what` of throwFailure for the file-system operations, one text for
  // every class that does such an operation.
  static constexpr const char* kMakeDirectoryFailure = "make directory failure";
  static constexpr const char* kRemoveFileFailure = "remove file failure";
  static constexpr const char* kRemoveDirectoryFailure = "remove directory failure";
  static constexpr const char* kSetFilePermissionFailure = "set file permission failure";
  static constexpr const char* kSetModificationTimeFailure = "set modification time failure";
  static constexpr const char* kFileStatusFailure = "file status failure";
  static constexpr const char* kDirectoryOpenFailure = "directory open failure";

  // chdir; raises "set current directory failure".
  void setCurrentDirectory() const;
  // HOME with a trailing "/", when it names a directory; otherwise raises
  // "cannot determine home directory". Examined on every call.
  static Path getHomeDirectory();
  // TMPDIR when it names a directory, else "/tmp/"; with a trailing "/" and
  // made absolute. Decided on the first successful call and cached for the
  // life of the process. Raises "invalid temporary directory: " + TMPDIR when
  // neither is a directory (and then examines again on the next call).
  static Path getTemporaryDirectory();

  // The system's stat (links followed) into `status`; false when the path
  // cannot be examined.
  bool stat(struct stat& status) const;
  // Whether two status records describe one file: the same device and inode.
  static bool sameFile(const struct stat& a, const struct stat& b);
  // The text of the symbolic link at this path, at any length up to 1 MiB.
  // Raises "readlink failure" with the system's reason (ENAMETOOLONG beyond
  // the limit).
  String readLink() const;
  bool isFile() const;
  bool isDirectory() const;
  // A regular file with at least one execute bit.
  bool isExecutable() const;

  // Creates the directory and its missing parents with `mode`; an existing
  // directory is accepted. Raises "make directory failure" with the error of
  // the mkdir that failed. Leaves errno as it was on success.
  void makeDirectory(uint16_t mode) const;
  // Creates the missing directories along the canonical form of the path
  // with `mode`. Returns 0, or the result of the mkdir that failed (errno
  // tells why).
  int makeDirectories(uint16_t mode) const;
  // Removes the file, link (never what it points to) or whole directory tree
  // at this path, depth first; a missing path is not an error. A directory
  // that its owner cannot read, write or search is first given those rights.
  // Raises "remove file failure", "set file permission failure", "directory
  // open failure" or "remove directory failure" for the entry that failed.
  void remove() const;
  // chmod; raises "set file permission failure".
  void setPermissions(uint16_t mode) const;
  // Sets access and modification time to `time` (seconds since 1970);
  // raises "set modification time failure".
  void setModificationTime(uint32_t time) const;
  // The same two on `descriptor`, a descriptor open on this file: no path
  // is looked up. Failures are raised as above, naming this path.
  void setPermissions(uint16_t mode, int descriptor) const;
  void setModificationTime(uint32_t time, int descriptor) const;
  // Copies this file's content, modification time and mode to
  // `destination`, which is created or emptied; a destination left partly
  // written by a failing copy is removed. Refuses to copy a file onto itself
  // ("cannot copy a file onto itself", on the destination).
  void copyTo(const Path& destination) const;
  // Renames to `destination`, replacing what is there; across file systems
  // copies and removes the source. Raises "cannot rename to " + destination.
  void rename(const Path& destination) const;
  // The size of a file, or of a directory and everything below it, in whole
  // 1024-byte units per entry; symbolic links inside a directory count 0 and
  // are not followed. 0 when the path cannot be examined. A directory path
  // ends with "/".
  uint64_t getDiskUsage() const;
  // The name of the file system the path is on ("ext4", "tmpfs", ...), or
  // "" when it cannot be examined or its type is not known by name.
  String getFileSystemType() const;
};

// Joining is plain concatenation; no separator is inserted.
Path operator+(const Path& head, const String& tail);
Path operator+(const Path& head, const char* tail);

#endif  // VANTOREL_PLATFORM_PATH_H
