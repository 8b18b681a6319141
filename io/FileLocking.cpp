#include "io/FileLocking.h"

#include <sys/file.h>

#include <cerrno>

namespace fileLocking {

namespace {

// Whole-file locks taken by the fallback, per descriptor. Process-wide and
// unlocked: locking is done by the main thread only.
unsigned gLockTable[kLockTableSize];

int systemByteRangeLock(int fd, int command, struct flock* record) {
  return fcntl(fd, command, record);
}

}  // namespace

ByteRangeLock byteRangeLock = systemByteRangeLock;

int lockPrimitive(int fd, int command, struct flock* record) {
  if (command == F_GETLK) return byteRangeLock(fd, command, record);
  if (command != F_SETLK && command != F_SETLKW) {
    errno = EINVAL;
    return -1;
  }
  if (fd < 0 || fd >= kLockTableSize) {
    errno = fd < 0 ? EBADF : ENFILE;
    return -1;
  }
  int result = 0;
  if (gLockTable[fd] == 0) {
    result = byteRangeLock(fd, command, record);
    if (result == 0 || errno != ENOTSUP) return result;
  }
  if (record->l_type == F_UNLCK) {
    if (gLockTable[fd] != 0 && --gLockTable[fd] == 0) return flock(fd, LOCK_UN);
    return result;
  }
  if (gLockTable[fd] == 0) {
    result = flock(fd, LOCK_EX | (command == F_SETLK ? LOCK_NB : 0));
  }
  if (result == 0) ++gLockTable[fd];
  return result;
}

void forget(int fd) {
  if (fd >= 0 && fd < kLockTableSize) gLockTable[fd] = 0;
}

unsigned fallbackCount(int fd) { return fd >= 0 && fd < kLockTableSize ? gLockTable[fd] : 0; }

}  // namespace fileLocking
