#include "io/DataOutputStream.h"

#include <cassert>

#include "io/ByteOrder.h"

namespace {

// The widest integer writeUnsigned() handles: a 64-bit value.
constexpr uint32_t kMaxWidth = 8;

}  // namespace

void DataOutputStream::write(const void* buffer, uint32_t length) {
  out_->write(buffer, length);
  written_ += length;
}

void DataOutputStream::writeUnsigned(uint64_t value, uint32_t width) {
  assert(width <= kMaxWidth);
  unsigned char scratch[kMaxWidth];
  storeBigEndian(scratch, value, width);
  write(scratch, width);
}

void DataOutputStream::writeString(const String& text) {
  writeUnsigned(text.length(), 4);
  write(text.data(), text.length());
}
