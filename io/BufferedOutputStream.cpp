#include "io/BufferedOutputStream.h"

#include <cstring>
#include <exception>

BufferedOutputStream::BufferedOutputStream(OutputStream* out)
    : FilterOutputStream(out), buffer_(new char[kBufferSize]), count_(0) {}

BufferedOutputStream::~BufferedOutputStream() noexcept(false) {
  char* buffer = buffer_;
  buffer_ = nullptr;
  try {
    if (count_ != 0) out_->write(buffer, count_);
  } catch (...) {
    delete[] buffer;
    if (std::uncaught_exceptions() == 0) throw;
    return;  // an error path is never turned into a second exception
  }
  delete[] buffer;
}

void BufferedOutputStream::writeBuffer() {
  uint32_t count = count_;
  count_ = 0;
  out_->write(buffer_, count);
}

void BufferedOutputStream::write(const void* buffer, uint32_t length) {
  const char* bytes = static_cast<const char*>(buffer);
  while (length != 0) {
    if (count_ == kBufferSize) writeBuffer();
    uint32_t k = kBufferSize - count_;
    if (k > length) k = length;
    memcpy(buffer_ + count_, bytes, k);
    count_ += k;
    bytes += k;
    length -= k;
  }
}

void BufferedOutputStream::flush() {
  writeBuffer();
  out_->flush();
}

void BufferedOutputStream::close() {
  writeBuffer();
  out_->close();
}
