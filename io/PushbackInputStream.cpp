#include "io/PushbackInputStream.h"

#include <cstring>
#include <new>

PushbackInputStream::PushbackInputStream(InputStream* in)
    : FilterInputStream(in), pushedBack_(nullptr), capacity_(0), count_(0) {}

PushbackInputStream::~PushbackInputStream() { delete[] pushedBack_; }

int PushbackInputStream::read(void* buffer, uint32_t length) {
  char* bytes = static_cast<char*>(buffer);
  uint32_t taken = 0;
  while (count_ != 0 && taken < length) bytes[taken++] = pushedBack_[--count_];
  if (taken == length) return static_cast<int>(length);
  int result = in_->read(bytes + taken, length - taken);
  if (taken == 0) return result;
  return result > 0 ? static_cast<int>(taken) + result : static_cast<int>(taken);
}

void PushbackInputStream::unread(char byte) {
  if (count_ == capacity_) {
    uint64_t grown = capacity_ == 0 ? 16 : static_cast<uint64_t>(capacity_) * 2;
    if (grown > UINT32_MAX) throw std::bad_alloc();
    char* bigger = new char[grown];
    if (count_ != 0) memcpy(bigger, pushedBack_, count_);
    delete[] pushedBack_;
    pushedBack_ = bigger;
    capacity_ = static_cast<uint32_t>(grown);
  }
  pushedBack_[count_++] = byte;
}

void PushbackInputStream::unread(const void* bytes, uint32_t length) {
  const char* text = static_cast<const char*>(bytes);
  while (length != 0) unread(text[--length]);
}
