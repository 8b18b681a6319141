// PushbackInputStream lets a reader give bytes back: unread() pushes them,
// and read() returns pushed-back bytes first, the last pushed first, before
// reading on from the wrapped stream. The wrapped stream is borrowed and must
// outlive this filter.
#ifndef VANTOREL_IO_PUSHBACKINPUTSTREAM_H
#define VANTOREL_IO_PUSHBACKINPUTSTREAM_H

#include <cstdint>

#include "io/FilterInputStream.h"

class PushbackInputStream : public FilterInputStream {
 public:
  explicit PushbackInputStream(InputStream* in);
  ~PushbackInputStream() override;

  int read(void* buffer, uint32_t length) override;

  // Pushes one byte back; it is the next byte read.
  void unread(char byte);
  // Pushes bytes back so that the next read returns them in their order.
  void unread(const void* bytes, uint32_t length);

 private:
  // capacity_ bytes, owned; null until the first unread. The last pushed
  // byte is at pushedBack_[count_ - 1].
  char* pushedBack_;
  uint32_t capacity_;
  uint32_t count_;
};

#endif  // VANTOREL_IO_PUSHBACKINPUTSTREAM_H
