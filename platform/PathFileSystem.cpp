// The operations of Path that read or change the file system: the home and
// temporary directories, status queries, creating and removing directories
// and trees, permissions and times, copying and renaming, disk usage and the
// file-system type.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#ifdef __APPLE__
#include <sys/mount.h>
#else
#include <sys/statfs.h>
#endif
#include <unistd.h>
#include <utime.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "io/RandomAccessFile.h"
#include "lang/Exception.h"
#include "platform/DirectoryReader.h"
#include "platform/Path.h"

namespace {

constexpr const char* kSetCurrentDirectoryFailure = "set current directory failure";
constexpr const char* kCannotDetermineHomeDirectory = "cannot determine home directory";
constexpr const char* kInvalidTemporaryDirectory = "invalid temporary directory: ";
constexpr const char* kCopyOntoItself = "cannot copy a file onto itself";
constexpr const char* kCannotRenameTo = "cannot rename to ";

// The temporary directory when TMPDIR names none.
constexpr const char* kDefaultTemporaryDirectory = "/tmp/";

// Copies move this many bytes per read.
constexpr uint32_t kCopyChunk = 4096;

// Disk usage is counted in units of this many bytes, rounded up per entry.
constexpr uint64_t kUsageUnit = 1024;

// Rights the owner needs on a directory to empty it: read, write, search.
constexpr mode_t kOwnerAll = S_IRWXU;

// Sets the access and modification time of `path` to `time`.
bool setTimes(const Path& path, time_t time) {
  struct utimbuf times;
  times.actime = time;
  times.modtime = time;
  return utime(path.c_str(), &times) == 0;
}

// The usage of an entry whose status is `status`; see Path::getDiskUsage.
uint64_t diskUsage(const Path& path, const struct stat& status) {
  if (!S_ISREG(status.st_mode) && !S_ISDIR(status.st_mode)) return 0;
  uint64_t usage = (static_cast<uint64_t>(status.st_size) + kUsageUnit - 1) / kUsageUnit;
  if (!S_ISDIR(status.st_mode)) return usage;
  Path directory = path.withTrailingSlash();
  DirectoryReader reader(directory, DirectoryReader::kQuiet);
  String name;
  while (reader.next(name)) {
    Path entry = directory + name;
    struct stat entryStatus;
    // Links inside the tree are not followed: a link to an ancestor would
    // count the tree again and again.
    if (lstat(entry.c_str(), &entryStatus) != 0) continue;
    usage += diskUsage(entry, entryStatus);
  }
  return usage;
}

// Names for the magic numbers of Linux's statfs, from the kernel's
// include/uapi/linux/magic.h (and the file systems' own sources for those
// outside the kernel tree).
struct FileSystemName {
  uint64_t magic;
  const char* name;
};
constexpr FileSystemName kFileSystemNames[] = {
    {0xEF53, "ext4"},  // shared by ext2, ext3 and ext4
    {0x58465342, "xfs"},   {0x9123683E, "btrfs"},    {0x01021994, "tmpfs"},
    {0x858458F6, "ramfs"}, {0x6969, "nfs"},          {0xFF534D42, "cifs"},
    {0xFE534D42, "smb2"},  {0x794C7630, "overlay"},  {0x4D44, "vfat"},
    {0x2011BAB0, "exfat"}, {0x5346544E, "ntfs"},     {0x9660, "iso9660"},
    {0x15013346, "udf"},   {0x73717368, "squashfs"}, {0x2FC12FC1, "zfs"},
    {0xF2F52010, "f2fs"},  {0xCA451A4E, "bcachefs"}, {0x65735546, "fuse"},
    {0x01021997, "9p"},    {0x9FA0, "proc"},         {0x62656572, "sysfs"},
    {0x1CD1, "devpts"},    {0x63677270, "cgroup2"},  {0x27E0EB, "cgroup"},
};

}  // namespace

void Path::setCurrentDirectory() const {
  if (chdir(c_str()) != 0) throwFailure(kSetCurrentDirectoryFailure);
}

Path Path::getHomeDirectory() {
  const char* home = getenv("HOME");
  Path directory(home);
  if (!directory.isDirectory()) throw Exception(kCannotDetermineHomeDirectory);
  return directory.addTrailingSlash();
}

Path Path::getTemporaryDirectory() {
  static Path* cached = new Path();  // lives until exit, never destroyed
  if (!cached->isEmpty()) return *cached;
  Path value(getenv("TMPDIR"));
  Path accepted;
  if (!value.isEmpty() && value.isDirectory()) {
    accepted = value;
  } else if (Path(kDefaultTemporaryDirectory).isDirectory()) {
    accepted = kDefaultTemporaryDirectory;
  } else {
    throw Exception(kInvalidTemporaryDirectory + value);
  }
  accepted.addTrailingSlash();
  if (accepted.charAt(0) != '/') accepted = getCurrentDirectory() + accepted;
  *cached = accepted;
  return accepted;
}

bool Path::stat(struct stat& status) const { return ::stat(c_str(), &status) == 0; }

bool Path::isFile() const {
  struct stat status;
  return stat(status) && S_ISREG(status.st_mode);
}

bool Path::isDirectory() const {
  struct stat status;
  return stat(status) && S_ISDIR(status.st_mode);
}

bool Path::isExecutable() const {
  struct stat status;
  return stat(status) && S_ISREG(status.st_mode) &&
         (status.st_mode & (S_IXUSR | S_IXGRP | S_IXOTH)) != 0;
}

void Path::makeDirectory(uint16_t mode) const {
  int savedErrno = errno;
  if (mkdir(c_str(), mode) != 0 && makeDirectories(mode) != 0) {
    throwFailure(kMakeDirectoryFailure);
  }
  errno = savedErrno;
}

int Path::makeDirectories(uint16_t mode) const {
  Path full = withTrailingSlash().getCanonical();
  if (full.isEmpty()) {
    // The empty name names no directory.
    errno = ENOENT;
    return -1;
  }
  Component cursor;
  full.nextComponent(cursor);  // the root
  bool creating = false;
  while (full.nextComponent(cursor)) {
    // A canonical directory name has exactly one "/" after each component.
    Path prefix = full.substring(0, cursor.position() - 1);
    if (!creating) {
      if (prefix.isDirectory()) continue;
      creating = true;
    }
    int result = mkdir(prefix.c_str(), mode);
    if (result != 0) return result;
  }
  return 0;
}

void Path::remove() const {
  // The entry is examined without its trailing slashes: with them, lstat
  // would follow a link to a directory, and the tree it points to would be
  // emptied instead of the link being removed.
  uint32_t end = length();
  while (end > 1 && charAt(end - 1) == '/') --end;
  Path entry = substring(0, end);
  struct stat status;
  if (lstat(entry.c_str(), &status) != 0) return;  // nothing to remove
  if (!S_ISDIR(status.st_mode)) {
    if (::remove(entry.c_str()) != 0) throwFailure(kRemoveFileFailure);
    return;
  }
  // Only the owner's rights are added: for the time the tree is emptied, no
  // one else may place entries in it.
  if ((status.st_mode & kOwnerAll) != kOwnerAll &&
      chmod(c_str(), (status.st_mode & 07777) | kOwnerAll) != 0) {
    throwFailure(kSetFilePermissionFailure);
  }
  // The whole listing is read before anything is removed, so that it stays
  // stable while entries disappear.
  std::vector<Path> entries;
  {
    Path directory = withTrailingSlash();
    DirectoryReader reader(*this);
    String name;
    while (reader.next(name)) entries.push_back(directory + name);
  }
  for (const Path& child : entries) child.remove();
  if (rmdir(c_str()) != 0) throwFailure(kRemoveDirectoryFailure);
}

void Path::setPermissions(uint16_t mode) const {
  if (chmod(c_str(), mode) != 0) throwFailure(kSetFilePermissionFailure);
}

void Path::setModificationTime(uint32_t time) const {
  if (!setTimes(*this, static_cast<time_t>(time))) throwFailure(kSetModificationTimeFailure);
}

void Path::setPermissions(uint16_t mode, int descriptor) const {
  if (fchmod(descriptor, mode) != 0) throwFailure(kSetFilePermissionFailure);
}

void Path::setModificationTime(uint32_t time, int descriptor) const {
  struct timespec times[2];
  times[0].tv_sec = times[1].tv_sec = static_cast<time_t>(time);
  times[0].tv_nsec = times[1].tv_nsec = 0;
  if (futimens(descriptor, times) != 0) throwFailure(kSetModificationTimeFailure);
}

void Path::copyTo(const Path& destination) const {
  RandomAccessFile source(*this, O_RDONLY);
  struct stat status;
  if (fstat(source.getDescriptor(), &status) != 0) throwFailure(kFileStatusFailure);
  // Emptying the destination first would destroy the source.
  struct stat existing;
  if (destination.stat(existing) && Path::sameFile(status, existing)) {
    errno = 0;
    destination.throwFailure(kCopyOntoItself);
  }
  RandomAccessFile target(destination, O_WRONLY | O_CREAT | O_TRUNC);
  try {
    char buffer[kCopyChunk];
    int count;
    while ((count = source.read(buffer, sizeof buffer)) > 0) {
      target.writeFully(buffer, static_cast<uint32_t>(count));
    }
    target.close();
  } catch (...) {
    // A partial copy is not left behind.
    ::remove(destination.c_str());
    throw;
  }
  if (!setTimes(destination, status.st_mtime)) {
    destination.throwFailure(kSetModificationTimeFailure);
  }
  destination.setPermissions(static_cast<uint16_t>(status.st_mode & 07777));
  source.close();
}

void Path::rename(const Path& destination) const {
  if (::rename(c_str(), destination.c_str()) == 0) return;
  if (errno == EEXIST && ::remove(destination.c_str()) == 0) {
    errno = 0;
    if (::rename(c_str(), destination.c_str()) == 0) return;
  }
  if (errno == EXDEV) {
    // Only a regular file can be carried over by copying; anything else
    // keeps the error, and the destination stays as it was.
    struct stat status;
    if (lstat(c_str(), &status) == 0 && S_ISREG(status.st_mode)) {
      copyTo(destination);
      remove();
      return;
    }
    errno = EXDEV;
  }
  int error = errno;
  String what = kCannotRenameTo + destination;
  errno = error;
  throwFailure(what);
}

uint64_t Path::getDiskUsage() const {
  struct stat status;
  if (!stat(status)) return 0;
  return diskUsage(*this, status);
}

String Path::getFileSystemType() const {
  struct statfs status;
  if (statfs(c_str(), &status) != 0) return String();
#ifdef __APPLE__
  return String(status.f_fstypename);
#else
  uint64_t magic = static_cast<uint64_t>(status.f_type) & 0xFFFFFFFFu;
  for (const FileSystemName& known : kFileSystemNames) {
    if (known.magic == magic) return String(known.name);
  }
  return String();
#endif
}
