#include "archive/CipherOutputStream.h"

#include <algorithm>
#include <cstring>
#include <exception>

#include "lang/Exception.h"

namespace {

const char kFlushNotPossible[] = "CipherOutputStream::flush not possible";

}  // namespace

CipherOutputStream::~CipherOutputStream() noexcept(false) {
  if (fill_ == 0) return;
  try {
    writePadded();
  } catch (const Exception&) {
    // Dropped: whoever needs to know calls close().
  } catch (...) {
    if (std::uncaught_exceptions() == 0) throw;
  }
}

void CipherOutputStream::close() {
  if (fill_ > 0) writePadded();
  out_->close();
}

void CipherOutputStream::flush() { throw Exception(kFlushNotPossible); }

void CipherOutputStream::write(const void* buffer, uint32_t length) {
  if (length == 0) return;
  const unsigned char* bytes = static_cast<const unsigned char*>(buffer);
  if (fill_ > 0) {
    uint32_t take = std::min(length, CipherKey::kBlockSize - fill_);
    memcpy(pending_ + fill_, bytes, take);
    fill_ += take;
    bytes += take;
    length -= take;
    if (fill_ < CipherKey::kBlockSize) return;
    // Emptied first, so that a failing write is not repeated on close.
    fill_ = 0;
    writeBlock(pending_);
  }
  for (; length >= CipherKey::kBlockSize; length -= CipherKey::kBlockSize) {
    writeBlock(bytes);
    bytes += CipherKey::kBlockSize;
  }
  if (length > 0) {
    memcpy(pending_, bytes, length);
    fill_ = length;
  }
}

void CipherOutputStream::writeBlock(const unsigned char* block) {
  unsigned char scrambled[CipherKey::kBlockSize];
  key_.encipher(block, scrambled);
  out_->write(scrambled, CipherKey::kBlockSize);
}

void CipherOutputStream::writePadded() {
  memset(pending_ + fill_, 0, CipherKey::kBlockSize - fill_);
  fill_ = 0;
  writeBlock(pending_);
}
