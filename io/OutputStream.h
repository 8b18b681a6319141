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
  virtual ~OutputStream() = default;

  virtual void close() {}
  virtual void flush() {}
  virtual void write(const void* buffer, uint32_t length) = 0;
};

#endif  // VANTOREL_IO_OUTPUTSTREAM_H
