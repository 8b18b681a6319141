#include "io/DataInputStream.h"

#include <algorithm>
#include <cassert>
#include <vector>

#include "io/ByteOrder.h"

namespace {

// The widest integer readUnsigned() handles: a 64-bit result.
constexpr uint32_t kMaxWidth = 8;
// The first piece of a string read before its length has been proved by the
// bytes themselves; later pieces double what has arrived.
constexpr uint32_t kStringFirstPiece = 64 * 1024;

}  // namespace

uint64_t DataInputStream::readUnsigned(uint32_t width) {
  assert(width <= kMaxWidth);
  unsigned char scratch[kMaxWidth];
  readFully(scratch, width);
  return loadBigEndian(scratch, width);
}

String DataInputStream::readString() {
  const uint32_t length = static_cast<uint32_t>(readUnsigned(4));
  std::vector<char> bytes;
  uint32_t done = 0;
  while (done < length) {
    uint32_t piece = std::min(length - done, std::max(done, kStringFirstPiece));
    bytes.resize(done + piece);
    readFully(bytes.data() + done, piece);
    done += piece;
  }
  return String(bytes.data(), length);
}
