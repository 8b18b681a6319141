#include "io/RandomAccessFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <exception>
#include <utility>

#include "io/FileLocking.h"

namespace {

// New files get owner read and write permission, subject to the umask.
constexpr mode_t kCreateMode = 0600;

int openDescriptor(const String& path, int flags) {
  return ::open(path.c_str(), flags, kCreateMode);
}

}  // namespace

String RandomAccessFile::Exception::toString() const {
  String text = message_;
  if (!name_.isEmpty()) {
    text += ": ";
    text += name_;
  }
  if (errorNumber_ != 0) {
    text += ": ";
    text += strerror(errorNumber_);
  }
  return text;
}

RandomAccessFile::Lock::Lock(Lock&& other) noexcept
    : descriptor(other.descriptor), start(other.start), length(other.length) {
  other.length = 0;
}

RandomAccessFile::Lock& RandomAccessFile::Lock::operator=(Lock&& other) noexcept {
  if (this != &other) {
    release();
    descriptor = other.descriptor;
    start = other.start;
    length = other.length;
    other.length = 0;
  }
  return *this;
}

RandomAccessFile::Lock::~Lock() { release(); }

void RandomAccessFile::Lock::release() {
  if (length == 0) return;
  struct flock record;
  memset(&record, 0, sizeof record);
  record.l_type = F_UNLCK;
  record.l_whence = SEEK_SET;
  record.l_start = start;
  record.l_len = length;
  int saved = errno;
  fileLocking::lockPrimitive(descriptor, F_SETLK, &record);
  errno = saved;
  length = 0;
}

RandomAccessFile::RandomAccessFile() : descriptor_(-1), ownsDescriptor_(true) {}

RandomAccessFile::RandomAccessFile(const String& path, int flags)
    : descriptor_(-1), name_(path), ownsDescriptor_(true) {
  descriptor_ = openDescriptor(name_, flags);
  if (descriptor_ < 0) fail((flags & O_CREAT) != 0 ? "create" : "open");
}

RandomAccessFile::RandomAccessFile(int descriptor)
    : descriptor_(descriptor), ownsDescriptor_(false) {}

RandomAccessFile::RandomAccessFile(int descriptor, const String& path)
    : descriptor_(descriptor), name_(path), ownsDescriptor_(true) {}

RandomAccessFile::RandomAccessFile(int descriptor, const String& name, Ownership ownership)
    : descriptor_(descriptor), name_(name), ownsDescriptor_(ownership == kOwned) {}

RandomAccessFile::~RandomAccessFile() noexcept(false) { close(); }

void RandomAccessFile::fail(const char* operation) const { raise(operation, name_); }

void RandomAccessFile::raise(const char* operation, const String& path) {
  int errorNumber = errno;
  throw Exception(String("File ") + operation + " error", errorNumber, path);
}

bool RandomAccessFile::open(const String& path, int flags) {
  if (descriptor_ >= 0 && ownsDescriptor_) {
    // Reopening must not leak the descriptor this object owns.
    fileLocking::forget(descriptor_);
    ::close(descriptor_);
  }
  name_ = path;
  ownsDescriptor_ = true;
  descriptor_ = openDescriptor(name_, flags);
  return descriptor_ >= 0;
}

int RandomAccessFile::read(void* buffer, uint32_t length) {
  if (length == 0) return 0;
  ssize_t count = ::read(descriptor_, buffer, length);
  if (count < 0) fail("read");
  return count == 0 ? -1 : static_cast<int>(count);
}

int RandomAccessFile::write(int descriptor, const void* buffer, uint32_t length) {
  ssize_t count = ::write(descriptor, buffer, length);
  if (count < 1) fail("write");
  return static_cast<int>(count);
}

void RandomAccessFile::readFully(void* buffer, uint32_t length) {
  char* bytes = static_cast<char*>(buffer);
  uint32_t done = 0;
  while (done < length) {
    int count = read(bytes + done, length - done);
    if (count < 0) {
      errno = 0;  // the end of the file is no system error
      fail("unexpected end of input");
    }
    done += static_cast<uint32_t>(count);
  }
}

String RandomAccessFile::readAll() {
  uint32_t length = size();
  if (length == 0) return String();
  char* bytes = new char[length];
  try {
    readFully(bytes, length);
  } catch (...) {
    delete[] bytes;
    throw;
  }
  String text(bytes, length);
  delete[] bytes;
  return text;
}

void RandomAccessFile::writeFully(const void* buffer, uint32_t length) {
  const char* bytes = static_cast<const char*>(buffer);
  uint32_t remaining = length;
  while (remaining != 0) {
    remaining -= static_cast<uint32_t>(write(descriptor_, bytes + (length - remaining), remaining));
  }
}

void RandomAccessFile::seek(uint32_t offset) {
  if (lseek(descriptor_, static_cast<off_t>(offset), SEEK_SET) < 0) fail("seek");
}

uint32_t RandomAccessFile::position() {
  off_t offset = lseek(descriptor_, 0, SEEK_CUR);
  if (offset < 0) fail("seek");
  return static_cast<uint32_t>(offset);
}

uint32_t RandomAccessFile::size() {
  struct stat status;
  if (fstat(descriptor_, &status) != 0) fail("fstat");
  return static_cast<uint32_t>(status.st_size);
}

void RandomAccessFile::truncate(uint32_t length) {
  if (ftruncate(descriptor_, static_cast<off_t>(length)) != 0) fail("ftruncate");
}

RandomAccessFile::Lock RandomAccessFile::lockRange(int command, uint32_t start, uint32_t length,
                                                   bool shared) {
  struct flock record;
  memset(&record, 0, sizeof record);
  record.l_type = shared ? F_RDLCK : F_WRLCK;
  record.l_whence = SEEK_SET;
  record.l_start = start;
  record.l_len = length;
  if (fileLocking::lockPrimitive(descriptor_, command, &record) != 0) {
    if (command == F_SETLK && (errno == EACCES || errno == EAGAIN)) {
      return Lock(descriptor_, start, 0);  // held by another process
    }
    fail("lock");
  }
  return Lock(descriptor_, start, length);
}

RandomAccessFile::Lock RandomAccessFile::lock(uint32_t start, uint32_t length, bool shared) {
  return lockRange(F_SETLKW, start, length, shared);
}

RandomAccessFile::Lock RandomAccessFile::tryLock(uint32_t start, uint32_t length, bool shared) {
  return lockRange(F_SETLK, start, length, shared);
}

void RandomAccessFile::close() {
  if (descriptor_ == -1) return;
  int descriptor = descriptor_;
  descriptor_ = -1;
  if (!ownsDescriptor_) return;
  fileLocking::forget(descriptor);
  if (::close(descriptor) != 0 && std::uncaught_exceptions() == 0) fail("close");
}
