// FileInputStream reads a file through the stream interface, one system call
// per read (place a BufferedInputStream over it for small reads). Made from a
// path it opens the file read-only and owns the descriptor; made from a
// descriptor it only borrows it.
#ifndef VANTOREL_IO_FILEINPUTSTREAM_H
#define VANTOREL_IO_FILEINPUTSTREAM_H

#include "io/InputStream.h"
#include "io/RandomAccessFile.h"

class FileInputStream : public InputStream {
 public:
  // Borrows `descriptor`.
  explicit FileInputStream(int descriptor) : file_(descriptor) {}
  // Raises "File open error" when the file cannot be opened.
  explicit FileInputStream(const String& path);

  void close() override { file_.close(); }
  int read(void* buffer, uint32_t length) override { return file_.read(buffer, length); }

  RandomAccessFile& getFile() { return file_; }

 private:
  RandomAccessFile file_;
};

#endif  // VANTOREL_IO_FILEINPUTSTREAM_H
