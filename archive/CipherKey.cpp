#include "archive/CipherKey.h"

#include "BuildConstants.h"
#include "io/ByteOrder.h"

namespace {

// The TEA key schedule constant, 2^32 divided by the golden ratio.
constexpr uint32_t kDelta = 0x9E3779B9u;
// TEA's 32 cycles.
constexpr uint32_t kCycles = 32;
// The sum after the last cycle: kCycles * kDelta, wrapped.
constexpr uint32_t kFinalSum = kDelta * kCycles;
static_assert(kFinalSum == 0xC6EF3720u, "TEA runs 32 cycles");

}  // namespace

CipherKey::CipherKey() : k_{VANTOREL_KEY0, VANTOREL_KEY1, VANTOREL_KEY2, VANTOREL_KEY3} {}

void CipherKey::encipher(const void* in, void* out) const {
  const unsigned char* from = static_cast<const unsigned char*>(in);
  uint32_t v0 = loadLittleEndian32(from);
  uint32_t v1 = loadLittleEndian32(from + 4);
  uint32_t sum = 0;
  for (uint32_t cycle = 0; cycle < kCycles; ++cycle) {
    sum += kDelta;
    v0 += ((v1 << 4) + k_[0]) ^ (v1 + sum) ^ ((v1 >> 5) + k_[1]);
    v1 += ((v0 << 4) + k_[2]) ^ (v0 + sum) ^ ((v0 >> 5) + k_[3]);
  }
  unsigned char* to = static_cast<unsigned char*>(out);
  storeLittleEndian32(to, v0);
  storeLittleEndian32(to + 4, v1);
}

void CipherKey::decipher(const void* in, void* out) const { decipherBlocks(in, out, 1); }

void CipherKey::decipherBlocks(const void* in, void* out, uint32_t blocks) const {
  const unsigned char* from = static_cast<const unsigned char*>(in);
  unsigned char* to = static_cast<unsigned char*>(out);
  const uint32_t k0 = k_[0], k1 = k_[1], k2 = k_[2], k3 = k_[3];
  for (uint32_t block = 0; block < blocks; ++block) {
    uint32_t v0 = loadLittleEndian32(from);
    uint32_t v1 = loadLittleEndian32(from + 4);
    uint32_t sum = kFinalSum;
    for (uint32_t cycle = 0; cycle < kCycles; ++cycle) {
      v1 -= ((v0 << 4) + k2) ^ (v0 + sum) ^ ((v0 >> 5) + k3);
      v0 -= ((v1 << 4) + k0) ^ (v1 + sum) ^ ((v1 >> 5) + k1);
      sum -= kDelta;
    }
    storeLittleEndian32(to, v0);
    storeLittleEndian32(to + 4, v1);
    from += kBlockSize;
    to += kBlockSize;
  }
}
