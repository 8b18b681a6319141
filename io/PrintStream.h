// PrintStream is the buffered text output stream: a BufferedOutputStream
// (4096 bytes) that can also create the file it writes to.
//
//   {
//     PrintStream report("report.txt");  // created (0600) or emptied
//     report.write(text.data(), text.length());
//   }  // the buffer reaches the file, then the file is closed
//
// Made from a stream it borrows that stream, which must outlive it, and
// behaves exactly as a BufferedOutputStream. Made from a path it owns the
// FileOutputStream it creates: destruction writes the buffered bytes to it
// and then deletes it, which closes the file. A failure of that last write
// or close propagates from the destructor, except while another exception
// unwinds.
#ifndef VANTOREL_IO_PRINTSTREAM_H
#define VANTOREL_IO_PRINTSTREAM_H

#include <memory>

#include "io/BufferedOutputStream.h"
#include "lang/String.h"

class PrintStream : public BufferedOutputStream {
 public:
  explicit PrintStream(OutputStream* out) : BufferedOutputStream(out), owned_(nullptr) {}
  // Raises RandomAccessFile::Exception "File create error" when the file
  // cannot be created.
  explicit PrintStream(const String& path);
  ~PrintStream() noexcept(false) override;

 private:
  // Buffers into `owned` and takes it over; `owned` is deleted if the base
  // cannot be built.
  explicit PrintStream(std::unique_ptr<OutputStream> owned)
      : BufferedOutputStream(owned.get()), owned_(owned.release()) {}

  // The stream this object created and deletes; null when it borrows.
  OutputStream* owned_;
};

#endif  // VANTOREL_IO_PRINTSTREAM_H
