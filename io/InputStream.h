// InputStream is the source end of every byte stream: files, strings and the
// filters stacked on them (buffering, descrambling, decompression, limits).
//
// read() returns the number of bytes stored (at least 1 when length is at
// least 1), or -1 when the input is exhausted; a read may return fewer bytes
// than asked even when more will follow. Errors travel as exceptions.
#ifndef VANTOREL_IO_INPUTSTREAM_H
#define VANTOREL_IO_INPUTSTREAM_H

#include <cstdint>

class InputStream {
 public:
  InputStream() = default;
  InputStream(const InputStream&) = delete;
  InputStream& operator=(const InputStream&) = delete;
  // A stream that owns a file closes it on destruction, and a failing close
  // may propagate (never while another exception unwinds).
  virtual ~InputStream() noexcept(false) = default;

  // Passed down a stack to the stream that owns a resource; does nothing here.
  virtual void close() {}
  virtual int read(void* buffer, uint32_t length) = 0;

  // Fills exactly `length` bytes by calling read() for the bytes still
  // missing; raises Exception "unexpected end of input" when the input ends
  // first. The bytes read before that stay in the buffer.
  void readFully(void* buffer, uint32_t length);
};

#endif  // VANTOREL_IO_INPUTSTREAM_H
