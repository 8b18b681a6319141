#include "io/StringInputStream.h"

#include <algorithm>
#include <climits>
#include <cstring>

StringInputStream::StringInputStream(const void* data, uint32_t length)
    : data_(static_cast<const unsigned char*>(data)), length_(data == nullptr ? 0 : length) {}

StringInputStream::StringInputStream(const String& text)
    : data_(reinterpret_cast<const unsigned char*>(text.c_str())), length_(text.length()) {}

int StringInputStream::read(void* buffer, uint32_t length) {
  if (position_ == length_) return -1;
  // The result must fit the signed count.
  uint32_t count = std::min({length_ - position_, length, static_cast<uint32_t>(INT_MAX)});
  memcpy(buffer, data_ + position_, count);
  position_ += count;
  return static_cast<int>(count);
}
