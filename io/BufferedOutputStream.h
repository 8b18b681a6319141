// BufferedOutputStream collects writes in a 4096-byte buffer and passes them
// to the wrapped stream in 4096-byte writes. A full buffer is passed on only
// when more bytes arrive, or on flush(), close() or destruction; large writes
// also go through the buffer in chunks.
//
// flush() and close() always make one wrapped write (of 0 bytes when the
// buffer is empty) before flushing or closing the wrapped stream. The
// destructor writes what is buffered but neither flushes nor closes the
// wrapped stream; a failure of that write propagates from the destructor,
// except while another exception is unwinding, when it is dropped. The
// wrapped stream is borrowed and must outlive this filter.
#ifndef VANTOREL_IO_BUFFEREDOUTPUTSTREAM_H
#define VANTOREL_IO_BUFFEREDOUTPUTSTREAM_H

#include <cstdint>

#include "io/FilterOutputStream.h"

class BufferedOutputStream : public FilterOutputStream {
 public:
  // The fixed size of the buffer.
  static constexpr uint32_t kBufferSize = 4096;

  explicit BufferedOutputStream(OutputStream* out);
  ~BufferedOutputStream() noexcept(false) override;

  void close() override;
  void flush() override;
  void write(const void* buffer, uint32_t length) override;

 private:
  // Writes the buffered bytes to the wrapped stream (also none) and empties
  // the buffer.
  void writeBuffer();

  // kBufferSize bytes, owned.
  char* buffer_;
  // Bytes in buffer_ not yet written.
  uint32_t count_;
};

#endif  // VANTOREL_IO_BUFFEREDOUTPUTSTREAM_H
