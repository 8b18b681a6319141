// BufferedInputStream reads its wrapped stream 4096 bytes at a time and hands
// the bytes out in reads of any size, so that readers taking a few bytes per
// call cost one wrapped read per 4096 bytes.
//
// A request is never served from more than one fill: a read asking for more
// than is buffered returns what is buffered. A wrapped read returning 0 is
// taken as the end of the input. The wrapped stream is borrowed and must
// outlive this filter.
#ifndef VANTOREL_IO_BUFFEREDINPUTSTREAM_H
#define VANTOREL_IO_BUFFEREDINPUTSTREAM_H

#include <cstdint>

#include "io/FilterInputStream.h"

class BufferedInputStream : public FilterInputStream {
 public:
  // The fixed size of the buffer.
  static constexpr uint32_t kBufferSize = 4096;

  explicit BufferedInputStream(InputStream* in);
  ~BufferedInputStream() override;

  int read(void* buffer, uint32_t length) override;

 private:
  // kBufferSize bytes, owned.
  char* buffer_;
  // Buffered bytes not yet returned.
  uint32_t count_;
  // Index in buffer_ of the next byte to return.
  uint32_t position_;
};

#endif  // VANTOREL_IO_BUFFEREDINPUTSTREAM_H
