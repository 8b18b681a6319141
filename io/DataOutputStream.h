// DataOutputStream writes the system's binary records to the stream it wraps
// (unsigned big-endian integers of 1 to 8 bytes, byte strings prefixed with
// their 4-byte length) and counts the bytes written through it.
//
//   DataOutputStream data(&buffered);
//   data.writeUnsigned(size, 4);
//   data.writeString(name);
//
// Borrows the wrapped stream, which must outlive it. Adds no buffering.
#ifndef VANTOREL_IO_DATAOUTPUTSTREAM_H
#define VANTOREL_IO_DATAOUTPUTSTREAM_H

#include <cstdint>

#include "io/FilterOutputStream.h"
#include "lang/String.h"

class DataOutputStream : public FilterOutputStream {
 public:
  explicit DataOutputStream(OutputStream* out) : FilterOutputStream(out) {}

  // Passes the bytes on, then counts them (a write that raises is not
  // counted).
  void write(const void* buffer, uint32_t length) override;

  // The `width` low-order bytes of `value`, most significant first, in one
  // call of write(); higher bits are dropped.
  // REQUIRES: width <= 8.
  void writeUnsigned(uint64_t value, uint32_t width);

  // The text's length as 4 bytes, then its bytes, in two calls of write().
  void writeString(const String& text);

  // The bytes written through this stream since construction, modulo 2^32.
  uint32_t size() const { return written_; }

 private:
  // Counts every byte that write() passed on; wraps at 2^32.
  uint32_t written_ = 0;
};

#endif  // VANTOREL_IO_DATAOUTPUTSTREAM_H
