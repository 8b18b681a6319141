#include "archive/CipherInputStream.h"

#include <algorithm>
#include <climits>
#include <cstring>

bool CipherInputStream::fill() {
  position_ = count_ = 0;
  uint32_t got = 0;
  do {
    int count = in_->read(plain_ + got, kChunkSize - got);
    if (count < 1) break;  // the end of the source
    got += static_cast<uint32_t>(count);
  } while (got % CipherKey::kBlockSize != 0);
  if (got == 0) return false;

  uint32_t blocks = (got + CipherKey::kBlockSize - 1) / CipherKey::kBlockSize;
  // A partial block exists only at the end of the source: complete it with
  // zeros rather than with whatever the buffer held before.
  memset(plain_ + got, 0, blocks * CipherKey::kBlockSize - got);
  key_.decipherBlocks(plain_, plain_, blocks);
  count_ = got;
  return true;
}

int CipherInputStream::read(void* buffer, uint32_t length) {
  if (length == 0) return position_ < count_ ? 0 : -1;
  unsigned char* out = static_cast<unsigned char*>(buffer);
  // The count delivered must fit the signed result.
  length = std::min(length, static_cast<uint32_t>(INT_MAX));
  uint32_t delivered = 0;
  while (true) {
    uint32_t take = std::min(count_ - position_, length - delivered);
    memcpy(out + delivered, plain_ + position_, take);
    position_ += take;
    delivered += take;
    if (delivered == length) return static_cast<int>(delivered);
    if (!fill()) return delivered == 0 ? -1 : static_cast<int>(delivered);
  }
}
