// FilterOutputStream wraps another OutputStream and passes close(), flush()
// and write() to it; filters derive from it and override what they change.
//
// A filter borrows the stream it wraps: it never closes, flushes or deletes
// it on destruction, and the wrapped stream must outlive the filter.
#ifndef VANTOREL_IO_FILTEROUTPUTSTREAM_H
#define VANTOREL_IO_FILTEROUTPUTSTREAM_H

#include "io/OutputStream.h"

class FilterOutputStream : public OutputStream {
 public:
  explicit FilterOutputStream(OutputStream* out) : out_(out) {}

  void close() override { out_->close(); }
  void flush() override { out_->flush(); }
  void write(const void* buffer, uint32_t length) override { out_->write(buffer, length); }

 protected:
  // The wrapped stream; borrowed, never null.
  OutputStream* out_;
};

#endif  // VANTOREL_IO_FILTEROUTPUTSTREAM_H
