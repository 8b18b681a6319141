// RandomAccessFile is the system's only owner of an open file descriptor. It
// opens, reads, writes, positions, sizes, truncates, locks and closes, and
// turns every failing system call into a RandomAccessFile::Exception whose
// text names the operation, the file and the system's reason:
//
//   File open error: /x/install.data: No such file or directory
//
// A file opened by path owns its descriptor and closes it; one made from a
// bare descriptor (standard output, say) only borrows it. Offsets and sizes
// are unsigned 32-bit values; files of 4 GiB or more are outside the design.
//
// Locks are byte-range locks; where the file system refuses them (ENOTSUP)
// the class falls back to an exclusive lock of the whole file, counted per
// descriptor in a process-wide table, so that nested locks on one descriptor
// release the file with the last unlock. No operation retries after an
// interrupted system call.
#ifndef VANTOREL_IO_RANDOMACCESSFILE_H
#define VANTOREL_IO_RANDOMACCESSFILE_H

#include <cstdint>

#include "lang/Exception.h"
#include "lang/String.h"

class RandomAccessFile {
 public:
  // A failed file operation: "File <operation> error", then ": " and the
  // file's path when known, then ": " and the system's text when the error
  // number is not 0.
  class Exception : public ::Exception {
   public:
    Exception(const String& message, int errorNumber, const String& name)
        : ::Exception(message), errorNumber_(errorNumber), name_(name) {}
    String toString() const override;

    int getErrorNumber() const { return errorNumber_; }
    const String& getName() const { return name_; }

   private:
    // The system error number when the error was raised; 0 for none.
    int errorNumber_;
    // The file's path; empty for a bare descriptor.
    String name_;
  };

  // A held lock on a range of a file. Destroying a lock with a length other
  // than 0 releases its range. Locks move; they are not copied.
  struct Lock {
    Lock() : descriptor(-1), start(0), length(0) {}
    Lock(int descriptor, uint32_t start, uint32_t length)
        : descriptor(descriptor), start(start), length(length) {}
    Lock(Lock&& other) noexcept;
    Lock& operator=(Lock&& other) noexcept;
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;
    ~Lock();

    // Whether the lock is held (a refused tryLock has length 0).
    bool held() const { return length != 0; }
    // Releases the range now, if held.
    void release();

    int descriptor;
    uint32_t start;
    // 0 means nothing is held.
    uint32_t length;
  };

  // Whether a descriptor handed to a constructor is closed with the object.
  enum Ownership { kOwned, kBorrowed };

  // No file open.
  RandomAccessFile();
  // Opens `path` with `flags` and permission bits 0600 (subject to the
  // umask), owning the descriptor; raises "create" when the flags include
  // O_CREAT, else "open".
  RandomAccessFile(const String& path, int flags);
  // Borrows an inherited descriptor: closing this object does not close it.
  explicit RandomAccessFile(int descriptor);
  // Takes `descriptor`, closed with the object only when kOwned; failure
  // texts call it `name` ("File write error: standard output: Broken pipe").
  RandomAccessFile(int descriptor, const String& name, Ownership ownership);
  // Takes over `descriptor`, open on the file `path` (opened relative to a
  // directory descriptor, say): owned and named as if opened by path.
  RandomAccessFile(int descriptor, const String& path);
  RandomAccessFile(const RandomAccessFile&) = delete;
  RandomAccessFile& operator=(const RandomAccessFile&) = delete;
  // Closes an owned descriptor. A failing close raises only when no other
  // exception is propagating.
  virtual ~RandomAccessFile() noexcept(false);

  // Waits for a read lock (shared) or a write lock on the range.
  virtual Lock lock(uint32_t start, uint32_t length, bool shared);
  // Opens like the constructor, returning false on failure instead of
  // raising. An owned descriptor still open is closed first.
  virtual bool open(const String& path, int flags);
  virtual uint32_t position();
  // One read call: the count, -1 at the end of the file for a length other
  // than 0, and 0 for a length of 0.
  virtual int read(void* buffer, uint32_t length);
  virtual void seek(uint32_t offset);
  virtual uint32_t size();
  virtual void truncate(uint32_t length);
  // As lock() without waiting; a range held by another process gives a lock
  // of length 0 and raises nothing.
  virtual Lock tryLock(uint32_t start, uint32_t length, bool shared);
  // One write call; a result below 1 raises.
  virtual int write(int descriptor, const void* buffer, uint32_t length);

  // Reads until `length` bytes have arrived; the end of the file raises
  // "unexpected end of input" with no system text.
  void readFully(void* buffer, uint32_t length);
  // size() bytes from the current position.
  String readAll();
  // Writes everything, continuing after a partial write with the bytes not
  // yet written.
  void writeFully(const void* buffer, uint32_t length);
  // Closes an owned descriptor (raising "close" on failure unless another
  // exception is propagating); in every case no file is open afterwards.
  void close();

  int getDescriptor() const { return descriptor_; }
  const String& getName() const { return name_; }

  // Raises the file error for `operation` ("open", "create", ...) on `path`
  // with the current errno, for a file that no object could open.
  [[noreturn]] static void raise(const char* operation, const String& path);

 protected:
  // Raises the file error for `operation` with the current errno.
  [[noreturn]] void fail(const char* operation) const;

 private:
  Lock lockRange(int command, uint32_t start, uint32_t length, bool shared);

  // The open descriptor, or -1.
  int descriptor_;
  // The path it was opened with; empty for a bare descriptor.
  String name_;
  // Whether close() closes descriptor_.
  bool ownsDescriptor_;
};

#endif  // VANTOREL_IO_RANDOMACCESSFILE_H
