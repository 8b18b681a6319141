// FilterInputStream wraps another InputStream and passes close() and read()
// to it; filters derive from it and override what they change.
//
// A filter borrows the stream it wraps: it never closes or deletes it, and
// the wrapped stream must outlive the filter. Whoever builds a stack destroys
// it top down.
#ifndef VANTOREL_IO_FILTERINPUTSTREAM_H
#define VANTOREL_IO_FILTERINPUTSTREAM_H

#include "io/InputStream.h"

class FilterInputStream : public InputStream {
 public:
  explicit FilterInputStream(InputStream* in) : in_(in) {}

  void close() override { in_->close(); }
  int read(void* buffer, uint32_t length) override { return in_->read(buffer, length); }

 protected:
  // The wrapped stream; borrowed, never null.
  InputStream* in_;
};

#endif  // VANTOREL_IO_FILTERINPUTSTREAM_H
