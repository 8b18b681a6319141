// OutputStream is the sink end of every byte stream. write() writes all bytes
// or fails by exception; flush() and close() do nothing unless a stream has
// something to pass on or a resource to release.
#ifndef VANTOREL_IO_OUTPUTSTREAM_H
#define VANTOREL_IO_OUTPUTSTREAM_H

#include <cstdint>

class OutputStream {
 public:
  OutputStream() = default;
  OutputStream(const OutputStream&) = delete;
  OutputStream& operator=(const OutputStream&) = delete;
  // Streams that hold bytes back (buffering, a pending cipher block) write
  // them out on destruction, and a failure of that write may propagate: see
  // the derived classes. It never does while another exception unwinds.
  virtual ~OutputStream() noexcept(false) = default;

  virtual void close() {}
  virtual void flush() {}
  virtual void write(const void* buffer, uint32_t length) = 0;
};

#endif  // VANTOREL_IO_OUTPUTSTREAM_H
