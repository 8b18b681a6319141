// StringInputStream reads bytes held in memory, in place: a byte range or
// the text of a String.
//
//   String record = ...;
//   StringInputStream in(record);
//   DataInputStream data(&in);
//
// Neither constructor copies: the bytes (or the String) must outlive the
// stream, and a String read this way must not be assigned to meanwhile.
#ifndef VANTOREL_IO_STRINGINPUTSTREAM_H
#define VANTOREL_IO_STRINGINPUTSTREAM_H

#include <cstdint>

#include "io/InputStream.h"
#include "lang/String.h"

class StringInputStream : public InputStream {
 public:
  // Reads `length` bytes at `data`; a null pointer gives an empty stream.
  StringInputStream(const void* data, uint32_t length);
  // Reads the String's text where it lies (made zero-terminated first).
  explicit StringInputStream(const String& text);

  // Up to `length` bytes; -1 once every byte has been read, also for a
  // length of 0.
  int read(void* buffer, uint32_t length) override;

 private:
  // Borrowed; null only when length_ is 0.
  const unsigned char* data_;
  uint32_t length_;
  // The next byte to hand out; never beyond length_.
  uint32_t position_ = 0;
};

#endif  // VANTOREL_IO_STRINGINPUTSTREAM_H
