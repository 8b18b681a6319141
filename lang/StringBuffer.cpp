#include "lang/StringBuffer.h"

#include <cstring>
#include <new>

namespace {

uint32_t roundedCapacity(uint32_t length) {
  // The smallest multiple of 16 above the length.
  uint64_t capacity = (static_cast<uint64_t>(length) + 16) & ~static_cast<uint64_t>(15);
  if (capacity > UINT32_MAX) throw std::bad_alloc();
  return static_cast<uint32_t>(capacity);
}

}  // namespace

StringBuffer::StringBuffer() : length_(0), capacity_(16), buffer_(new char[16]) {}

StringBuffer::StringBuffer(uint32_t capacity) : length_(0), capacity_(16), buffer_(nullptr) {
  if (capacity != 0) {
    uint64_t rounded = (static_cast<uint64_t>(capacity) + 15) & ~static_cast<uint64_t>(15);
    if (rounded > UINT32_MAX) throw std::bad_alloc();
    capacity_ = static_cast<uint32_t>(rounded);
  }
  buffer_ = new char[capacity_];
}

StringBuffer::StringBuffer(const char* text) : StringBuffer(String(text)) {}

StringBuffer::StringBuffer(const String& text)
    : length_(text.length()), capacity_(roundedCapacity(text.length())) {
  buffer_ = new char[capacity_];
  if (length_ != 0) memcpy(buffer_, text.data(), length_);
}

StringBuffer::~StringBuffer() { delete[] buffer_; }

void StringBuffer::ensure(uint64_t need) {
  if (need < capacity_) return;
  if (need >= UINT32_MAX) throw std::bad_alloc();
  uint64_t doubled = static_cast<uint64_t>(capacity_) * 2;
  uint32_t capacity = doubled > need && doubled <= UINT32_MAX
                          ? static_cast<uint32_t>(doubled)
                          : roundedCapacity(static_cast<uint32_t>(need));
  char* grown = new char[capacity];
  if (length_ != 0) memcpy(grown, buffer_, length_);
  delete[] buffer_;
  buffer_ = grown;
  capacity_ = capacity;
}

StringBuffer& StringBuffer::append(char byte) {
  ensure(static_cast<uint64_t>(length_) + 1);
  buffer_[length_++] = byte;
  return *this;
}

StringBuffer& StringBuffer::append(const char* bytes, uint32_t offset, uint32_t count) {
  if (count == 0) return *this;
  ensure(static_cast<uint64_t>(length_) + count);
  memmove(buffer_ + length_, bytes + offset, count);
  length_ += count;
  return *this;
}

StringBuffer& StringBuffer::append(const char* text) {
  if (text == nullptr) return *this;
  return append(text, 0, static_cast<uint32_t>(strlen(text)));
}

StringBuffer& StringBuffer::append(const Object& object) {
  String text = object.toString();
  return append(text.data(), 0, text.length());
}

StringBuffer& StringBuffer::insert(uint32_t index, const String& text) {
  uint32_t count = text.length();
  if (count == 0) return *this;
  ensure(static_cast<uint64_t>(length_) + count);
  memmove(buffer_ + index + count, buffer_ + index, length_ - index);
  memcpy(buffer_ + index, text.data(), count);
  length_ += count;
  return *this;
}

void StringBuffer::setLength(uint32_t length) {
  if (length > length_) {
    ensure(length);
    memset(buffer_ + length_, 0, length - length_);
  }
  length_ = length;
}

const char* StringBuffer::data() const {
  buffer_[length_] = 0;
  return buffer_;
}

String StringBuffer::toString() const {
  buffer_[length_] = 0;
  return String(buffer_, length_);
}
