// StringOutputStream appends every byte written to it to a String.
//
//   String text;
//   StringOutputStream out(&text);
//   out.write("ab", 2);  // text is now "ab"
//
// Borrows the target, which must outlive the stream. Consecutive writes
// extend the target's block in place while it has room. close() and
// flush() do nothing.
#ifndef VANTOREL_IO_STRINGOUTPUTSTREAM_H
#define VANTOREL_IO_STRINGOUTPUTSTREAM_H

#include <cstdint>

#include "io/OutputStream.h"
#include "lang/String.h"

class StringOutputStream : public OutputStream {
 public:
  // REQUIRES: target is not null.
  explicit StringOutputStream(String* target) : target_(target) {}

  void write(const void* buffer, uint32_t length) override;

 private:
  // Borrowed; never null.
  String* target_;
};

#endif  // VANTOREL_IO_STRINGOUTPUTSTREAM_H
