#include "io/BufferedInputStream.h"

#include <cstring>

BufferedInputStream::BufferedInputStream(InputStream* in)
    : FilterInputStream(in), buffer_(new char[kBufferSize]), count_(0), position_(0) {}

BufferedInputStream::~BufferedInputStream() { delete[] buffer_; }

int BufferedInputStream::read(void* buffer, uint32_t length) {
  if (count_ == 0) {
    int filled = in_->read(buffer_, kBufferSize);
    if (filled >= 1) {
      position_ = 0;
      count_ = static_cast<uint32_t>(filled);
    }
  }
  if (count_ == 0) return -1;
  uint32_t k = count_ < length ? count_ : length;
  memcpy(buffer, buffer_ + position_, k);
  position_ += k;
  count_ -= k;
  return static_cast<int>(k);
}
