// FileOutputStream writes a file through the stream interface, unbuffered:
// every write is written out in full before it returns (a BufferedOutputStream
// over it collects small writes). Made from a path it creates the file with
// permission bits 0600 or empties it, and owns the descriptor; made from a
// descriptor (standard output, say) it only borrows it.
#ifndef VANTOREL_IO_FILEOUTPUTSTREAM_H
#define VANTOREL_IO_FILEOUTPUTSTREAM_H

#include "io/OutputStream.h"
#include "io/RandomAccessFile.h"

class FileOutputStream : public OutputStream {
 public:
  // Borrows `descriptor`.
  explicit FileOutputStream(int descriptor) : file_(descriptor) {}
  // Borrows `descriptor`, which failure texts call `name`.
  FileOutputStream(int descriptor, const String& name)
      : file_(descriptor, name, RandomAccessFile::kBorrowed) {}
  // Raises "File create error" when the file cannot be created.
  explicit FileOutputStream(const String& path);

  void close() override { file_.close(); }
  void write(const void* buffer, uint32_t length) override { file_.writeFully(buffer, length); }

  RandomAccessFile& getFile() { return file_; }

 private:
  RandomAccessFile file_;
};

#endif  // VANTOREL_IO_FILEOUTPUTSTREAM_H
