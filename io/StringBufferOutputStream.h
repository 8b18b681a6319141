// StringBufferOutputStream appends every byte written to it to a
// StringBuffer.
//
//   StringBuffer text;
//   StringBufferOutputStream out(&text);
//
// Borrows the target, which must outlive the stream. close() and flush() do
// nothing.
#ifndef VANTOREL_IO_STRINGBUFFEROUTPUTSTREAM_H
#define VANTOREL_IO_STRINGBUFFEROUTPUTSTREAM_H

#include <cstdint>

#include "io/OutputStream.h"
#include "lang/StringBuffer.h"

class StringBufferOutputStream : public OutputStream {
 public:
  // REQUIRES: target is not null.
  explicit StringBufferOutputStream(StringBuffer* target) : target_(target) {}

  void write(const void* buffer, uint32_t length) override {
    target_->append(static_cast<const char*>(buffer), 0, length);
  }

 private:
  // Borrowed; never null.
  StringBuffer* target_;
};

#endif  // VANTOREL_IO_STRINGBUFFEROUTPUTSTREAM_H
