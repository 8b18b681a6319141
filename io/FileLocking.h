// The lock primitive behind RandomAccessFile's locks: byte-range locks with a
// fallback to whole-file locks where the file system refuses them. Internal
// to the io library; tests reach the seam below.
#ifndef VANTOREL_IO_FILELOCKING_H
#define VANTOREL_IO_FILELOCKING_H

#include <fcntl.h>

namespace fileLocking {

// Descriptors 0 to kLockTableSize - 1 have a counter of fallback locks.
constexpr int kLockTableSize = 99;

// Applies `command` (F_GETLK, F_SETLK or F_SETLKW) with `record` to `fd`,
// falling back to flock() when fcntl reports ENOTSUP. Returns 0 or -1 with
// errno set, like fcntl.
int lockPrimitive(int fd, int command, struct flock* record);

// Drops the fallback count of `fd` (its descriptor was closed).
void forget(int fd);

// The fallback count of `fd`, for tests.
unsigned fallbackCount(int fd);

// The byte-range lock call, fcntl by default; tests replace it to stand for
// a file system without byte-range locks.
using ByteRangeLock = int (*)(int fd, int command, struct flock* record);
extern ByteRangeLock byteRangeLock;

}  // namespace fileLocking

#endif  // VANTOREL_IO_FILELOCKING_H
