#include "archive/CipherInputStream.h"

#include <algorithm>
#include <climits>
#include <cstring>

uint32_t CipherInputStream::readBlocks(unsigned char* to, uint32_t most) {
  uint32_t got = 0;
  do {
    int count = in_->read(to + got, most - got);
    if (count < 1) break;  // the end of the source
    got += static_cast<uint32_t>(count);
  } while (got % CipherKey::kBlockSize != 0);

  uint32_t whole = got / CipherKey::kBlockSize;
  key_.decipherBlocks(to, to, whole);
  uint32_t tail = got % CipherKey::kBlockSize;
  if (tail != 0) {
    // A partial block exists only at the end of the source: complete it with
    // zeros rather than with whatever the buffer held before.
    unsigned char block[CipherKey::kBlockSize] = {};
    memcpy(block, to + whole * CipherKey::kBlockSize, tail);
    key_.decipher(block, block);
    memcpy(to + whole * CipherKey::kBlockSize, block, tail);
  }
  return got;
}

bool CipherInputStream::fill() {
  position_ = 0;
  count_ = readBlocks(plain_, kChunkSize);
  return count_ != 0;
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
    uint32_t wanted = length - delivered;
    if (wanted >= kChunkSize) {
      // Straight into the caller's buffer: no copy through plain_.
      uint32_t got = readBlocks(out + delivered, wanted - wanted % CipherKey::kBlockSize);
      delivered += got;
      // The source ended (inside a block, or right here).
      if (got == 0 || got % CipherKey::kBlockSize != 0) {
        return delivered == 0 ? -1 : static_cast<int>(delivered);
      }
    } else if (!fill()) {
      return delivered == 0 ? -1 : static_cast<int>(delivered);
    }
  }
}
