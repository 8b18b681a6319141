#include "platform/DestinationTree.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>

// VANTOREL_PORTABLE builds what every POSIX system has: the component walk,
// on descriptors opened for search (or reading). Otherwise Linux builds
// openat2 for whole names, where the kernel has it (5.6 and later), on
// O_PATH descriptors, which need no read permission on the directory.
#if defined(__linux__) && !defined(VANTOREL_PORTABLE)
#include <linux/openat2.h>
#include <sys/syscall.h>

namespace {

constexpr bool kOpenat2Built = true;
constexpr int kDirectoryAccess = O_PATH;

// openat2 of the directory `name` below `directory`: no symbolic link
// anywhere, nothing above `directory`.
int openBeneath(int directory, const char* name) {
  struct open_how how = {};
  how.flags = O_PATH | O_DIRECTORY | O_CLOEXEC;
  how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
  return static_cast<int>(syscall(SYS_openat2, directory, name, &how, sizeof how));
}

}  // namespace
#else
namespace {

constexpr bool kOpenat2Built = false;
#ifdef O_SEARCH
constexpr int kDirectoryAccess = O_SEARCH;
#else
constexpr int kDirectoryAccess = O_RDONLY;
#endif

int openBeneath(int, const char*) {
  errno = ENOSYS;
  return -1;
}

}  // namespace
#endif

namespace {

constexpr const char* kLinkInTheWay = "Archive: symbolic link in the way: ";
constexpr const char* kLeavesTheTree = "name leaves the tree";

// One directory on the way to a name, never through a link.
constexpr int kDirectoryFlags = kDirectoryAccess | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
// A directory whose mode or entries are changed through its descriptor.
constexpr int kDirectoryWriteFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
// A new regular file: only ever a fresh one, never what is at the name.
constexpr int kCreateFlags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
// A file to read: not through a link at its name, and a FIFO does not block.
constexpr int kReadFlags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
// New files, as RandomAccessFile makes them; their owner sets the mode.
constexpr mode_t kCreateMode = 0600;
// The owner's rights that a directory needs while its content is written.
constexpr mode_t kOwnerAll = S_IRWXU;
// Copies move this many bytes per read.
constexpr uint32_t kCopyChunk = 4096;

// The process-wide verdict of the kernel on openat2: set once it answered
// ENOSYS. Only ever set from true to false; every tree uses one thread.
bool gOpenat2Missing = false;

bool isDot(const String& text) { return text.length() == 1 && text.charAt(0) == '.'; }

bool isDotDot(const String& text) {
  return text.length() == 2 && text.charAt(0) == '.' && text.charAt(1) == '.';
}

// Whether `key` is `ancestor` or lies below it.
bool isAtOrBelow(const Path& key, const Path& ancestor) {
  if (key.length() < ancestor.length() || !key.startsWith(ancestor)) return false;
  return key.length() == ancestor.length() || key.charAt(ancestor.length()) == '/';
}

// Closes a descriptor when it goes out of scope.
class Descriptor {
 public:
  explicit Descriptor(int descriptor) : descriptor_(descriptor) {}
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor() {
    if (descriptor_ >= 0) close(descriptor_);
  }
  int get() const { return descriptor_; }

 private:
  int descriptor_;
};

}  // namespace

// A name taken apart: its components without the "." ones, the key that
// joins them with "/", and where each ends in the key and in the name as
// given.
class DestinationTree::Name {
 public:
  explicit Name(const Path& name) : given_(name) {
    Path::Component cursor;
    std::string joined;
    bool clean = true;  // the key is the given name up to its last component
    uint32_t next = 0;  // where a clean name's next component starts
    uint32_t start = 0;
    while (name.nextComponent(cursor)) {
      const String& part = cursor.name();
      if (isDotDot(part) || (start == 0 && part.length() == 1 && part.charAt(0) == '/')) {
        errno = 0;
        name.throwFailure(kLeavesTheTree);
      }
      uint32_t end = start + part.length();
      start = cursor.position();
      if (isDot(part)) {
        clean = false;
        continue;
      }
      if (end - part.length() != next) clean = false;
      if (!joined.empty()) joined += '/';
      joined.append(part.data(), part.length());
      keyEnd_.push_back(static_cast<uint32_t>(joined.size()));
      nameEnd_.push_back(end);
      next = end + 1;
    }
    if (clean && !nameEnd_.empty()) {
      key_ = name.substring(0, nameEnd_.back());
    } else {
      key_ = Path(joined.data(), static_cast<uint32_t>(joined.size()));
    }
  }

  const Path& given() const { return given_; }
  uint32_t count() const { return static_cast<uint32_t>(keyEnd_.size()); }
  // The key of the first `n` components.
  Path key(uint32_t n) const {
    if (n == count()) return key_;
    return n == 0 ? Path() : Path(key_.substring(0, keyEnd_[n - 1]));
  }
  // Components `from` to `to` - 1, joined.
  Path between(uint32_t from, uint32_t to) const {
    return key_.substring(from == 0 ? 0 : keyEnd_[from - 1] + 1, keyEnd_[to - 1]);
  }
  String component(uint32_t i) const { return between(i, i + 1); }
  String last() const { return component(count() - 1); }
  // The given name up to and including component `i`.
  Path upTo(uint32_t i) const { return given_.substring(0, nameEnd_[i]); }

 private:
  Path given_;
  Path key_;
  std::vector<uint32_t> keyEnd_;
  std::vector<uint32_t> nameEnd_;
};

DestinationTree::LinkInTheWay::LinkInTheWay(const String& name)
    : Exception(String(kLinkInTheWay) + name) {}

DestinationTree::DestinationTree(const Path& directory, Resolution resolution)
    : root_(open(directory.c_str(), kDirectoryAccess | O_DIRECTORY | O_CLOEXEC)),
      resolution_(resolution) {
  if (root_ < 0) directory.throwFailure(Path::kDirectoryOpenFailure);
  cache_.reserve(kCachedDirectories);
}

DestinationTree::~DestinationTree() {
  for (const CachedDirectory& cached : cache_) close(cached.descriptor);
  close(root_);
}

DestinationTree::Resolution DestinationTree::resolution() const {
  return kOpenat2Built && !gOpenat2Missing ? resolution_ : kComponentWalk;
}

int DestinationTree::directory(const Name& name, uint32_t count) {
  if (count == 0) return root_;
  Path key = name.key(count);
  // The directory itself, or the deepest directory above it that is open.
  CachedDirectory* best = nullptr;
  for (CachedDirectory& cached : cache_) {
    if (cached.key.length() == key.length() && cached.key.equals(key)) {
      cached.lastUse = ++clock_;
      cached.pinnedBy = operation_;
      return cached.descriptor;
    }
    if (cached.key.length() < key.length() &&
        (best == nullptr || best->key.length() < cached.key.length()) &&
        isAtOrBelow(key, cached.key)) {
      best = &cached;
    }
  }
  uint32_t from = 0;
  int start = root_;
  if (best != nullptr) {
    best->lastUse = ++clock_;
    start = best->descriptor;
    while (name.key(from).length() != best->key.length()) ++from;
  }
  if (resolution() == kWholeName) {
    int opened = openBeneath(start, name.between(from, count).c_str());
    if (opened >= 0) {
      remember(key, opened, true);
      return opened;
    }
    if (errno == ENOSYS) gOpenat2Missing = true;
    // Any other failure is told apart, and named, by the walk.
  }
  return walk(name, from, start, count);
}

int DestinationTree::walk(const Name& name, uint32_t from, int start, uint32_t count) {
  int current = start;
  for (uint32_t i = from; i < count; ++i) {
    String component = name.component(i);
    int next = openat(current, component.c_str(), kDirectoryFlags);
    if (next < 0) {
      int error = errno;
      // O_NOFOLLOW | O_DIRECTORY refuses a link as ENOTDIR (ELOOP, or EMLINK
      // on some systems, without O_DIRECTORY's check first).
      struct stat status;
      if ((error == ENOTDIR || error == ELOOP || error == EMLINK) &&
          fstatat(current, component.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 &&
          S_ISLNK(status.st_mode)) {
        throw LinkInTheWay(name.upTo(i));
      }
      errno = error;
      return -1;
    }
    // Every directory on the way is kept: the next name in this part of the
    // tree most likely starts from one of them.
    remember(name.key(i + 1), next, i + 1 == count);
    current = next;
  }
  return current;
}

void DestinationTree::remember(const Path& key, int descriptor, bool pin) {
  CachedDirectory* slot = nullptr;
  bool full = cache_.size() == kCachedDirectories;
  for (CachedDirectory& cached : cache_) {
    if (cached.pinnedBy == operation_) continue;
    // A stale entry of the same name (its directory was moved away) goes.
    if (cached.key.length() == key.length() && cached.key.equals(key)) {
      slot = &cached;
      break;
    }
    if (full && (slot == nullptr || cached.lastUse < slot->lastUse)) slot = &cached;
  }
  if (slot == nullptr) {
    // Room is left: an operation pins at most two directories, and the one
    // opened last is the most recently used, so a full cache always has an
    // entry to close.
    cache_.push_back(CachedDirectory{key, descriptor, 0, 0});
    slot = &cache_.back();
  } else {
    close(slot->descriptor);
    *slot = CachedDirectory{key, descriptor, 0, 0};
  }
  slot->lastUse = ++clock_;
  slot->pinnedBy = pin ? operation_ : 0;
}

void DestinationTree::forget(const Path& key) {
  for (size_t i = cache_.size(); i-- > 0;) {
    if (!isAtOrBelow(cache_[i].key, key)) continue;
    close(cache_[i].descriptor);
    cache_[i] = cache_.back();
    cache_.pop_back();
  }
}

void DestinationTree::forgetModes(const Path& key) {
  deferred_.erase(std::remove_if(deferred_.begin(), deferred_.end(),
                                 [&](const DeferredMode& d) { return isAtOrBelow(d.key, key); }),
                  deferred_.end());
}

void DestinationTree::makeDirectory(const Path& path, uint32_t mode) {
  beginOperation();
  Name name(path);
  if (name.count() == 0) return;  // the tree itself
  int parent = directory(name, name.count() - 1);
  if (parent < 0) path.throwFailure(Path::kMakeDirectoryFailure);
  String last = name.last();
  mode_t bits = static_cast<mode_t>(mode & 0777);
  if (mkdirat(parent, last.c_str(), bits | kOwnerAll) == 0) {
    int made = openat(parent, last.c_str(), kDirectoryFlags);
    if (made < 0) path.throwFailure(Path::kMakeDirectoryFailure);
    if ((bits & kOwnerAll) != kOwnerAll) {
      struct stat status;
      if (fstat(made, &status) != 0) {
        close(made);
        path.throwFailure(Path::kFileStatusFailure);
      }
      deferred_.push_back(DeferredMode{name.key(name.count()), path, bits, status.st_dev,
                                       status.st_ino, name.count()});
    }
    remember(name.key(name.count()), made, false);
    return;
  }
  int error = errno;
  if (error == EEXIST) {
    int existing = openat(parent, last.c_str(), kDirectoryFlags);
    if (existing >= 0) {
      remember(name.key(name.count()), existing, false);
      return;
    }
    error = errno;
    struct stat status;
    if (fstatat(parent, last.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0) {
      if (S_ISLNK(status.st_mode)) throw LinkInTheWay(name.upTo(name.count() - 1));
      if (!S_ISDIR(status.st_mode)) error = EEXIST;
    }
  }
  errno = error;
  path.throwFailure(Path::kMakeDirectoryFailure);
}

void DestinationTree::remove(const Path& path) {
  beginOperation();
  Name name(path);
  if (name.count() == 0) {
    errno = EBUSY;  // the tree itself stays
    path.throwFailure(Path::kRemoveFileFailure);
  }
  Path key = name.key(name.count());
  forget(key);
  int parent = directory(name, name.count() - 1);
  if (parent < 0) return;  // no directory, so nothing in it
  if (removeEntry(parent, name.last(), path)) forgetModes(key);
}

bool DestinationTree::removeEntry(int parent, const String& last, const Path& name) {
  if (unlinkat(parent, last.c_str(), 0) == 0) return false;
  int error = errno;
  if (error == ENOENT) return false;
  // A directory (EISDIR, or EPERM where unlink refuses directories so), or
  // a failure that the status tells apart: a read-only file system reports
  // EROFS before it looks for the name.
  struct stat status;
  if (fstatat(parent, last.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
    if (errno == ENOENT) return false;
    errno = error;
    name.throwFailure(Path::kRemoveFileFailure);
  }
  if (!S_ISDIR(status.st_mode)) {
    errno = error;
    name.throwFailure(Path::kRemoveFileFailure);
  }
  removeTree(parent, last, name, status);
  return true;
}

void DestinationTree::removeTree(int parent, const String& last, const Path& name,
                                 const struct stat& status) {
  int opened = openat(parent, last.c_str(), kDirectoryWriteFlags);
  if (opened < 0 && errno == EACCES && (status.st_mode & kOwnerAll) != kOwnerAll) {
    // An owner without read permission gets it first: on the name, but never
    // through a link there.
    if (fchmodat(parent, last.c_str(), (status.st_mode & 07777) | kOwnerAll, AT_SYMLINK_NOFOLLOW) !=
        0) {
      name.throwFailure(Path::kSetFilePermissionFailure);
    }
    opened = openat(parent, last.c_str(), kDirectoryWriteFlags);
  }
  if (opened < 0) name.throwFailure(Path::kDirectoryOpenFailure);
  Descriptor directory(opened);
  struct stat current;
  if (fstat(directory.get(), &current) != 0) name.throwFailure(Path::kFileStatusFailure);
  // Only the owner's rights are added: for the time the tree is emptied, no
  // one else may place entries in it.
  if ((current.st_mode & kOwnerAll) != kOwnerAll &&
      fchmod(directory.get(), (current.st_mode & 07777) | kOwnerAll) != 0) {
    name.throwFailure(Path::kSetFilePermissionFailure);
  }
  // The whole listing is read before anything is removed, so that it stays
  // stable while entries disappear.
  std::vector<String> entries;
  {
    int listing = fcntl(directory.get(), F_DUPFD_CLOEXEC, 0);
    if (listing < 0) name.throwFailure(Path::kDirectoryOpenFailure);
    DirectoryReader reader(name, listing);
    String entry;
    while (reader.next(entry)) entries.push_back(entry);
  }
  Path prefix = name.withTrailingSlash();
  for (const String& entry : entries) removeEntry(directory.get(), entry, prefix + entry);
  if (unlinkat(parent, last.c_str(), AT_REMOVEDIR) != 0) {
    name.throwFailure(Path::kRemoveDirectoryFailure);
  }
}

RandomAccessFile DestinationTree::createFile(const Path& path) {
  beginOperation();
  Name name(path);
  if (name.count() == 0) {
    errno = EISDIR;
    RandomAccessFile::raise("create", path);
  }
  int parent = directory(name, name.count() - 1);
  if (parent < 0) RandomAccessFile::raise("create", path);
  return createIn(parent, name.last(), path);
}

RandomAccessFile DestinationTree::createIn(int parent, const String& last, const Path& name) {
  int created = openat(parent, last.c_str(), kCreateFlags, kCreateMode);
  if (created < 0) RandomAccessFile::raise("create", name);
  return RandomAccessFile(created, name);
}

bool DestinationTree::makeHardLink(const Path& targetPath, const Path& path) {
  beginOperation();
  Name target(targetPath);
  Name name(path);
  if (target.count() == 0 || name.count() == 0) {
    errno = EINVAL;
    return false;
  }
  int targetParent = directory(target, target.count() - 1);
  if (targetParent < 0) return false;
  int parent = directory(name, name.count() - 1);
  if (parent < 0) return false;
  // Flags 0: a link at the target is not followed but linked itself.
  return linkat(targetParent, target.last().c_str(), parent, name.last().c_str(), 0) == 0;
}

bool DestinationTree::makeSymbolicLink(const String& text, const Path& path) {
  beginOperation();
  Name name(path);
  if (name.count() == 0) {
    errno = EEXIST;
    return false;
  }
  int parent = directory(name, name.count() - 1);
  if (parent < 0) return false;
  return symlinkat(text.c_str(), parent, name.last().c_str()) == 0;
}

bool DestinationTree::copyFile(const Path& sourcePath, const Path& destinationPath) {
  beginOperation();
  Name source(sourcePath);
  Name destination(destinationPath);
  if (source.count() == 0) return false;  // the tree itself: a directory
  int sourceParent = directory(source, source.count() - 1);
  if (sourceParent < 0) RandomAccessFile::raise("open", sourcePath);
  String sourceLast = source.last();
  int opened = openat(sourceParent, sourceLast.c_str(), kReadFlags);
  if (opened < 0) {
    int error = errno;
    struct stat status;
    if (fstatat(sourceParent, sourceLast.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISLNK(status.st_mode)) {
      return false;
    }
    errno = error;
    RandomAccessFile::raise("open", sourcePath);
  }
  RandomAccessFile from(opened, sourcePath);
  struct stat status;
  if (fstat(from.getDescriptor(), &status) != 0) sourcePath.throwFailure(Path::kFileStatusFailure);
  if (!S_ISREG(status.st_mode)) return false;
  if (destination.count() == 0) {
    errno = EEXIST;
    RandomAccessFile::raise("create", destinationPath);
  }
  int parent = directory(destination, destination.count() - 1);
  if (parent < 0) RandomAccessFile::raise("create", destinationPath);
  String last = destination.last();
  RandomAccessFile to = createIn(parent, last, destinationPath);
  try {
    char buffer[kCopyChunk];
    int count;
    while ((count = from.read(buffer, sizeof buffer)) > 0) {
      to.writeFully(buffer, static_cast<uint32_t>(count));
    }
  } catch (...) {
    // A partial copy is not left behind.
    unlinkat(parent, last.c_str(), 0);
    throw;
  }
  struct timespec times[2];
  times[0].tv_sec = times[1].tv_sec = status.st_mtime;
  times[0].tv_nsec = times[1].tv_nsec = 0;
  if (futimens(to.getDescriptor(), times) != 0) {
    destinationPath.throwFailure(Path::kSetModificationTimeFailure);
  }
  destinationPath.setPermissions(static_cast<uint16_t>(status.st_mode & 07777), to.getDescriptor());
  to.close();
  from.close();
  return true;
}

bool DestinationTree::getStatus(const Path& path, struct stat& status, Follow follow) {
  beginOperation();
  Name name(path);
  if (name.count() == 0) return fstat(root_, &status) == 0;
  int parent = directory(name, name.count() - 1);
  if (parent < 0) return false;
  int flags = follow == kFollowLast ? 0 : AT_SYMLINK_NOFOLLOW;
  return fstatat(parent, name.last().c_str(), &status, flags) == 0;
}

DirectoryReader DestinationTree::list(const Path& path) {
  beginOperation();
  Name name(path);
  int listed = directory(name, name.count());
  if (listed < 0) path.throwFailure(Path::kDirectoryOpenFailure);
  // A descriptor that can be read, whatever the cached one was opened for.
  int readable = openat(listed, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (readable < 0) path.throwFailure(Path::kDirectoryOpenFailure);
  return DirectoryReader(path, readable);
}

RandomAccessFile DestinationTree::openFile(const Path& path) {
  beginOperation();
  Name name(path);
  if (name.count() == 0) return RandomAccessFile();
  int parent = directory(name, name.count() - 1);
  if (parent < 0) return RandomAccessFile();
  int opened = openat(parent, name.last().c_str(), kReadFlags);
  if (opened < 0) return RandomAccessFile();
  struct stat status;
  if (fstat(opened, &status) != 0 || !S_ISREG(status.st_mode)) {
    close(opened);
    return RandomAccessFile();
  }
  return RandomAccessFile(opened, path);
}

void DestinationTree::applyDirectoryModes() {
  // Deepest first: a parent that loses its owner's rights comes after
  // everything below it.
  std::stable_sort(deferred_.begin(), deferred_.end(),
                   [](const DeferredMode& a, const DeferredMode& b) { return a.depth > b.depth; });
  std::vector<DeferredMode> pending;
  pending.swap(deferred_);
  for (const DeferredMode& deferred : pending) {
    beginOperation();
    Name name(deferred.key);
    int parent = directory(name, name.count() - 1);
    if (parent < 0) continue;  // gone: not the directory made
    Descriptor made(openat(parent, name.last().c_str(), kDirectoryWriteFlags));
    if (made.get() < 0) continue;  // gone, or something else is there now
    struct stat status;
    if (fstat(made.get(), &status) != 0 || status.st_dev != deferred.device ||
        status.st_ino != deferred.inode) {
      continue;
    }
    if (fchmod(made.get(), deferred.mode) != 0) {
      deferred.name.throwFailure(Path::kSetFilePermissionFailure);
    }
  }
}
