// StringBuffer builds text by appending and inserting bytes in a growable,
// owned array; toString() copies the bytes into a String, so Strings never
// point into a StringBuffer.
//
// The capacity always exceeds the length, so a terminating zero fits. Growth
// doubles the capacity, or, when doubling is not enough, takes the smallest
// multiple of 16 above the length needed.
#ifndef VANTOREL_LANG_STRINGBUFFER_H
#define VANTOREL_LANG_STRINGBUFFER_H

#include <cstdint>

#include "lang/Object.h"
#include "lang/String.h"

class StringBuffer : public Object {
 public:
  // Capacity 16.
  StringBuffer();
  // Capacity rounded up to a multiple of 16 (16 for 0).
  explicit StringBuffer(uint32_t capacity);
  // A copy of the text; capacity is the length rounded up to a multiple of
  // 16, or 16 more when the length is itself a multiple of 16.
  explicit StringBuffer(const char* text);
  explicit StringBuffer(const String& text);
  StringBuffer(const StringBuffer&) = delete;
  StringBuffer& operator=(const StringBuffer&) = delete;
  ~StringBuffer() override;

  StringBuffer& append(char byte);
  StringBuffer& append(const char* bytes, uint32_t offset, uint32_t count);
  // A null pointer appends nothing.
  StringBuffer& append(const char* text);
  // The bytes of the object's toString().
  StringBuffer& append(const Object& object);
  // REQUIRES: index <= length().
  StringBuffer& insert(uint32_t index, const String& text);
  // Grows with zero bytes or truncates.
  void setLength(uint32_t length);

  uint32_t length() const { return length_; }
  uint32_t capacity() const { return capacity_; }
  // The bytes held, zero-terminated.
  const char* data() const;

  // A String holding a copy of the bytes.
  String toString() const override;

 private:
  // Grows the array when `need` is at least the capacity.
  void ensure(uint64_t need);

  uint32_t length_;
  // Always greater than length_.
  uint32_t capacity_;
  // capacity_ bytes, owned.
  char* buffer_;
};

#endif  // VANTOREL_LANG_STRINGBUFFER_H
