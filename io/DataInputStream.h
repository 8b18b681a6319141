// DataInputStream reads the system's binary records from the stream it
// wraps: unsigned big-endian integers of 1 to 8 bytes and byte strings
// prefixed with their 4-byte length. It adds no buffering; put a
// BufferedInputStream below it when the source is slow per call.
//
//   DataInputStream data(&buffered);
//   uint32_t size = static_cast<uint32_t>(data.readUnsigned(4));
//   String name = data.readString();
//
// Borrows the wrapped stream, which must outlive it. A short input raises
// Exception "unexpected end of input"; the bytes consumed before it are lost.
#ifndef VANTOREL_IO_DATAINPUTSTREAM_H
#define VANTOREL_IO_DATAINPUTSTREAM_H

#include <cstdint>

#include "io/FilterInputStream.h"
#include "lang/String.h"

class DataInputStream : public FilterInputStream {
 public:
  explicit DataInputStream(InputStream* in) : FilterInputStream(in) {}

  // The unsigned value of the next `width` bytes, most significant first,
  // without sign extension.
  // REQUIRES: width <= 8.
  uint64_t readUnsigned(uint32_t width);

  // A 4-byte length L, then L bytes, as a String (any bytes, zeros included).
  // Memory grows with the bytes that actually arrive, so a corrupt length
  // ends in "unexpected end of input", not in a huge allocation.
  String readString();
};

#endif  // VANTOREL_IO_DATAINPUTSTREAM_H
